// OxtHelp: the helper program of one login session. It logs the session on at the management
// service, keeps the session's drive letters linked, and serves the session pipe until the
// session ends or it is told to stop.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "common/names.h"
#include "oxtlog.h"
#include "pipes/refusal_log.h"
#include "platform/account.h"
#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "platform/session_id.h"
#include "platform/terminal_sessions.h"
#include "platform/ui/user_interface.h"
#include "rights.h"
#include "session_drives.h"
#include "session_notifications.h"
#include "session_pipe.h"
#include "session_service.h"

namespace {

std::atomic<bool> stopRequested{false};

void onSignal(int) {
    stopRequested = true;
}

constexpr const char* kUsage =
    "Usage: OxtHelp [--help]\n"
    "The session helper program: started once per login session (by the client library when\n"
    "a program needs it), it logs the session on at the management service, links the session's\n"
    "virtual drive letters and serves the session pipe OMX_TS_SESSION<sid>. It ends when the\n"
    "session is logged off or on SIGTERM. A second start in the same session ends at once.\n";

// Requests into the session from others than its own account and root: only from those who
// hold the administration right. The administrator's own requests (inserts and ejects for the
// session, its drive letters, messages) need that right whoever sends them.
bool mayAsk(const ombrix::platform::PipeCaller& caller, int32_t code) {
    if (caller.uid == 0) return true;
    const bool administration = code == ombrix::pipes::kInsert || code == ombrix::pipes::kEject ||
                                code == ombrix::pipes::kSetDrives ||
                                code == ombrix::pipes::kUserMessage;
    if (!administration && caller.uid == ::geteuid()) return true;
    return ombrix::help::accountHasRight(8, caller.uid);
}

// The session must be this account's: nobody serves another account's session.
bool sessionIsOurs(uint32_t session) {
    if (::geteuid() == 0) return true;
    ombrix::wts::SessionInfo info;
    if (ombrix::wts::querySession(session, info) != 0) return false;
    std::optional<ombrix::platform::Account> account = ombrix::platform::accountByName(info.user);
    return account && account->uid == ::geteuid();
}

bool sessionLoggedOn(uint32_t session) {
    if (session == 0) return true;  // the services' session has no log-off
    ombrix::wts::SessionInfo info;
    return ombrix::wts::querySession(session, info) == 0;
}

// The administrator's texts are shown in their own thread, so the pipe keeps answering.
void showMessage(const std::string& text) {
    std::thread([text] {
        ombrix::ui::userInterface().messageBox("Ombrix TS", text, ombrix::ui::Icon::Information,
                                               ombrix::ui::Buttons::Ok, {.topMost = true});
    }).detach();
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        std::fprintf(stderr, "OxtHelp: unknown argument '%s'\n%s", argv[i], kUsage);
        return 2;
    }
    const uint32_t session = ombrix::platform::currentSessionId();
    if (!sessionIsOurs(session)) {
        std::fprintf(stderr, "OxtHelp: session %u is not logged on for this account\n", session);
        return 1;
    }
    ombrix::platform::NamedMutex mutex(ombrix::names::kHelperMutex);
    if (mutex.openError() != 0) {
        std::fprintf(stderr, "OxtHelp: cannot create the helper mutex (error %d)\n",
                     mutex.openError());
        return 1;
    }
    using Wait = ombrix::platform::NamedMutex::WaitResult;
    Wait wait = mutex.lock(0);
    if (wait != Wait::Acquired && wait != Wait::Abandoned) return 0;  // the session has a helper

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    const std::string pipeName = ombrix::names::sessionPipe(session);
    int error = 0;
    auto pipe = ombrix::platform::NamedPipeServer::create(pipeName, 5, error);
    if (!pipe) {
        OXTLog(3, "OxtHelp: cannot create %s, error %d", pipeName.c_str(), error);
        std::fprintf(stderr, "OxtHelp: cannot create the pipe %s (error %d)\n", pipeName.c_str(),
                     error);
        return 1;
    }
    if (!ombrix::helper::logOnSession(session)) {
        OXTLog(3, "OxtHelp: session %u could not be logged on at the service", session);
    }
    ombrix::helper::prepareDrives(session);
    OXTLog(0, "OxtHelp: serving %s", pipeName.c_str());

    ombrix::helper::SessionPipeHandler handler(session, showMessage);
    CRefusalLog refusals;
    while (!stopRequested && sessionLoggedOn(session)) {
        CMountRequest record;
        size_t size = 0;
        auto connection = pipe->receive(record.bytes(), sizeof record, size, 500, 1000, error);
        if (!connection || size != sizeof record) continue;  // a wrong size gets no reply
        if (!mayAsk(connection->caller(), record.m_request)) {
            refusals.Note(connection->caller(), record.m_request);
            continue;
        }
        handler.handle(record);
        connection->write(record.bytes(), sizeof record);
    }
    OXTLog(0, "OxtHelp: session %u ends", session);
    mutex.unlock();
    return 0;
}
