#pragma once

#include <netinet/in.h>

#include <atomic>
#include <cstddef>
#include <exception>
#include <string>

#include "platform/unique_fd.h"

// Blocking IPv4 stream sockets whose every send and receive step waits at most a given time.
// Failures throw CBlockingSocketException; callers catch it where one operation ends.

// The failure of one socket operation: its name and the socket error (Winsock numbering, 0 when
// none applies). The text is "<operation> Error #<error>", or "<operation> Error" for error 0.
class CBlockingSocketException : public std::exception {
  public:
    CBlockingSocketException(const char* operation, int error);
    const char* what() const noexcept override { return text_.c_str(); }
    const std::string& Operation() const { return operation_; }
    int Error() const { return error_; }

  private:
    std::string operation_;
    int error_;
    std::string text_;
};

namespace ombrix::wsa {

constexpr int kInterrupted = 10004;  // blocking call ended because the socket was closed
constexpr int kTimedOut = 10060;
constexpr int kConnectionRefused = 10061;

// The socket error number of an errno value.
int fromErrno(int err);

}  // namespace ombrix::wsa

class CBlockingSocket {
  public:
    CBlockingSocket() = default;
    // Takes an already connected stream socket (tests, socket pairs).
    explicit CBlockingSocket(ombrix::platform::UniqueFd fd) : fd_(std::move(fd)) {}
    CBlockingSocket(CBlockingSocket&& other) noexcept
        : fd_(std::move(other.fd_)), interrupted_(other.interrupted_.load()) {}
    CBlockingSocket& operator=(CBlockingSocket&& other) noexcept {
        fd_ = std::move(other.fd_);
        interrupted_ = other.interrupted_.load();
        return *this;
    }

    void Create();
    void Bind(const sockaddr_in& address);
    void Listen(int backlog = 5);
    // Waits for the next connection. False, without an exception, when the socket was
    // interrupted (closed for listening) meanwhile.
    bool Accept(CBlockingSocket& connection, sockaddr_in& peer);
    // Connects, waiting at most `timeoutMs` (-1: as long as the system allows).
    void Connect(const sockaddr_in& address, int timeoutMs = -1);
    // One send step: waits at most `timeoutMs` until some bytes can go; returns how many went.
    int Send(const void* data, int size, int timeoutMs);
    // Sends everything, step after step.
    void Write(const void* data, int size, int timeoutMs);
    // One receive step: waits at most `timeoutMs` for data; returns the bytes received (0 when
    // the other side closed).
    int Receive(void* buffer, int size, int timeoutMs);
    void Close();
    // Wakes a thread blocked in Accept on this socket (it returns false) without closing the
    // descriptor under it; the descriptor is closed with the object.
    void Interrupt();
    sockaddr_in GetPeerAddr() const;

    bool IsOpen() const { return fd_.valid(); }
    int Handle() const { return fd_.get(); }

    // The first IPv4 address of `name` (a dotted address or a host name) with `port`.
    static sockaddr_in GetHostByName(const std::string& name, int port);
    // The host name of an address; the dotted form when it has none.
    static std::string GetHostByAddr(const sockaddr_in& address);
    static std::string DottedAddress(const sockaddr_in& address);

  private:
    // Waits until the socket is ready; false on time-out.
    bool WaitReady(short events, int timeoutMs, const char* operation) const;

    ombrix::platform::UniqueFd fd_;
    std::atomic<bool> interrupted_{false};
};
