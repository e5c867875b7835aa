#include "platform/blocking_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <vector>

#include "platform/host_name.h"
#include "platform/text_printf.h"

using ombrix::platform::UniqueFd;

CBlockingSocketException::CBlockingSocketException(const char* operation, int error)
    : operation_(operation), error_(error) {
    text_ = error == 0 ? ombrix::platform::format("%s Error", operation)
                       : ombrix::platform::format("%s Error #%d", operation, error);
}

namespace ombrix::wsa {

int fromErrno(int err) {
    switch (err) {
        case 0: return 0;
        case EINTR: return kInterrupted;
        case EBADF: return 10009;
        case EACCES: return 10013;
        case EFAULT: return 10014;
        case EINVAL: return 10022;
        case EMFILE:
        case ENFILE: return 10024;
        case EWOULDBLOCK: return 10035;
        case EINPROGRESS: return 10036;
        case EALREADY: return 10037;
        case ENOTSOCK: return 10038;
        case EMSGSIZE: return 10040;
        case EAFNOSUPPORT: return 10047;
        case EADDRINUSE: return 10048;
        case EADDRNOTAVAIL: return 10049;
        case ENETDOWN: return 10050;
        case ENETUNREACH: return 10051;
        case ECONNABORTED: return 10053;
        case ECONNRESET:
        case EPIPE: return 10054;
        case ENOBUFS: return 10055;
        case EISCONN: return 10056;
        case ENOTCONN: return 10057;
        case ETIMEDOUT: return kTimedOut;
        case ECONNREFUSED: return kConnectionRefused;
        case EHOSTUNREACH: return 10065;
        default: return 10000 + err;
    }
}

}  // namespace ombrix::wsa

namespace {

int lastError() {
    return ombrix::wsa::fromErrno(errno);
}

// Milliseconds left until `deadline`; -1 stays "no limit".
int remaining(std::chrono::steady_clock::time_point deadline, int timeoutMs) {
    if (timeoutMs < 0) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}

}  // namespace

void CBlockingSocket::Create() {
    fd_.reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd_.valid()) throw CBlockingSocketException("Create", lastError());
    interrupted_ = false;
    int on = 1;
    ::setsockopt(fd_.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
}

void CBlockingSocket::Bind(const sockaddr_in& address) {
    if (::bind(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        throw CBlockingSocketException("Bind", lastError());
    }
}

void CBlockingSocket::Listen(int backlog) {
    if (::listen(fd_.get(), backlog) != 0) throw CBlockingSocketException("Listen", lastError());
}

bool CBlockingSocket::WaitReady(short events, int timeoutMs, const char* operation) const {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pollfd entry{fd_.get(), events, 0};
        int n = ::poll(&entry, 1, remaining(deadline, timeoutMs));
        if (n > 0) return true;
        if (n == 0) return false;
        if (errno != EINTR) throw CBlockingSocketException(operation, lastError());
    }
}

bool CBlockingSocket::Accept(CBlockingSocket& connection, sockaddr_in& peer) {
    for (;;) {
        if (interrupted_ || !fd_.valid()) return false;
        pollfd entry{fd_.get(), POLLIN, 0};
        int n = ::poll(&entry, 1, -1);
        if (interrupted_) return false;
        if (n < 0) {
            if (errno == EINTR) continue;
            throw CBlockingSocketException("Accept", lastError());
        }
        socklen_t size = sizeof peer;
        int fd = ::accept4(fd_.get(), reinterpret_cast<sockaddr*>(&peer), &size, SOCK_CLOEXEC);
        if (fd >= 0) {
            connection.fd_.reset(fd);
            connection.interrupted_ = false;
            return true;
        }
        if (interrupted_) return false;
        // A connection that went away before it was taken is no failure of the listener.
        if (errno == EINTR || errno == ECONNABORTED || errno == EAGAIN) continue;
        throw CBlockingSocketException("Accept", lastError());
    }
}

void CBlockingSocket::Connect(const sockaddr_in& address, int timeoutMs) {
    int flags = ::fcntl(fd_.get(), F_GETFL);
    ::fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK);
    int rc = ::connect(fd_.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (rc != 0 && errno != EINPROGRESS) {
        int error = lastError();
        ::fcntl(fd_.get(), F_SETFL, flags);
        throw CBlockingSocketException("Connect", error);
    }
    if (rc != 0) {
        if (!WaitReady(POLLOUT, timeoutMs, "Connect")) {
            throw CBlockingSocketException("Connect", ombrix::wsa::kTimedOut);
        }
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0) throw CBlockingSocketException("Connect", ombrix::wsa::fromErrno(error));
    }
    ::fcntl(fd_.get(), F_SETFL, flags);
}

int CBlockingSocket::Send(const void* data, int size, int timeoutMs) {
    if (!WaitReady(POLLOUT, timeoutMs, "Send")) throw CBlockingSocketException("Send timeout", 0);
    ssize_t n;
    do {
        n = ::send(fd_.get(), data, static_cast<size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN) return 0;
        throw CBlockingSocketException("Send", lastError());
    }
    return static_cast<int>(n);
}

void CBlockingSocket::Write(const void* data, int size, int timeoutMs) {
    auto bytes = static_cast<const char*>(data);
    int sent = 0;
    while (sent < size)
        sent += Send(bytes + sent, size - sent, timeoutMs);
}

int CBlockingSocket::Receive(void* buffer, int size, int timeoutMs) {
    if (!WaitReady(POLLIN, timeoutMs, "Receive")) {
        throw CBlockingSocketException("Receive timeout", 0);
    }
    ssize_t n;
    do {
        n = ::recv(fd_.get(), buffer, static_cast<size_t>(size), MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN) return Receive(buffer, size, timeoutMs);
        throw CBlockingSocketException("Receive", lastError());
    }
    return static_cast<int>(n);
}

void CBlockingSocket::Close() {
    fd_.reset();
}

void CBlockingSocket::Interrupt() {
    interrupted_ = true;
    if (fd_.valid()) ::shutdown(fd_.get(), SHUT_RDWR);
}

sockaddr_in CBlockingSocket::GetPeerAddr() const {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (::getpeername(fd_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        throw CBlockingSocketException("GetPeerName", lastError());
    }
    return address;
}

sockaddr_in CBlockingSocket::GetHostByName(const std::string& name, int port) {
    std::vector<std::string> addresses;
    if (!ombrix::platform::resolveHost(name, addresses) || addresses.empty()) {
        throw CBlockingSocketException("GetHostByName", 11001);  // host not found
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (::inet_pton(AF_INET, addresses.front().c_str(), &address.sin_addr) != 1) {
        throw CBlockingSocketException("GetHostByName", 11001);
    }
    return address;
}

std::string CBlockingSocket::GetHostByAddr(const sockaddr_in& address) {
    char host[NI_MAXHOST] = {};
    int rc = ::getnameinfo(reinterpret_cast<const sockaddr*>(&address), sizeof address, host,
                           sizeof host, nullptr, 0, 0);
    if (rc != 0) throw CBlockingSocketException("GetHostByAddr", 11004);
    return host;
}

std::string CBlockingSocket::DottedAddress(const sockaddr_in& address) {
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return text;
}
