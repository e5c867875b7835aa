// Which image is in which drive of the calling session: the session's own record
// ("OMX_Drive_%c") and the helper library's view of the drives.
#include <cctype>
#include <cstring>
#include <string>

#include "common/catalogue_edit.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_drives.h"
#include "common/session_record.h"
#include "common/unc_path.h"
#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"

namespace {

constexpr int kMountedFileBuffer = 264;

}  // namespace

OMX_EXPORT char OMXGetMountDrive(const char* imagePath) {
    if (imagePath == nullptr || imagePath[0] == '\0') return 0;
    std::string wanted = ombrix::toUncForm(imagePath);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string recorded = ombrix::drives::recordedImage(letter);
        if (!recorded.empty() && ombrix::ascii::equalsIgnoreCase(recorded, wanted)) return letter;
    }
    return 0;
}

OMX_EXPORT int OMXGetDriveIndex(char drive) {
    char mounted[kMountedFileBuffer] = "";
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(drive)));
    if (!OMXTSGetMountedFileFromDrive(letter, mounted, sizeof mounted) || mounted[0] == '\0') {
        return -1;
    }
    std::string recorded = ombrix::drives::recordedImage(drive);
    if (recorded.empty()) return 0;  // someone else put the image there
    int index = OMXGetIndexFromImageFile(recorded.c_str(), OMX_RANGE_LOCAL);
    if (index < 0) index = OMXGetIndexFromImageFile(recorded.c_str(), OMX_RANGE_SHARED);
    return index;
}

OMX_EXPORT int OMXGetMountedFileFromDrive(char drive, char* buffer, int size) {
    return OMXTSGetMountedFileFromDrive(drive, buffer, size);
}

OMX_EXPORT void OMXCheckMountedDrives(void) {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        char mounted[kMountedFileBuffer] = "";
        if (OMXTSGetMountedFileFromDrive(letter, mounted, sizeof mounted) && mounted[0] != '\0') {
            ombrix::drives::recordImage(letter, mounted);
        }
    }
}

namespace ombrix::catalogue {

void ejectFromSessionDrives(const std::string& imagePath) {
    // Bounded: each round empties one drive, and a drive that refuses ends the loop.
    for (int round = 0; round < 26; ++round) {
        char letter = OMXGetMountDrive(imagePath.c_str());
        if (letter == 0 || ombrix::drives::internalEject(letter, true) != 0) return;
    }
}

}  // namespace ombrix::catalogue
