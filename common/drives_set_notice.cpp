#include <chrono>
#include <string>
#include <thread>

#include "common/names.h"
#include "common/oxtcomm_admin.h"
#include "platform/export.h"
#include "platform/named_event.h"

// Tells the management service that drives were set: the service's event is set and counts as
// consumed once the service has reset it.
OMX_EXPORT int OMXServiceDrivesSet(int seconds) {
    int error = 0;
    auto event = ombrix::platform::NamedEvent::open(
        std::string("Global\\") + ombrix::names::kDrivesSetEvent, error);
    if (!event || !event->set()) return 0;
    auto pause = std::chrono::milliseconds(100 * (seconds > 0 ? seconds : 1));
    for (int poll = 0; poll < 10; ++poll) {
        std::this_thread::sleep_for(pause);
        if (!event->isSet()) return 1;
    }
    return 0;
}
