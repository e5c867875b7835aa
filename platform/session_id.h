#pragma once

#include <cstdint>

// The login session a process belongs to: $OMBRIX_SESSION when set, else the kernel's audit
// session id of the process, else 0 (the services' session).
namespace ombrix::platform {

uint32_t currentSessionId();

// The same rule applied to another process, read from /proc; 0 when it cannot be read.
uint32_t sessionIdOfProcess(int pid);

}  // namespace ombrix::platform
