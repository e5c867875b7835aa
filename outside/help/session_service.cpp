#include "session_service.h"

#include <unistd.h>

#include "common/names.h"
#include "oxtlog.h"
#include "pipes/pipe_call.h"
#include "platform/named_mutex.h"
#include "platform/terminal_sessions.h"

namespace ombrix::helper {

namespace {

constexpr int kServiceTimeoutMs = 1500;
constexpr int kAttempts = 3;

std::string userOfSession(uint32_t session) {
    ombrix::wts::SessionInfo info;
    if (ombrix::wts::querySession(session, info) == 0 && !info.user.empty()) return info.user;
    const char* user = getenv("USER");
    return user != nullptr ? user : "";
}

}  // namespace

CMountRequest sessionRecord(int32_t request, uint32_t session) {
    CMountRequest record;
    record.m_request = request;
    record.m_sessionId = session;
    // The logon id of a Linux login is its user id; nothing else tells two logons apart here.
    record.m_logonIdLow = static_cast<uint32_t>(geteuid());
    record.m_logonIdHigh = 0;
    return record;
}

bool callService(CMountRequest& record) {
    ombrix::platform::NamedMutex mutex(ombrix::names::kServicePipeMutex);
    bool ok = CallPipeGuarded(mutex.openError() == 0 ? &mutex : nullptr,
                              ombrix::names::kServicePipe, record, kServiceTimeoutMs, kAttempts);
    if (!ok) OXTLog(3, "Calling service failed, request: %d", record.m_request);
    return ok;
}

int resultOfReply(const CMountRequest& reply, int32_t sent) {
    if (reply.m_request == sent) return kOk;
    switch (reply.m_request) {
        case CMountRequest::kNoUnit: return kNoFreeDevice;
        case CMountRequest::kNoEmptyDevice: return kNoResources;
        case CMountRequest::kUnitMissing:
        case CMountRequest::kNoSuchUnit: return kInvalidDevice;
        case CMountRequest::kRefused:
            // 8: the network access service refused the password of a shared image; the other
            // values are why the service or the driver did not take the image.
            switch (reply.m_dwData) {
                case 8: return kWrongPassword;
                case 5: return kAccessDenied;
                case 2: return kFileNotFound;
                case 3: return kPathNotFound;
                case 13: return kCorruptImage;  // its file system cannot be read
                case 14: return kNoResources;   // it is larger than a disc may be
                case 18:
                case 206: return kEmptyPath;
                case 600: return kNoRight;
                default: return kCannotOpenFile;
            }
        default: return kCommunicationFailed;  // not logged on, unknown request, ...
    }
}

bool logOnSession(uint32_t session) {
    CMountRequest record = sessionRecord(CMountRequest::kLogOn, session);
    record.setText(userOfSession(session));
    if (!callService(record)) return false;
    return record.m_request == CMountRequest::kLogOn ||
           record.m_request == CMountRequest::kAlreadyLoggedOn;
}

}  // namespace ombrix::helper
