#include "tools/ui/session_end_watch.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <memory>
#include <thread>

#include "platform/terminal_sessions.h"
#include "platform/unique_fd.h"

namespace ombrix::tools {
namespace {

// The write end of the pipe the signal handler wakes the window thread through.
std::atomic<int> signalPipe{-1};

void onSignal(int number) {
    const int savedErrno = errno;  // the interrupted code may be looking at it
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const char byte = static_cast<char>(number);
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

struct SessionEndWatch::State {
    platform::UniqueFd readEnd, writeEnd;
    std::unique_ptr<QSocketNotifier> notifier;
    std::function<void(const char*)> onEnd;
    bool ended = false;
    wts::SystemEventWaiter waiter;
    std::atomic<bool> stopping{false};
    std::thread logoffs;

    void end(const char* why) {
        if (ended) return;
        ended = true;
        onEnd(why);
    }
};

SessionEndWatch::~SessionEndWatch() {
    if (!state_) return;
    signalPipe.store(-1);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
        ::signal(number, SIG_DFL);
    state_->stopping = true;
    uint32_t flags = 0;
    state_->waiter.waitSystemEvent(wts::kEventFlush, flags);  // wakes the log-off thread
    if (state_->logoffs.joinable()) state_->logoffs.join();
}

std::unique_ptr<SessionEndWatch> SessionEndWatch::start(
    QObject* context, uint32_t session, std::function<void(const char* why)> onEnd) {
    std::unique_ptr<SessionEndWatch> watch(new SessionEndWatch);
    watch->state_ = std::make_shared<State>();
    State& state = *watch->state_;
    state.onEnd = std::move(onEnd);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return nullptr;
    state.readEnd.reset(fds[0]);
    state.writeEnd.reset(fds[1]);
    signalPipe.store(state.writeEnd.get());
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(number, &action, nullptr) != 0) return nullptr;
    }
    state.notifier = std::make_unique<QSocketNotifier>(state.readEnd.get(), QSocketNotifier::Read);
    QObject::connect(state.notifier.get(), &QSocketNotifier::activated, context, [&state] {
        char byte = 0;
        while (::read(state.readEnd.get(), &byte, 1) == 1) {
        }
        state.end("a signal");
    });

    // The session's log-off: woken by every log-off of the machine, it looks whether its own
    // session is still there. The call it queues finds the state only while the watch lives.
    std::weak_ptr<State> weak = watch->state_;
    // Watching starts before the session is looked at, so a log-off is seen either way.
    state.waiter.arm();
    wts::SessionInfo now;
    if (wts::querySession(session, now) != 0) {
        QMetaObject::invokeMethod(
            context,
            [weak] {
                if (auto alive = weak.lock()) alive->end("the session's log-off");
            },
            Qt::QueuedConnection);
        return watch;
    }
    state.logoffs = std::thread([&state, session, context, weak] {
        while (!state.stopping) {
            uint32_t flags = 0;
            if (!state.waiter.waitSystemEvent(wts::kEventLogoff, flags)) return;
            if (state.stopping) return;
            wts::SessionInfo info;
            if (wts::querySession(session, info) == 0) continue;
            QMetaObject::invokeMethod(
                context,
                [weak] {
                    if (auto alive = weak.lock()) alive->end("the session's log-off");
                },
                Qt::QueuedConnection);
            return;
        }
    });
    return watch;
}

}  // namespace ombrix::tools
