// Feeds arbitrary 304-byte records to the session helper's notification reading: every record
// gives at most one message per index of its text, each with a positive index or the general 0.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "outside/help/session_notifications.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CMountRequest record;
    std::memcpy(record.bytes(), data, std::min(size, sizeof record));
    auto messages = ombrix::helper::messagesForNotification(record, 1);
    if (messages.size() > CMountRequest::kTextSize) std::abort();
    for (const auto& m : messages) {
        if (m.lParam < 0 || m.name.empty()) std::abort();
    }
    return 0;
}
