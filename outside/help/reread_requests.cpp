// Re-read requests for the shared files. They travel to the network access service, which
// re-reads the file and publishes it into the global store.
#include "oxthelp.h"

#include "oxtlog.h"
#include "platform/export.h"

namespace {

// Request numbers of the network access service's pipe.
enum ReReadRequest {
    kReReadImages = 35,
    kReReadTree = 36,
    kReReadSecurity = 37,
    kReReadAdmin = 39,
    kReReadEnv = 51,
};

// Until this server runs a network access service nobody serves the request: the files are
// then published by whoever fills the global store, and the request is only logged.
void sendReRead(ReReadRequest request) {
    OXTLog(0, "Re-read request %d: no network access service to send it to", request);
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
