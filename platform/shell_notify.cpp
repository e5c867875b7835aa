#include "platform/shell_notify.h"

#include <unistd.h>

#include <cctype>

#include "platform/message_bus.h"

namespace ombrix::platform {

void notifyMediaChange(bool inserted, char letter) {
    char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    postToSession({inserted ? kShellMediaInserted : kShellMediaRemoved,
                   static_cast<uint64_t>(getpid()), upper});
}

}  // namespace ombrix::platform
