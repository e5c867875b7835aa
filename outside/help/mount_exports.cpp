// The session's mount calls: the image travels to the management service with the session id,
// the drive letter is linked to the unit the service chose.
#include <cctype>
#include <string>

#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/session_id.h"
#include "session_drives.h"
#include "session_service.h"

namespace {

// The letter of a drive string "%C:" (a bare letter is taken too), or 0.
char driveLetter(const char* drive) {
    if (drive == nullptr || !std::isalpha(static_cast<unsigned char>(drive[0]))) return 0;
    if (drive[1] != '\0' && drive[1] != ':') return 0;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(drive[0])));
}

}  // namespace

OMX_EXPORT int OMXTSMountToDrive(const char* drive, const char* imagePath, const char* password) {
    char letter = driveLetter(drive);
    if (letter == 0) return ombrix::helper::kInvalidDrive;
    if (imagePath == nullptr || imagePath[0] == '\0') return ombrix::helper::kEmptyPath;
    return ombrix::helper::mountToDrive(ombrix::platform::currentSessionId(), letter, imagePath,
                                        password != nullptr ? password : "");
}

OMX_EXPORT int OMXTSDisMountDrive(const char* drive) {
    char letter = driveLetter(drive);
    if (letter == 0) return ombrix::helper::kInvalidDrive;
    return ombrix::helper::dismountDrive(ombrix::platform::currentSessionId(), letter);
}

OMX_EXPORT int OMXTSGetMountedFileFromDrive(char letter, char* buffer, int size) {
    if (!std::isalpha(static_cast<unsigned char>(letter))) return 0;
    std::string path;
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    if (!ombrix::helper::mountedFile(ombrix::platform::currentSessionId(), upper, path)) return 0;
    ombrix::ascii::copyToBuffer(path, buffer, size);
    return 1;
}
