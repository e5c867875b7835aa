#include "manager/access_state.h"

#include "manager/command_ids.h"
#include "manager/image_tree.h"

namespace ombrix::mng {
namespace {

constexpr int kRightInsertEject = 2;
constexpr int kRightDriveLetters = 4;
constexpr int kRightAdministration = 8;

const char* yesNo(bool value) {
    return value ? "yes" : "no";
}

// Missing, or there and writable: a file that does not exist yet may be created.
bool missingOrWritable(const AccessProbes& probes, const std::string& path) {
    return !probes.exists(path) || probes.writable(path);
}

// A switch among the settings: set unless empty or "0".
bool isOn(const std::string& value) {
    return !value.empty() && value[0] != '0';
}

bool existsAndWritable(const AccessProbes& probes, const std::string& path) {
    return probes.exists(path) && probes.writable(path);
}

}  // namespace

AccessState evaluateAccess(const AccessProbes& probes) {
    auto log = [&probes](const std::string& line) {
        if (probes.log) probes.log(1, line);
    };
    AccessState a;
    a.mayInsertEject = probes.hasRight(kRightInsertEject);
    a.mayChangeDrives = probes.hasRight(kRightDriveLetters);
    a.mayAdminister = probes.hasRight(kRightAdministration);
    const std::string disabledFeatures = probes.setting("OmxDisabledFeatures").substr(0, 10);
    a.htmlHomePage = !(disabledFeatures.size() >= 2 && disabledFeatures[1] == '1');
    a.adminMode = probes.adminMode();
    if (a.adminMode) log("... in Admin-Mode!");
    a.useLocalImages = probes.setting("OmxDisabelUseOfLoacalImages") != "1";

    a.canChangeLocalTree =
        a.useLocalImages && missingOrWritable(probes, localTreeFile(probes.userConfigFolder()));
    log(std::string("... can change local TreeDat: ") + yesNo(a.canChangeLocalTree));

    const std::string catalogue = probes.setting("OMXConfigFile");
    a.canChangeLocalCatalogue =
        !catalogue.empty() && a.useLocalImages && missingOrWritable(probes, catalogue);
    log(std::string("... can change local ImageDat: ") + yesNo(a.canChangeLocalCatalogue));

    const std::string configPath = probes.setting("OmxConfigPathNet");
    a.canAccessConfigPath = !configPath.empty() && probes.exists(configPath);
    log("... can access CFG-Path(" + configPath + "): " + yesNo(a.canAccessConfigPath));
    log(std::string("... can use local Images: ") + yesNo(a.useLocalImages));

    const std::optional<std::string> globalImages = probes.globalImageFile();
    a.useGlobalImages = globalImages && !globalImages->empty();
    log(std::string("... can use global Images: ") + yesNo(a.useGlobalImages));

    a.canChangeGlobalCatalogue =
        a.useGlobalImages && a.canAccessConfigPath && existsAndWritable(probes, *globalImages);
    const std::optional<std::string> globalTree = probes.globalTreeFile();
    a.canChangeGlobalTree =
        globalTree && a.canAccessConfigPath && existsAndWritable(probes, *globalTree);
    log("... can change global TreeDat(" + globalTree.value_or("") +
        "): " + yesNo(a.canChangeGlobalTree));
    log("... can change global ImageDat(" + globalImages.value_or("") +
        "): " + yesNo(a.canChangeGlobalCatalogue));

    const std::optional<std::string> adminFile = probes.adminFile();
    if (adminFile && !adminFile->empty() && a.canAccessConfigPath) {
        if (probes.exists(*adminFile)) {
            a.canChangeAdminFile = probes.writable(*adminFile);
        } else {
            a.canChangeAdminFile = probes.installed("OXTMode.exe");
            if (a.canChangeAdminFile) log("... no AdminDat but AdminTool: " + *adminFile);
        }
    }
    log("... can change AdminDat(" + adminFile.value_or("") + "): " + yesNo(a.canChangeAdminFile));
    a.haveCommandLineTool = probes.installed("OXTCmd.exe");
    return a;
}

std::vector<int> disabledCommands(const AccessState& a, const AccessProbes& probes) {
    using namespace command;
    std::vector<int> out;
    auto add = [&out](std::initializer_list<int> ids) { out.insert(out.end(), ids); };
    if (!a.mayAdminister) add({kAdministration});
    if (probes.setting("OmxMngSettings").starts_with('0')) add({kUpOneLevel, kNewFolder});
    if (!(a.useLocalImages && a.useGlobalImages &&
          isOn(probes.setting("OmxSplitOMXSIntoLocalAndNet")))) {
        add({kSeparatedView});
    }
    if (!a.anyTreeWritable()) add({kNewFolder, kRename});
    if (!a.anyCatalogueWritable()) add({kFind, kAdd, kCreate, kCreateFromDrive, kEditor, kEdit});
    if (!a.anythingWritable()) add({kDelete});
    if (!a.canChangeAdminFile) add({kNetworkMode});
    if (!a.mayInsertEject) add({kInsert, kEject});
    if (!a.mayChangeDrives) add({kChangeDrives});
    if (!a.mayAdminister) add({kNetworkMode});
    if (!probes.installed("OMXEdit.exe")) add({kEditor, kEdit});
    if (!probes.installed("OMXBuild.exe")) add({kCreate, kCreateFromDrive, kEditor, kEdit});
    if (!probes.installed("OXTSet.exe")) add({kSettings});
    if (!probes.installed("OXTDrive.exe")) add({kChangeDrives});
    if (!probes.installed("OXTMode.exe")) add({kNetworkMode});
    return out;
}

}  // namespace ombrix::mng
