#pragma once

#include <string_view>

#include "pipes/mountrequest.h"
#include "platform/named_mutex.h"

// One request on a pipe of the system, ordered with the other callers by the pipe's mutex:
// waits up to 1500 ms for `mutex` (null: no ordering), goes ahead when that wait times out,
// and calls `pipe` on this machine until a 304-byte reply came back or `attempts` are used up.
// On success the reply replaces `record`.
bool CallPipeGuarded(ombrix::platform::NamedMutex* mutex, std::string_view pipe,
                     CMountRequest& record, int timeoutMs, int attempts);

// The same without the mutex.
bool CallPipe(std::string_view pipe, CMountRequest& record, int timeoutMs, int attempts);
