// Re-read requests for the shared files. They travel to the network access service, which
// re-reads the file and publishes it into the global store, and to the management service,
// which tells the other servers of the pool that share the file, so that they re-read it too.
#include "common/names.h"
#include "oxthelp.h"
#include "oxtlog.h"
#include "platform/export.h"
#include "platform/named_mutex.h"
#include "service/mountrequest.h"
#include "service/pipe_call.h"

namespace {

// Request numbers of the network access service's pipe.
enum ReReadRequest {
    kReReadImages = 35,
    kReReadTree = 36,
    kReReadSecurity = 37,
    kReReadAdmin = 39,
    kReReadEnv = 51,
};

constexpr int kCallTimeoutMs = 1500;
constexpr int kAttempts = 3;

bool callGuarded(const char* mutexName, const char* pipe, ReReadRequest request) {
    ombrix::platform::NamedMutex mutex(mutexName);
    CMountRequest record;
    record.m_request = request;
    return CallPipeGuarded(mutex.openError() == 0 ? &mutex : nullptr, pipe, record, kCallTimeoutMs,
                           kAttempts);
}

// The network access service answers once the file is published again. The peers are told
// whatever came of that, since they read the file themselves; the shared settings file has no
// peer notice. A failure is logged, the caller goes on.
void sendReRead(ReReadRequest request) {
    if (!callGuarded(ombrix::names::kNetPipeMutex, ombrix::names::kNetPipe, request))
        OXTLog(3, "Calling net service failed, request: %d", static_cast<int>(request));
    if (request == kReReadEnv) return;
    if (!callGuarded(ombrix::names::kServicePipeMutex, ombrix::names::kServicePipe, request))
        OXTLog(3, "Calling service failed, request: %d", static_cast<int>(request));
}

}  // namespace

OMX_EXPORT void OMXTSReReadAdmFile(void) {
    sendReRead(kReReadAdmin);
}
OMX_EXPORT void OMXTSReReadImgFile(void) {
    sendReRead(kReReadImages);
}
OMX_EXPORT void OMXTSReReadTreeFile(void) {
    sendReRead(kReReadTree);
}
OMX_EXPORT void OMXTSReReadEnvFile(void) {
    sendReRead(kReReadEnv);
}
OMX_EXPORT void OMXTSReReadSecurityFile(void) {
    sendReRead(kReReadSecurity);
}
