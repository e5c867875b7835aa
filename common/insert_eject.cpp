// Insert and eject for the calling session: the checks in their order, the session's record of
// its drives, the administrator's mirror of it, and the notifications.
#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/broadcast.h"
#include "common/debug_trace.h"
#include "common/image_header.h"
#include "common/inifile.h"
#include "common/names.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "common/password_prompt.h"
#include "common/session_record.h"
#include "common/unc_path.h"
#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/export.h"
#include "platform/shell_notify.h"

namespace {

constexpr int kRightInsertEject = 2;
constexpr int kCodeDriveLocked = 21;
constexpr int kCodeNoRight = 600;
constexpr int kCodeUnreadable = 5;
constexpr int kCodeEmptyPath = 18;
constexpr int kCodeWrongPassword = 8;
constexpr int kCodeInvalidIndex = 515;
constexpr int kMountedFileBuffer = 310;

char upper(char letter) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
}

std::string driveString(char letter) {
    return std::string(1, upper(letter)) + ":";
}

std::string driveKey(char letter) {
    return std::string("OMX_Drive_") + letter;
}

// While this session administers, the administration file mirrors its drives.
void mirrorToAdminFile(char letter, const std::string& imagePath) {
    if (OMXGetAdminMode() != 1) return;
    char path[4096];
    if (!OMXGetAdminFileName(path, sizeof path)) return;
    CIniFile file(path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return;
    if (file.SetValue("AdminDrives", driveKey(letter), imagePath)) file.Save();
    file.Close();
    OMXTSReReadAdmFile();
}

std::string fileNamePart(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

}  // namespace

namespace ombrix::drives {

std::string recordedImage(char letter) {
    char image[4096] = "";
    EnvGetUserValue(driveKey(letter).c_str(), image, sizeof image);
    return image;
}

void recordImage(char letter, const std::string& imagePath) {
    EnvSetUserValue(driveKey(letter).c_str(), imagePath.c_str());
}

int internalEject(char letter, bool forced) {
    debugTrace("Entering OMXEject_int()");
    if (!forced && !OMXTSHasRight(kRightInsertEject)) return kCodeNoRight;
    if (int code = OMXTSDisMountDrive(driveString(letter).c_str())) return code;
    recordImage(letter, "");
    broadcastMessage(ombrix::names::kMsgEject, letter);
    platform::notifyMediaChange(false, letter);
    mirrorToAdminFile(letter, "");
    return 0;
}

int internalInsert(char letter, const char* imagePath, const char* password) {
    debugTrace("Entering OMXInsert_int()");
    if (imagePath == nullptr || imagePath[0] == '\0') return kCodeEmptyPath;
    std::string path = toUncForm(imagePath);

    char mounted[kMountedFileBuffer] = "";
    if (OMXTSGetMountedFileFromDrive(upper(letter), mounted, sizeof mounted) &&
        mounted[0] != '\0') {
        if (int code = internalEject(letter, false)) return code;
    }
    char elsewhere = OMXGetMountDrive(path.c_str());
    if (elsewhere != 0 && upper(elsewhere) != upper(letter)) {
        if (int code = internalEject(elsewhere, false)) return code;
    }
    if (int code = OMXTSMountToDrive(driveString(letter).c_str(), path.c_str(),
                                     password != nullptr ? password : "")) {
        return code;
    }
    recordImage(letter, path);
    mirrorToAdminFile(letter, path);
    platform::notifyMediaChange(true, letter);
    broadcastMessage(ombrix::names::kMsgInsert, upper(letter));
    return 0;
}

}  // namespace ombrix::drives

OMX_EXPORT int OMXInsert(char drive, const char* imagePath, const char* password, int, int, int) {
    if (OMXAdminDriveLockCode(upper(drive)) != 0) return kCodeDriveLocked;
    if (!OMXTSHasRight(kRightInsertEject)) return kCodeNoRight;
    if (imagePath != nullptr && imagePath[0] != '\0' &&
        OMXCheckAccessFile(imagePath, OMX_ACCESS_READ) != 0) {
        return kCodeUnreadable;
    }
    return ombrix::drives::internalInsert(drive, imagePath, password);
}

OMX_EXPORT int OMXEject(char drive) {
    if (OMXAdminDriveLockCode(upper(drive)) != 0) return kCodeDriveLocked;
    return ombrix::drives::internalEject(drive, false);
}

OMX_EXPORT int OMXInsertPlayer(char drive, const char* imagePath, const char* password) {
    return ombrix::drives::internalInsert(drive, imagePath, password);
}

OMX_EXPORT int OMXEjectPlayer(char drive) {
    return ombrix::drives::internalEject(drive, true);
}

OMX_EXPORT int OMXInsertIndex(char drive, int index) {
    ombrix::debugTrace("Entering OMXInsertIndex()");
    char letter = upper(drive);
    if (OMXAdminDriveLockCode(letter) != 0) return kCodeDriveLocked;
    OmxImageInfo info;
    std::memset(&info, 0, sizeof info);
    // A missing entry is an invalid index, not a success: nothing was inserted.
    if (!OMXGetImageInfoFromIndex(index, &info)) return kCodeInvalidIndex;

    std::string path(info.path, strnlen(info.path, sizeof info.path));
    OmxImageHeader header;
    if (ombrix::header::read(path, header) != 0) std::memset(&header, 0, sizeof header);
    std::string password;
    bool olderFormatAccepted = false;
    if (!ombrix::header::hasContainerMark(header)) {
        char compat[8] = "";
        EnvGetGlobalValue("Omx3xCompat", compat, sizeof compat);
        olderFormatAccepted = std::strcmp(compat, "1") == 0;
    }
    if (ombrix::header::hasPassword(header) && !olderFormatAccepted) {
        std::string item = ombrix::header::description(header);
        if (item.empty()) item = fileNamePart(path);
        std::string digest(header.passwordDigest, strnlen(header.passwordDigest, 32));
        auto typed = ombrix::askForPassword(item, digest, true);
        if (!typed) return kCodeWrongPassword;
        password = *typed;
    }
    int result = OMXInsert(letter, path.c_str(), password.c_str(), 1, 5, index > 4999 ? 1 : 0);
    if (result != 0) return result;

    if (info.program[0] != '\0') {
        char program[sizeof info.program + 1] = "";
        char parameters[sizeof info.parameters + 1] = "";
        std::memcpy(program, info.program, sizeof info.program);
        std::memcpy(parameters, info.parameters, sizeof info.parameters);
        OMXReplaceDriveVar(program, letter);
        OMXReplaceDriveVar(parameters, letter);
        // An empty parameters field passes no working directory.
        OMXExecute(program, parameters[0] != '\0' ? parameters : nullptr);
    }
    return 0;
}
