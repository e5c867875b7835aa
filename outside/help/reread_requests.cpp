// Re-read requests for the shared files. They travel to the network access service, which
// re-reads the file and publishes it into the global store, and to the management service,
// which tells the other servers of the pool that share the file, so that they re-read it too.
#include "common/names.h"
#include "oxthelp.h"
#include "oxtlog.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/export.h"
#include "platform/named_mutex.h"

namespace {

namespace codes = ombrix::pipes;

constexpr int kCallTimeoutMs = 1500;
constexpr int kAttempts = 3;

bool callGuarded(const char* mutexName, const char* pipe, codes::Request request) {
    ombrix::platform::NamedMutex mutex(mutexName);
    CMountRequest record;
    record.m_request = request;
    return CallPipeGuarded(mutex.openError() == 0 ? &mutex : nullptr, pipe, record, kCallTimeoutMs,
                           kAttempts);
}

// The network access service answers once the file is published again. The peers are told
// whatever came of that, since they read the file themselves; the shared settings file has no
// peer notice. A failure is logged, the caller goes on.
void sendReRead(codes::Request request) {
    if (!callGuarded(ombrix::names::kNetPipeMutex, ombrix::names::kNetPipe, request))
        OXTLog(3, "Calling net service failed, request: %d", static_cast<int>(request));
    if (request == codes::kReadSettings) return;
    if (!callGuarded(ombrix::names::kServicePipeMutex, ombrix::names::kServicePipe, request))
        OXTLog(3, "Calling service failed, request: %d", static_cast<int>(request));
}

}  // namespace

OMX_EXPORT void OMXTSReReadAdmFile(void) {
    sendReRead(codes::kReadAdminFile);
}
OMX_EXPORT void OMXTSReReadImgFile(void) {
    sendReRead(codes::kReadCatalogue);
}
OMX_EXPORT void OMXTSReReadTreeFile(void) {
    sendReRead(codes::kReadTree);
}
OMX_EXPORT void OMXTSReReadEnvFile(void) {
    sendReRead(codes::kReadSettings);
}
OMX_EXPORT void OMXTSReReadSecurityFile(void) {
    sendReRead(codes::kReadProfiles);
}
