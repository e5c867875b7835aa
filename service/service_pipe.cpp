#include "service/service_pipe.h"

#include "log/oxtlog.h"
#include "pipes/pipe_call.h"
#include "service/ntservice.h"

namespace {

constexpr int kPipeReadLimitMs = 2000;
constexpr int kAcceptSliceMs = 500;

}  // namespace

CServicePipe::~CServicePipe() {
    Close();
}

int CServicePipe::Start(std::string_view name, int instances, const StopEvent& stop,
                        Handler handler) {
    int error = 0;
    m_pipe = ombrix::platform::NamedPipeServer::create(name, instances, error);
    if (!m_pipe) return error != 0 ? error : kNoThread;
    m_stop = &stop;
    m_handler = std::move(handler);
    m_abandon = false;
    try {
        m_thread = std::thread(&CServicePipe::Serve, this);
    } catch (...) {
        m_pipe.reset();
        return kNoThread;
    }
    return 0;
}

void CServicePipe::Close() {
    m_abandon = true;
    if (m_thread.joinable()) m_thread.join();
    m_pipe.reset();
}

void CServicePipe::Serve() {
    // The pipe goes with its server thread: once it has ended, callers find no pipe at all
    // instead of waiting on an instance nobody serves.
    struct PipeCloser {
        std::unique_ptr<ombrix::platform::NamedPipeServer>& pipe;
        ~PipeCloser() { pipe.reset(); }
    } closer{m_pipe};
    bool ended = false;
    while (!ended && !m_stop->isSet()) {
        std::unique_ptr<ombrix::platform::PipeConnection> connection;
        CMountRequest record;
        size_t size = 0;
        int error = 0;
        while (!connection) {
            if (m_abandon) return;
            connection = m_pipe->receive(record.bytes(), sizeof record, size, kAcceptSliceMs,
                                         kPipeReadLimitMs, error);
        }
        if (size != sizeof record) continue;  // no reply: the caller's call fails
        PipeReply reply = m_handler(record, connection->caller());
        if (reply == PipeReply::kNoAnswer) continue;
        ended = reply == PipeReply::kAnswerAndEnd;
        connection->write(record.bytes(), sizeof record);
    }
}

bool CallPipeLogged(ombrix::platform::NamedMutex* mutex, std::string_view pipe,
                    CMountRequest& record, int timeoutMs, int attempts, const char* callee) {
    int code = record.m_request;
    bool ok = CallPipeGuarded(mutex, pipe, record, timeoutMs, attempts);
    if (!ok) OXTLog(3, "Calling %s failed, request: %d", callee, code);
    return ok;
}

std::unique_ptr<ombrix::platform::NamedMutex> OpenPipeMutex(const char* name) {
    auto mutex = std::make_unique<ombrix::platform::NamedMutex>(name);
    if (mutex->openError() == 0) return mutex;
    CNTService::SetLastError(static_cast<uint32_t>(mutex->openError()));
    return nullptr;
}
