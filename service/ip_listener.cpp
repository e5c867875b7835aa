#include "service/ip_listener.h"

#include <arpa/inet.h>

#include <chrono>
#include <mutex>
#include <thread>

#include "log/oxtlog.h"

struct CIPListener::State {
    std::vector<std::shared_ptr<CBlockingSocket>> sockets;
    Handler handler;
    std::shared_mutex handlerLock;  // shared while a handler runs; exclusive to retire it
    std::atomic<int> active{0};
    std::atomic<bool> stopped{false};
};

std::unique_ptr<CIPListener> CIPListener::Start(const std::vector<std::string>& addresses, int port,
                                                Handler handler) {
    auto state = std::make_shared<State>();
    state->handler = std::move(handler);
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
    for (size_t i = 0; i < state->sockets.size(); ++i)
        std::thread(Wait, state, i).detach();
    return std::unique_ptr<CIPListener>(new CIPListener(std::move(state)));
}

void CIPListener::Close() {
    for (auto& socket : state_->sockets)
        socket->Interrupt();
}

CIPListener::~CIPListener() {
    state_->stopped = true;
    Close();
    std::unique_lock retire(state_->handlerLock);
    state_->handler = nullptr;
}

int CIPListener::ActiveConnections() const {
    return state_->active;
}

void CIPListener::Wait(std::shared_ptr<State> state, size_t index) {
    std::shared_ptr<CBlockingSocket> listening = state->sockets[index];
    CBlockingSocket connection;
    try {
        sockaddr_in peer{};
        if (!listening->Accept(connection, peer)) return;
    } catch (const CBlockingSocketException& e) {
        OXTLog(3, "WINSOCK-Error: %s", e.what());
        if (state->stopped) return;
        // The listener keeps listening: the next thread waits after a short pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        try {
            std::thread(Wait, state, index).detach();
        } catch (...) {
        }
        return;
    }
    try {
        std::thread(Wait, state, index).detach();
    } catch (...) {
        OXTLog(3, "WINSOCK-Error: %s", "no thread for the next connection");
    }
    Serve(state, std::move(connection));
}

void CIPListener::Serve(const std::shared_ptr<State>& state, CBlockingSocket connection) {
    struct Count {
        std::atomic<int>& n;
        explicit Count(std::atomic<int>& counter) : n(counter) { ++n; }
        ~Count() { --n; }
    } count(state->active);
    if (state->active > kMaxConnections) return;  // closed without a reply
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
        OXTLog(3, "WINSOCK-Error: %s", e.what());
    }
}
