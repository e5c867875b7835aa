#include "manager/access_state.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "manager/command_ids.h"

namespace {

using namespace ombrix::mng;
namespace cmd = ombrix::mng::command;

// A user's situation as tables: rights, settings, files and the installation's programs.
struct Situation {
    std::set<int> rights{2, 4, 8};
    std::map<std::string, std::string, std::less<>> settings{
        {"OMXConfigFile", "/home/u/.config/ombrix/OMXimg.dat"},
        {"OmxConfigPathNet", "/srv/pool"},
        {"OmxSplitOMXSIntoLocalAndNet", "1"}};
    std::set<std::string> files{"/srv/pool", "/srv/pool/OMXimgNet.dat", "/srv/pool/OMXTree.dat",
                                "/srv/pool/OMXAdm.dat"};
    std::set<std::string> writable{"/srv/pool/OMXimgNet.dat", "/srv/pool/OMXTree.dat",
                                   "/srv/pool/OMXAdm.dat"};
    std::set<std::string, std::less<>> programs{"OXTCmd.exe", "OMXEdit.exe",  "OMXBuild.exe",
                                                "OXTSet.exe", "OXTDrive.exe", "OXTMode.exe",
                                                "OXTADM.exe"};
    std::optional<std::string> globalImages = "/srv/pool/OMXimgNet.dat";
    std::optional<std::string> globalTree = "/srv/pool/OMXTree.dat";
    std::optional<std::string> adminFile = "/srv/pool/OMXAdm.dat";
    bool admin = false;
    std::vector<std::string> log;

    AccessProbes probes() {
        AccessProbes p;
        p.hasRight = [this](int right) { return rights.contains(right); };
        p.adminMode = [this] { return admin; };
        p.setting = [this](std::string_view key) {
            auto it = settings.find(key);
            return it == settings.end() ? std::string() : it->second;
        };
        p.userConfigFolder = [] { return std::string("/home/u/.config/ombrix"); };
        p.globalImageFile = [this] { return globalImages; };
        p.globalTreeFile = [this] { return globalTree; };
        p.adminFile = [this] { return adminFile; };
        p.exists = [this](const std::string& path) { return files.contains(path); };
        p.writable = [this](const std::string& path) {
            return files.contains(path) && writable.contains(path);
        };
        p.installed = [this](std::string_view name) { return programs.contains(name); };
        p.log = [this](int, const std::string& line) { log.push_back(line); };
        return p;
    }

    AccessState access() { return evaluateAccess(probes()); }
    std::vector<int> disabled() { return disabledCommands(access(), probes()); }
};

bool has(const std::vector<int>& ids, int id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

TEST(AccessState, EverythingAllowedDisablesNothing) {
    Situation s;
    const AccessState a = s.access();
    EXPECT_TRUE(a.mayInsertEject && a.mayChangeDrives && a.mayAdminister && a.htmlHomePage);
    EXPECT_TRUE(a.useLocalImages && a.canChangeLocalTree && a.canChangeLocalCatalogue);
    EXPECT_TRUE(a.canAccessConfigPath && a.useGlobalImages && a.canChangeGlobalCatalogue);
    EXPECT_TRUE(a.canChangeGlobalTree && a.canChangeAdminFile && a.haveCommandLineTool);
    EXPECT_TRUE(s.disabled().empty());
    // Each file's verdict is logged, in the order it is evaluated.
    EXPECT_NE(std::find(s.log.begin(), s.log.end(), "... can change local TreeDat: yes"),
              s.log.end());
    EXPECT_NE(
        std::find(s.log.begin(), s.log.end(), "... can change AdminDat(/srv/pool/OMXAdm.dat): yes"),
        s.log.end());
}

TEST(AccessState, RightsRemoveTheirCommands) {
    Situation s;
    s.rights = {};
    const auto off = s.disabled();
    for (int id :
         {cmd::kAdministration, cmd::kNetworkMode, cmd::kInsert, cmd::kEject, cmd::kChangeDrives}) {
        EXPECT_TRUE(has(off, id)) << id;
    }
    EXPECT_FALSE(has(off, cmd::kAdd));  // the catalogues are still writable
    s.rights = {2, 4};
    EXPECT_TRUE(has(s.disabled(), cmd::kAdministration));
    EXPECT_TRUE(has(s.disabled(), cmd::kNetworkMode));
    EXPECT_FALSE(has(s.disabled(), cmd::kInsert));
}

TEST(AccessState, FilesDecideWhatMayBeChanged) {
    Situation s;
    // A local tree file that exists read-only; no own catalogue named.
    s.files.insert("/home/u/.config/ombrix/OMXTree.dat");
    s.settings.erase("OMXConfigFile");
    s.writable.clear();
    AccessState a = s.access();
    EXPECT_FALSE(a.canChangeLocalTree);
    EXPECT_FALSE(a.canChangeLocalCatalogue);
    EXPECT_FALSE(a.canChangeGlobalCatalogue);
    EXPECT_FALSE(a.canChangeGlobalTree);
    EXPECT_FALSE(a.canChangeAdminFile);  // there, not writable
    auto off = s.disabled();
    for (int id :
         {cmd::kNewFolder, cmd::kRename, cmd::kFind, cmd::kAdd, cmd::kCreate, cmd::kCreateFromDrive,
          cmd::kEditor, cmd::kEdit, cmd::kDelete, cmd::kNetworkMode}) {
        EXPECT_TRUE(has(off, id)) << id;
    }

    // Without the shared folder nothing global can be changed, whatever the files say.
    Situation n;
    n.files.erase("/srv/pool");
    a = n.access();
    EXPECT_FALSE(a.canAccessConfigPath);
    EXPECT_TRUE(a.useGlobalImages);
    EXPECT_FALSE(a.canChangeGlobalCatalogue || a.canChangeGlobalTree || a.canChangeAdminFile);
    EXPECT_FALSE(has(n.disabled(), cmd::kDelete));  // the local files still are

    // A missing administration file may be made by the network-mode program, if installed.
    Situation m;
    m.files.erase("/srv/pool/OMXAdm.dat");
    EXPECT_TRUE(m.access().canChangeAdminFile);
    EXPECT_NE(std::find(m.log.begin(), m.log.end(),
                        "... no AdminDat but AdminTool: /srv/pool/OMXAdm.dat"),
              m.log.end());
    m.programs.erase("OXTMode.exe");
    EXPECT_FALSE(m.access().canChangeAdminFile);

    // Local images switched off: neither local file counts.
    Situation l;
    l.settings["OmxDisabelUseOfLoacalImages"] = "1";
    a = l.access();
    EXPECT_FALSE(a.useLocalImages || a.canChangeLocalTree || a.canChangeLocalCatalogue);
    EXPECT_TRUE(has(l.disabled(), cmd::kSeparatedView));
}

TEST(AccessState, SettingsSwitchFeaturesOff) {
    Situation s;
    s.settings["OmxDisabledFeatures"] = "0";
    EXPECT_TRUE(s.access().htmlHomePage);  // one character changes nothing
    s.settings["OmxDisabledFeatures"] = "01";
    EXPECT_FALSE(s.access().htmlHomePage);
    s.settings["OmxMngSettings"] = "0111";
    EXPECT_TRUE(has(s.disabled(), cmd::kUpOneLevel));
    EXPECT_TRUE(has(s.disabled(), cmd::kNewFolder));
    s.settings["OmxSplitOMXSIntoLocalAndNet"] = "0";
    EXPECT_TRUE(has(s.disabled(), cmd::kSeparatedView));
    s.globalImages.reset();
    s.settings["OmxSplitOMXSIntoLocalAndNet"] = "1";
    EXPECT_TRUE(has(s.disabled(), cmd::kSeparatedView));
}

TEST(AccessState, MissingProgramsRemoveTheirCommands) {
    Situation s;
    s.programs = {"OXTCmd.exe"};
    const auto off = s.disabled();
    for (int id : {cmd::kEditor, cmd::kEdit, cmd::kCreate, cmd::kCreateFromDrive, cmd::kSettings,
                   cmd::kChangeDrives, cmd::kNetworkMode}) {
        EXPECT_TRUE(has(off, id)) << id;
    }
    EXPECT_FALSE(has(off, cmd::kAdd));
    s.programs.clear();
    EXPECT_FALSE(s.access().haveCommandLineTool);
}

}  // namespace
