#include "service/ip_listener.h"

#include <arpa/inet.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <list>
#include <mutex>
#include <set>
#include <thread>

#include "log/oxtlog.h"

struct CIPListener::State {
    std::vector<std::shared_ptr<CBlockingSocket>> sockets;
    Handler handler;
    std::shared_mutex handlerLock;  // shared while a handler runs; exclusive to retire it
    std::atomic<int> active{0};
    std::atomic<bool> stopped{false};
    // Every thread of the listener, and the connections being served, so that the listener
    // can end them all before the process lets go of what they use.
    std::mutex threadLock;
    std::condition_variable threadsChanged;
    int threads = 0;
    std::set<int> connections;
    // The threads themselves: joined once they are done (as new ones start, and at the end),
    // so none is still ending while the process lets go of what its exit uses.
    std::list<std::pair<std::thread, std::shared_ptr<std::atomic<bool>>>> started;
    Admit admit;
    void Reap() {
        started.remove_if([](auto& entry) {
            if (!*entry.second) return false;
            entry.first.join();
            return true;
        });
    }
};

namespace {

// Counts a listener thread while it runs.
class ThreadCount {
  public:
    explicit ThreadCount(CIPListener::State& state);
    ~ThreadCount();

  private:
    CIPListener::State& state_;
};

}  // namespace

ThreadCount::ThreadCount(CIPListener::State& state) : state_(state) {}

ThreadCount::~ThreadCount() {
    {
        std::lock_guard guard(state_.threadLock);
        --state_.threads;
    }
    state_.threadsChanged.notify_all();
}

bool CIPListener::StartThread(const std::shared_ptr<State>& state, size_t index) {
    std::lock_guard guard(state->threadLock);
    if (state->stopped) return false;
    state->Reap();
    auto done = std::make_shared<std::atomic<bool>>(false);
    try {
        std::thread thread([state, index, done] {
            Wait(state, index);
            *done = true;  // the last step: nothing of the listener is touched after it
        });
        state->started.emplace_back(std::move(thread), done);
    } catch (...) {
        return false;
    }
    ++state->threads;
    return true;
}

std::unique_ptr<CIPListener> CIPListener::Start(const std::vector<std::string>& addresses, int port,
                                                Handler handler, Admit admit) {
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
    state->admit = std::move(admit);
    std::vector<std::string> binds = addresses;
    if (binds.empty()) binds.emplace_back("0.0.0.0");
    for (const auto& dotted : binds) {
        auto socket = std::make_shared<CBlockingSocket>();
        socket->Create();
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        if (::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr) != 1) {
            throw CBlockingSocketException("Bind", 10049);
        }
        socket->Bind(address);
        socket->Listen(kBacklog);
        state->sockets.push_back(std::move(socket));
    }
    auto listener = std::unique_ptr<CIPListener>(new CIPListener(state));
    for (size_t i = 0; i < state->sockets.size(); ++i)
        StartThread(state, i);
    return listener;
}

void CIPListener::Close() {
    for (auto& socket : state_->sockets)
        socket->Interrupt();
}

CIPListener::~CIPListener() {
    state_->stopped = true;
    Close();
    std::unique_lock guard(state_->threadLock);
    for (int fd : state_->connections)
        ::shutdown(fd, SHUT_RDWR);  // a read in progress ends at once
    state_->threadsChanged.wait_for(guard, std::chrono::milliseconds(kStopWaitMs),
                                    [this] { return state_->threads == 0; });
    for (auto& [thread, done] : state_->started) {
        // Done threads are joined; one still inside a handler past the wait is let go.
        while (!*done && state_->threads == 0)
            std::this_thread::yield();
        if (*done) {
            thread.join();
        } else {
            thread.detach();
        }
    }
    state_->started.clear();
    guard.unlock();
    std::unique_lock retire(state_->handlerLock);
    state_->handler = nullptr;
}

int CIPListener::ActiveConnections() const {
    return state_->active;
}

void CIPListener::Wait(std::shared_ptr<State> state, size_t index) {
    ThreadCount count(*state);
    std::shared_ptr<CBlockingSocket> listening = state->sockets[index];
    CBlockingSocket connection;
    sockaddr_in peer{};
    try {
        if (!listening->Accept(connection, peer)) return;
    } catch (const CBlockingSocketException& e) {
        OXTLog(3, "WINSOCK-Error: %s", e.what());
        if (state->stopped) return;
        // The listener keeps listening: the next thread waits after a short pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        StartThread(state, index);
        return;
    }
    if (!StartThread(state, index) && !state->stopped) {
        OXTLog(3, "WINSOCK-Error: %s", "no thread for the next connection");
    }
    if (state->admit) {
        sockaddr_in local{};
        socklen_t size = sizeof local;
        ::getsockname(connection.Handle(), reinterpret_cast<sockaddr*>(&local), &size);
        if (!state->admit(peer, local)) return;  // closed unread
    }
    Serve(state, std::move(connection));
}

void CIPListener::Serve(const std::shared_ptr<State>& state, CBlockingSocket connection) {
    struct Served {
        State& state;
        int fd;
        Served(State& s, int handle) : state(s), fd(handle) {
            ++state.active;
            std::lock_guard guard(state.threadLock);
            state.connections.insert(fd);
        }
        ~Served() {
            --state.active;
            std::lock_guard guard(state.threadLock);
            state.connections.erase(fd);
        }
    } served(*state, connection.Handle());
    if (state->active > kMaxConnections || state->stopped) return;  // closed without a reply
    try {
        CIPData record;
        if (ReadIPData(connection, record, kReadTimeoutMs) != IPHeaderCheck::kGood) return;
        OXTLog(0, "Got IPData, type = %d", static_cast<int>(record.Type()));
        CIPData reply;
        bool answer = false;
        {
            std::shared_lock running(state->handlerLock);
            if (!state->handler || state->stopped) return;
            answer = state->handler(record, reply);
        }
        if (answer) WriteIPData(connection, reply, kReadTimeoutMs);
    } catch (const CBlockingSocketException& e) {
        if (!state->stopped) OXTLog(3, "WINSOCK-Error: %s", e.what());
    }
}
