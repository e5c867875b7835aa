#include "session_drives.h"

#include "drive_folder.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "oxtenv.h"
#include "oxtlog.h"
#include "platform/ascii.h"
#include "platform/object_manager.h"
#include "session_service.h"

namespace ombrix::helper {

namespace fs = std::filesystem;
namespace objmgr = ombrix::objmgr;

namespace {

constexpr const char* kDevicePrefix = "\\Device\\CdRom";
constexpr const char* kDefaultLetters = "EFG";

std::string linkName(char letter) {
    return std::string(1, letter) + ":";
}

int deviceNumber(const std::string& deviceName) {
    std::string_view prefix(kDevicePrefix);
    if (deviceName.size() <= prefix.size() ||
        !ombrix::ascii::startsWithIgnoreCase(deviceName, prefix)) {
        return -1;
    }
    int number = 0;
    for (char c : deviceName.substr(prefix.size())) {
        if (c < '0' || c > '9' || number > 100000) return -1;
        number = number * 10 + (c - '0');
    }
    return number;
}

bool linkTo(uint32_t session, char letter, const std::string& deviceName) {
    int error =
        objmgr::defineDosDevice(objmgr::kRawTargetPath, linkName(letter), deviceName, session);
    if (error != 0)
        OXTLog(3, "Linking %c: to %s failed, error %d", letter, deviceName.c_str(), error);
    return error == 0;
}

void unlink(uint32_t session, char letter) {
    objmgr::defineDosDevice(objmgr::kRemoveDefinition, linkName(letter), "", session);
}

// The empty device the service published at its start.
std::string publishedEmptyDevice() {
    char device[64] = "";
    EnvGetGlobalValue("OXTEmptyDevice", device, sizeof device);
    return device;
}

// The service's empty device, or empty when it has none or cannot be asked.
std::string emptyDevice(uint32_t session) {
    if (std::string published = publishedEmptyDevice(); deviceNumber(published) >= 0) {
        return published;
    }
    CMountRequest record = sessionRecord(CMountRequest::kEmptyDevice, session);
    if (!callService(record) || record.m_request != CMountRequest::kEmptyDevice) return "";
    return std::string(record.text());
}

void linkToEmptyDevice(uint32_t session, char letter) {
    std::string device = emptyDevice(session);
    if (device.empty()) {
        unlink(session, letter);
    } else {
        linkTo(session, letter, device);
    }
}

// True when `session` is one of the unit's users.
bool sessionUsesUnit(uint32_t session, int unit) {
    for (uint32_t start = 0;;) {
        CMountRequest record = sessionRecord(CMountRequest::kUnitUsers, start);
        record.m_dwData = static_cast<uint32_t>(unit);
        if (!callService(record) || record.m_request != CMountRequest::kUnitUsers) return false;
        for (uint32_t i = 0; i < record.m_dwData; ++i) {
            if (record.listEntry(static_cast<int>(i)) == session) return true;
        }
        if (record.m_dwData < CMountRequest::kMaxListEntries) return false;
        start += record.m_dwData;
    }
}

void refreshUserDriveFolder(uint32_t session, const std::string& letters) {
    fs::path folder = userDriveFolder();
    if (folder.empty()) return;
    std::error_code error;
    fs::create_directories(folder, error);
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.size() == 1 && entry.is_symlink(error) &&
            letters.find(name[0]) == std::string::npos) {
            fs::remove(entry.path(), error);
        }
    }
    for (char letter : letters) {
        fs::path link = folder / std::string(1, letter);
        fs::path target = objmgr::dosDevicesFolder(session) / linkName(letter);
        if (fs::is_symlink(link, error) && fs::read_symlink(link, error) == target) continue;
        fs::remove(link, error);
        fs::create_directory_symlink(target, link, error);
        if (error) OXTLog(3, "Cannot link %s: %s", link.c_str(), error.message().c_str());
    }
}

}  // namespace

std::string normaliseDriveLetters(const std::string& letters) {
    std::string result;
    for (char c : ombrix::ascii::toUpper(letters)) {
        if (c < 'A' || c > 'Z' || result.find(c) != std::string::npos) return "";
        result += c;
    }
    return result;
}

std::string standardDriveLetters() {
    char letters[32] = "";
    if (EnvGetGlobalValue("OmxStdDriveLetters", letters, sizeof letters)) {
        std::string chosen = normaliseDriveLetters(letters);
        if (!chosen.empty()) return chosen;
    }
    return kDefaultLetters;
}

std::string sessionDriveLetters() {
    char letters[32] = "";
    if (EnvGetUserValue("OmxDriveLetters", letters, sizeof letters)) {
        std::string chosen = normaliseDriveLetters(letters);
        if (!chosen.empty()) return chosen;
    }
    return standardDriveLetters();
}

int unitOfLetter(uint32_t session, char letter) {
    std::string target;
    if (objmgr::queryDosDevice(linkName(letter), target, session) != 0) return -1;
    return deviceNumber(target);
}

bool mountedFile(uint32_t session, char letter, std::string& imagePath) {
    imagePath.clear();
    std::string target;
    if (objmgr::queryDosDevice(linkName(letter), target, session) != 0) return true;
    int unit = deviceNumber(target);
    // The empty device never holds an image: no need to ask the service.
    if (unit < 0 || ombrix::ascii::equalsIgnoreCase(target, publishedEmptyDevice())) return true;
    CMountRequest record = sessionRecord(CMountRequest::kUnitInfo, session);
    record.m_dwData = static_cast<uint32_t>(unit);
    if (!callService(record)) return false;
    if (record.m_request != CMountRequest::kUnitInfo) return true;  // the unit is gone
    std::string path(record.text());
    // A link left from before a log-off or a restart of the service names a unit this session
    // no longer uses: the drive is empty for the session.
    if (!path.empty() && sessionUsesUnit(session, unit)) imagePath = path;
    return true;
}

int dismountDrive(uint32_t session, char letter) {
    std::string target;
    objmgr::queryDosDevice(linkName(letter), target, session);
    int unit = deviceNumber(target);
    if (unit >= 0 && ombrix::ascii::equalsIgnoreCase(target, publishedEmptyDevice())) return kOk;
    if (unit >= 0) {
        std::string image;
        if (!mountedFile(session, letter, image)) return kCommunicationFailed;
        if (!image.empty()) {
            CMountRequest record = sessionRecord(CMountRequest::kEject, session);
            record.m_dwData = static_cast<uint32_t>(unit);
            record.setText(linkName(letter));
            if (!callService(record)) return kCommunicationFailed;
            if (int code = resultOfReply(record, CMountRequest::kEject)) return code;
            return linkTo(session, letter, std::string(record.text())) ? kOk : kInvalidDevice;
        }
    }
    linkToEmptyDevice(session, letter);
    return kOk;
}

int mountToDrive(uint32_t session, char letter, const std::string& imagePath,
                 const std::string& password) {
    if (imagePath.empty()) return kEmptyPath;
    // A path the record cannot carry whole is refused, never cut: its first 259 characters may
    // name another image.
    if (imagePath.size() >= CMountRequest::kTextSize) return kInvalidArgument;
    if (sessionDriveLetters().find(letter) == std::string::npos) return kInvalidDrive;
    // The drive's previous image leaves first, so the session never holds a unit it cannot reach.
    if (int code = dismountDrive(session, letter)) return code;

    CMountRequest record = sessionRecord(CMountRequest::kInsert, session);
    record.setText(imagePath);
    record.setPassword(password);
    CMountRequest sent(record);
    if (!callService(record)) return kCommunicationFailed;
    if (record.m_request == CMountRequest::kNotLoggedOn && logOnSession(session)) {
        record = sent;
        if (!callService(record)) return kCommunicationFailed;
    }
    if (int code = resultOfReply(record, CMountRequest::kInsert)) return code;

    std::string device(record.text());
    if (deviceNumber(device) < 0 || !linkTo(session, letter, device)) {
        // Without its link the session could not reach the unit: give it back.
        if (int unit = deviceNumber(device); unit >= 0) {
            CMountRequest undo = sessionRecord(CMountRequest::kEject, session);
            undo.m_dwData = static_cast<uint32_t>(unit);
            callService(undo);
        }
        return kInvalidDevice;
    }
    CMountRequest security = sessionRecord(CMountRequest::kLinkSecurity, session);
    security.setText(linkName(letter));
    callService(security);
    return kOk;
}

void prepareDrives(uint32_t session) {
    std::string letters = sessionDriveLetters();
    for (char letter : letters) {
        std::string image;
        if (mountedFile(session, letter, image) && image.empty())
            linkToEmptyDevice(session, letter);
    }
    refreshUserDriveFolder(session, letters);
}

int setDriveLetters(uint32_t session, const std::string& letters, bool allSessions) {
    std::string chosen = normaliseDriveLetters(letters);
    if (chosen.empty()) return kInvalidDrive;
    for (char letter : sessionDriveLetters()) {
        if (chosen.find(letter) != std::string::npos) continue;
        if (int code = dismountDrive(session, letter)) return code;
        unlink(session, letter);
    }
    if (!EnvSetUserValue("OmxDriveLetters", chosen.c_str())) return kCommunicationFailed;
    if (allSessions && !EnvSetGlobalValue("OmxStdDriveLetters", chosen.c_str())) {
        return kCommunicationFailed;
    }
    prepareDrives(session);
    return kOk;
}

std::vector<DriveInUse> drivesInUse(uint32_t session) {
    std::vector<DriveInUse> drives;
    for (char letter : sessionDriveLetters()) {
        std::string image;
        if (mountedFile(session, letter, image) && !image.empty()) {
            drives.push_back({letter, unitOfLetter(session, letter)});
        }
    }
    return drives;
}

}  // namespace ombrix::helper
