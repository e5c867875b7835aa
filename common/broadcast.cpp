#include "common/broadcast.h"

#include <unistd.h>

#include "platform/message_bus.h"

namespace ombrix {

int broadcastMessage(const char* name, int64_t lParam) {
    return platform::postToSession(
        platform::BusMessage{name, static_cast<uint64_t>(::getpid()), lParam});
}

}  // namespace ombrix
