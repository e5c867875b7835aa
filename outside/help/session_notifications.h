#pragma once

#include <vector>

#include "platform/message_bus.h"
#include "service/mountrequest.h"

// The notifications that reach a session through its pipe, as the messages its programs handle.
namespace ombrix::helper {

// Notification requests of the session pipe.
enum Notification : int32_t {
    kDriveAccessed = 10,
    kImageFileChanged = 40,
    kImagesRemoved = 41,
    kImagesAdded = 42,
    kImagesChanged = 43,
    kTreeChanged = 44,
    kAdminDrivesChanged = 45,
    kUserMessage = 48,
    kConfigPathChanged = 50,
};

// The messages one notification record stands for, with `sender` as wParam. Records 41 to 43
// may carry the catalogue indexes concerned in their text ("5001|5007|"): one message per index;
// without them one message with lParam 0 tells that some entries changed.
std::vector<ombrix::platform::BusMessage> messagesForNotification(const CMountRequest& record,
                                                                  uint64_t sender);

}  // namespace ombrix::helper
