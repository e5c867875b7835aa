#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>

#include "pipes/mountrequest.h"
#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "service/pipe_reply.h"
#include "service/stop_event.h"

// The request pipe a service serves: records of one size, one request at a time in arrival
// order, on a thread of its own. Callers that connect and send nothing hold up nobody, and each
// account has a bounded number of connections waiting. The stop event is looked at between
// requests only, so the end request a service sends itself at shutdown is still answered.
class CServicePipe {
  public:
    // Handles one record of `caller` in place (the reply) and says whether it is answered.
    using Handler =
        std::function<PipeReply(CMountRequest&, const ombrix::platform::PipeCaller& caller)>;
    // What Start returns when the pipe was made but no thread could serve it.
    static constexpr int kNoThread = -1;

    CServicePipe() = default;
    ~CServicePipe();
    CServicePipe(const CServicePipe&) = delete;
    CServicePipe& operator=(const CServicePipe&) = delete;

    // Creates the pipe `name` and serves it until `stop` is set between connections, `handler`
    // answers false or Close is called. 0 when serving; else the pipe's creation error, or
    // kNoThread (the pipe is closed again so that callers do not wait on it).
    int Start(std::string_view name, int instances, const StopEvent& stop, Handler handler);
    // Gives up serving at the next accept slice, waits for the thread and closes the pipe.
    void Close();

  private:
    void Serve();

    std::unique_ptr<ombrix::platform::NamedPipeServer> m_pipe;
    std::thread m_thread;
    std::atomic<bool> m_abandon{false};
    const StopEvent* m_stop = nullptr;
    Handler m_handler;
};

// A guarded call of a pipe of the system (see CallPipeGuarded) whose failure is logged as
// "Calling <callee> failed, request: <the request sent>".
bool CallPipeLogged(ombrix::platform::NamedMutex* mutex, std::string_view pipe,
                    CMountRequest& record, int timeoutMs, int attempts, const char* callee);

// Opens the named mutex that orders the callers of a pipe. Null when it cannot be opened; the
// error is then the calling thread's last error (CNTService::GetLastError).
std::unique_ptr<ombrix::platform::NamedMutex> OpenPipeMutex(const char* name);
