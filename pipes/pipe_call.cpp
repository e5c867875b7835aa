#include "pipes/pipe_call.h"

#include "platform/named_pipe.h"

namespace {

constexpr int kMutexWaitMs = 1500;

}  // namespace

bool CallPipe(std::string_view pipe, CMountRequest& record, int timeoutMs, int attempts) {
    CMountRequest reply;
    bool ok = ombrix::platform::callNamedPipeExact(
        ".", pipe, record.bytes(), sizeof record, reply.bytes(), sizeof reply, timeoutMs, attempts);
    if (ok) record.fromBytes(reply.bytes());
    return ok;
}

bool CallPipeGuarded(ombrix::platform::NamedMutex* mutex, std::string_view pipe,
                     CMountRequest& record, int timeoutMs, int attempts) {
    using Wait = ombrix::platform::NamedMutex::WaitResult;
    bool held = false;
    if (mutex != nullptr) {
        Wait wait = mutex->lock(kMutexWaitMs);
        held = wait == Wait::Acquired || wait == Wait::Abandoned;
    }
    bool ok = CallPipe(pipe, record, timeoutMs, attempts);
    if (held) mutex->unlock();
    return ok;
}
