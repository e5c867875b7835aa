// The session's virtual drive letters and the machine's standard letters.
#include <unistd.h>

#include <string>

#include "common/names.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/message_bus.h"
#include "platform/session_id.h"
#include "session_drives.h"

OMX_EXPORT int OMXTSGetOMXDriveLetters(char* buffer, int size) {
    return ombrix::ascii::copyToBuffer(ombrix::helper::sessionDriveLetters(), buffer, size);
}

OMX_EXPORT int OMXTSGetStdDriveLetters(int, int, int, char* buffer, int size) {
    return ombrix::ascii::copyToBuffer(ombrix::helper::standardDriveLetters(), buffer, size);
}

OMX_EXPORT int OMXTSSetDriveLetters(const char* letters, int allSessions) {
    if (letters == nullptr) return 0;
    uint32_t session = ombrix::platform::currentSessionId();
    auto post = [](const char* name) {
        ombrix::platform::postToSession({name, static_cast<uint64_t>(getpid()), 0});
    };
    post(ombrix::names::kMsgDrivesChanging);
    int code = ombrix::helper::setDriveLetters(session, letters, allSessions != 0);
    post(ombrix::names::kMsgDrivesChanged);
    return code == 0 ? 1 : 0;
}
