// Administration mode: one administrator at a time enters it through the administration file
// "Oxtadm.dat"; the drives they had then are locked for the users bound by the drive lock.
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/inifile.h"
#include "common/md5_digest.h"
#include "common/oxtcomm_admin.h"
#include "common/password_prompt.h"
#include "common/string_table.h"
#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/host_name.h"

namespace strings = ombrix::strings;

namespace {

constexpr const char* kSettings = "AdminSetting";
constexpr const char* kDrives = "AdminDrives";
constexpr size_t kDigestLength = 32;
constexpr int kRightDriveLock = 16;

std::string adminFile() {
    char path[4096];
    return OMXGetAdminFileName(path, sizeof path) ? path : "";
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int refuse(int textId) {
    OMXReportError(textId);
    return 0;
}

std::string sessionDriveLetters() {
    char letters[64] = "";
    OMXGetOMXDriveLetters(letters, sizeof letters);
    return letters;
}

}  // namespace

OMX_EXPORT int OMXGetAdminMode(void) {
    char value[32];
    if (!EnvGetGlobalValue("OmxAdminMode", value, sizeof value) || std::atoi(value) != 1) return 0;
    if (!EnvGetUserValue("OmxAdminMode", value, sizeof value)) return 2;
    int state = std::atoi(value);
    return state == 1 || state == 2 ? state : 0;
}

OMX_EXPORT int OMXEnterAdmin(void) {
    std::string path = adminFile();
    if (!fileExists(path)) return refuse(strings::kAdminFileNotFound);
    // Read, ask, then lock: nobody waits on the file while the password dialog is open.
    std::string mode, digest;
    {
        CIniFile reading(path);
        if (reading.OpenAndLoad(false, CIniFile::kAttempts) != 0)
            return refuse(strings::kAdminFileReadError);
        if (!reading.GetValue(kSettings, "AdminMode", mode))
            return refuse(strings::kAdminFileReadError);
        if (!mode.empty() && mode.front() != '0') return 0;  // another administrator is in
        if (!reading.GetValue(kSettings, "AdminPWD", digest))
            return refuse(strings::kAdminFileReadError);
    }
    if (digest.size() != kDigestLength) return refuse(strings::kAdminFilePasswordInvalid);
    if (!ombrix::askForPassword(strings::textOr(strings::kAdministrationMode), digest, true)) {
        return 0;
    }
    CIniFile file(path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0)
        return refuse(strings::kAdminFileReadError);
    // The file may have changed while the password was asked: another administrator may have
    // come in, or the password changed.
    std::string modeNow, digestNow;
    if (!file.GetValue(kSettings, "AdminMode", modeNow) ||
        !file.GetValue(kSettings, "AdminPWD", digestNow)) {
        return refuse(strings::kAdminFileReadError);
    }
    if (!modeNow.empty() && modeNow.front() != '0') return 0;
    if (digestNow != digest) return refuse(strings::kAdminFilePasswordInvalid);
    if (!file.SetValue(kSettings, "AdminMode", "1") ||
        !file.SetValue(kSettings, "OmxAdminMachine", ombrix::platform::hostName())) {
        return refuse(strings::kAdminFileWriteError);
    }
    file.RemoveSection(kDrives);
    std::string letters = sessionDriveLetters();
    for (char letter : letters) {
        std::string key = std::string("OMX_Drive_") + letter;
        char image[4096] = "";
        EnvGetUserValue(key.c_str(), image, sizeof image);
        if (!file.SetValue(kDrives, key, std::string(image))) {
            return refuse(strings::kAdminFileWriteError);
        }
    }
    if (file.Save() != 0) return refuse(strings::kAdminFileWriteError);
    file.Close();
    EnvSetUserValue("OmxAdminMode", "1");
    EnvSetGlobalValue("OmxAdminDrives", letters.c_str());
    OMXTSReReadAdmFile();
    return 1;
}

OMX_EXPORT int OMXLeaveAdmin(void) {
    if (OMXGetAdminMode() != 1) return 0;
    std::string path = adminFile();
    if (!fileExists(path)) return refuse(strings::kAdminFileNotFound);
    CIniFile file(path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) {
        return refuse(strings::kAdminFileWriteError);
    }
    if (!file.SetValue(kSettings, "AdminMode", "0") ||
        !file.SetValue(kSettings, "OmxAdminMachine", std::string()) || file.Save() != 0) {
        return refuse(strings::kAdminFileWriteError);
    }
    file.Close();
    EnvSetUserValue("OmxAdminMode", "");
    OMXTSReReadAdmFile();
    return 1;
}

OMX_EXPORT int OMXSetAdminPWD(const char* oldPassword, const char* newPassword) {
    if (oldPassword == nullptr || newPassword == nullptr) {
        return refuse(strings::kPasswordIsInvalid);
    }
    char folder[4096];
    if (!EnvGetGlobalValue("OmxAdmPathNet", folder, sizeof folder)) {
        return refuse(strings::kAdminFileNotFound);
    }
    std::string path = adminFile();
    CIniFile file(path);
    bool created = !fileExists(path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0)
        return refuse(strings::kAdminFileReadError);
    if (created) {
        file.SetValue(kSettings, "AdminPWD", ombrix::md5Hex("").value_or(""));
        file.SetValue(kSettings, "AdminMode", "0");
    }
    std::string stored;
    if (!file.GetValue(kSettings, "AdminPWD", stored)) return refuse(strings::kAdminFileReadError);
    if (stored.size() != kDigestLength) return refuse(strings::kAdminFilePasswordInvalid);
    auto oldDigest = ombrix::md5Hex(oldPassword);
    auto newDigest = ombrix::md5Hex(newPassword);
    if (!oldDigest || !newDigest) return refuse(strings::kInternalError);
    if (*oldDigest != stored) {
        // A file made just now keeps its defaults even when the password is refused.
        if (created) file.Save();
        return refuse(strings::kPasswordIsInvalid);
    }
    if (!file.SetValue(kSettings, "AdminPWD", *newDigest) || file.Save() != 0) {
        return refuse(strings::kAdminFileWriteError);
    }
    return 1;
}

OMX_EXPORT int OMXGetAdminDriveLetters(char* buffer, int size) {
    if (buffer == nullptr || size <= 0) return 0;
    char letters[64] = "";
    EnvGetGlobalValue("OmxAdminDrives", letters, sizeof letters);
    return ombrix::ascii::copyToBuffer(ombrix::ascii::toUpper(letters), buffer, size);
}

OMX_EXPORT int OMXGetAdminComputer(char* buffer, int size) {
    std::string path = adminFile();
    if (path.empty()) return 0;
    CIniFile file(path);
    if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) return 0;
    file.Close();
    std::string machine;
    if (!file.GetValue(kSettings, "OmxAdminMachine", machine)) return 0;
    return ombrix::ascii::copyToBuffer(machine, buffer, size);
}

OMX_EXPORT int OMXGetOMXDriveLetters(char* buffer, int size) {
    return OMXTSGetOMXDriveLetters(buffer, size);
}

OMX_EXPORT int OMXAdminDriveLockCode(char letter) {
    constexpr int kDriveLocked = 21;
    if (letter == '\0' || OMXGetAdminMode() != 2 || !OMXTSHasRight(kRightDriveLock)) return 0;
    char locked[64] = "";
    OMXGetAdminDriveLetters(locked, sizeof locked);
    return std::strchr(locked, ombrix::ascii::upper(letter)) != nullptr ? kDriveLocked : 0;
}
