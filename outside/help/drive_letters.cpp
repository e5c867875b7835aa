// The session's virtual drive letters: the session's own choice, else the machine's standard
// letters, else E, F and G.
#include <string>

#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"

OMX_EXPORT int OMXTSGetOMXDriveLetters(char* buffer, int size) {
    char letters[32] = "";
    if (!EnvGetUserValue("OmxDriveLetters", letters, sizeof letters) || letters[0] == '\0') {
        if (!EnvGetGlobalValue("OmxStdDriveLetters", letters, sizeof letters) ||
            letters[0] == '\0') {
            return ombrix::ascii::copyToBuffer("EFG", buffer, size);
        }
    }
    return ombrix::ascii::copyToBuffer(ombrix::ascii::toUpper(letters), buffer, size);
}
