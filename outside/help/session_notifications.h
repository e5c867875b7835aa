#pragma once

#include <vector>

#include "pipes/mountrequest.h"
#include "pipes/request_codes.h"
#include "platform/message_bus.h"

// The notifications that reach a session through its pipe, as the messages its programs handle.
namespace ombrix::helper {

// The messages one notification record stands for, with `sender` as wParam. Records 41 to 43
// may carry the catalogue indexes concerned in their text ("5001|5007|"): one message per index;
// without them one message with lParam 0 tells that some entries changed.
std::vector<ombrix::platform::BusMessage> messagesForNotification(const CMountRequest& record,
                                                                  uint64_t sender);

}  // namespace ombrix::helper
