#include "tools/drive_editor.h"

#include <filesystem>
#include <map>

#include "common/oxtcomm_admin.h"
#include "outside/help/oxthelp.h"
#include "platform/ascii.h"
#include "platform/object_manager.h"

namespace ombrix::tools {
namespace {

std::string letterSuffix(char letter) {
    return std::string(" (") + letter + ":)";
}

}  // namespace

std::string driveEditorText(int id) {
    static const std::map<int, const char*> texts = {
        {drivetext::kDrive, "Drive"},
        {drivetext::kNoHelper, "Error: The helper process is not running and cannot be started."},
        {drivetext::kSetting, "Setting virtual drives."},
        {drivetext::kListTip, "Tick the letters the virtual drives of this session use."},
        {drivetext::kSetTip, "Gives the virtual drives the ticked letters."},
        {drivetext::kRefreshTip, "Reads the drive letters again."},
        {drivetext::kCancelTip, "Closes the drive editor without changing anything."},
        {drivetext::kSetFailed, "Setting drive letters failed"},
        {drivetext::kStatus, "Status"},
        {drivetext::kAvailable, "Available"},
        {drivetext::kInUse, "In use"},
        {drivetext::kVirtualDrive, "Virtual drive"},
    };
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

DriveProbes systemDriveProbes(uint32_t session) {
    DriveProbes probes;
    probes.type = [session](char letter) { return platform::driveType(letter, session); };
    probes.cdLabel = [session](char letter) { return platform::volumeLabel(letter, session); };
    probes.displayName = [session](char letter) -> std::string {
        const platform::DriveType type = platform::driveType(letter, session);
        if (type == platform::kDriveCdRom) return "CD Drive" + letterSuffix(letter);
        if (type != platform::kDriveFixed) return {};
        // A letter of a folder is named by the folder.
        std::string target;
        if (objmgr::queryDosDevice(std::string(1, letter) + ":", target, session) != 0) return {};
        const std::string name = std::filesystem::path(target).filename().string();
        return (name.empty() ? std::string("Local Disk") : name) + letterSuffix(letter);
    };
    return probes;
}

std::vector<DriveRow> driveRows(const std::string& virtualLetters, const DriveProbes& probes) {
    const std::string current = ascii::toUpper(virtualLetters);
    std::vector<DriveRow> rows;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        DriveRow row;
        row.letter = letter;
        const platform::DriveType type =
            probes.type ? probes.type(letter) : platform::kDriveNoRootDir;
        if (type == platform::kDriveNoRootDir) {
            row.state = DriveState::Available;
            row.checkable = true;
        } else {
            row.state = DriveState::InUse;
            const std::string label =
                type == platform::kDriveCdRom && probes.cdLabel ? probes.cdLabel(letter) : "";
            if (!label.empty())
                row.display = label + letterSuffix(letter);
            else if (probes.displayName)
                row.display = probes.displayName(letter);
        }
        // A and B stand for floppy drives, whatever they are here.
        if (letter < 'C') {
            row.state = DriveState::InUse;
            row.checkable = false;
        }
        if (current.find(letter) != std::string::npos) {
            row.state = DriveState::Virtual;
            row.checked = true;
            row.checkable = true;
        }
        if (row.display.empty()) row.display = letterSuffix(letter);
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string checkedLetters(const std::vector<DriveRow>& rows) {
    std::string letters;
    for (const DriveRow& row : rows) {
        if (row.checked) letters += row.letter;
    }
    return letters;
}

bool setDrivesEnabled(const std::vector<DriveRow>& rows, const std::string& current) {
    return checkedLetters(rows) != ascii::toUpper(current);
}

bool resetEnabled(const std::string& current, const std::string& standard) {
    const std::string now = ascii::toUpper(current);
    const std::string wanted = ascii::toUpper(standard);
    if (now.size() != wanted.size()) return true;
    for (char letter : wanted) {
        if (now.find(letter) == std::string::npos) return true;
    }
    return false;
}

DriveLetterPorts systemDriveLetterPorts() {
    DriveLetterPorts ports;
    ports.current = [] {
        char letters[30] = {};
        OMXGetOMXDriveLetters(letters, sizeof letters);
        return ascii::toUpper(letters);
    };
    ports.standard = [] {
        char letters[29] = {};
        OMXTSGetStdDriveLetters(0, 0, 0, letters, sizeof letters);
        return ascii::toUpper(letters);
    };
    ports.set = [](const std::string& letters, bool allSessions) {
        return OMXTSSetDriveLetters(letters.c_str(), allSessions ? 1 : 0) != 0;
    };
    return ports;
}

}  // namespace ombrix::tools
