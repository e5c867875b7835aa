// Re-read requests for the shared files. They travel to the network access service, which
// re-reads the file and publishes it into the global store.
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

// The service answers once the file is published again; a failure is logged, the caller goes on.
void sendReRead(ReReadRequest request) {
    ombrix::platform::NamedMutex mutex(ombrix::names::kNetPipeMutex);
    CMountRequest record;
    record.m_request = request;
    bool ok = CallPipeGuarded(mutex.openError() == 0 ? &mutex : nullptr, ombrix::names::kNetPipe,
                              record, kCallTimeoutMs, kAttempts);
    if (!ok) OXTLog(3, "Calling net service failed, request: %d", static_cast<int>(request));
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
