#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

#include "platform/blocking_socket.h"
#include "service/ip_data.h"

// The TCP listener of the management service: one thread waits for a connection at a time;
// as soon as it has one it starts the next waiting thread, reads one record, hands it to the
// handler, writes the handler's reply (if any) and closes the connection.
class CIPListener {
  public:
    // Handles one record; true when `reply` goes back.
    using Handler = std::function<bool(const CIPData& record, CIPData& reply)>;
    // Whether a connection from `peer` (to this server's `local` address) is served at all;
    // refused ones are closed unread.
    using Admit = std::function<bool(const sockaddr_in& peer, const sockaddr_in& local)>;

    static constexpr int kReadTimeoutMs = 2000;
    // Connections the system queues until a thread takes them. The accept chain starts one
    // thread per connection, slower than a burst of clients connects; a queue of 5 would make
    // the system drop the rest of a burst and the clients wait seconds for a retry.
    static constexpr int kBacklog = 128;
    // Connections served at once; further ones are closed at once so that a flood cannot
    // exhaust the process's threads.
    static constexpr int kMaxConnections = 256;

    // Listens on `port` at each of `addresses` (empty: every local address) and starts the
    // waiting threads. Throws CBlockingSocketException when a socket cannot be set up.
    static std::unique_ptr<CIPListener> Start(const std::vector<std::string>& addresses, int port,
                                              Handler handler, Admit admit = nullptr);
    // Closes the listening sockets; handlers still running go on.
    void Close();
    // Closes the listening sockets and waits for the handlers still running; afterwards the
    // handler is never called again (connections still reading are closed unanswered).
    ~CIPListener();

    int ActiveConnections() const;

    struct State;

  private:
    // How long the listener's end waits for its threads (a handler may be inside pipe calls).
    static constexpr int kStopWaitMs = 10000;
    explicit CIPListener(std::shared_ptr<State> state) : state_(std::move(state)) {}
    static bool StartThread(const std::shared_ptr<State>& state, size_t socket);
    static void Wait(std::shared_ptr<State> state, size_t socket);
    static void Serve(const std::shared_ptr<State>& state, CBlockingSocket connection);

    std::shared_ptr<State> state_;
};
