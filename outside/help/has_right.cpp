// OMXTSHasRight: the rights of the calling process's user.
#include <unistd.h>

#include "oxthelp.h"
#include "platform/export.h"
#include "rights.h"

OMX_EXPORT int OMXTSHasRight(int right) {
    try {
        const uid_t uid = ::getuid();
        return ombrix::help::hasRight(right, ombrix::help::publishedProfiles(), uid,
                                      ombrix::help::callerGroups(uid), ombrix::help::adminGroupId())
                   ? 1
                   : 0;
    } catch (...) {
        return 0;  // out of memory: no rights rather than an exception through the C call
    }
}
