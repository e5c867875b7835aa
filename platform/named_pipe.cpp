#include "platform/named_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>

#include "platform/machine_root.h"
#include "platform/named_mutex.h"
#include "platform/object_manager.h"
#include "platform/unix_address.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

// How long a caller waits for a free instance when it gives no time-out of its own.
constexpr int kDefaultWaitMs = 500;
// A caller never waits longer than this for the reply of a connected server.
constexpr int kReplyLimitMs = 30000;

int waitReadable(int fd, int timeoutMs) {
    pollfd entry{fd, POLLIN, 0};
    for (;;) {
        int rc = ::poll(&entry, 1, timeoutMs);
        if (rc > 0) return 0;
        if (rc == 0) return win::kSemTimeout;
        if (errno != EINTR) return win::fromErrno(errno);
    }
}

// Takes one whole message; `size` gets its full length even when it did not fit.
int receiveMessage(int fd, void* buffer, size_t capacity, size_t& size) {
    for (;;) {
        ssize_t n = ::recv(fd, buffer, capacity, MSG_TRUNC);
        if (n > 0) {
            size = static_cast<size_t>(n);
            return 0;
        }
        if (n == 0) return win::kBrokenPipe;
        if (errno == EINTR) continue;
        return errno == ECONNRESET ? win::kBrokenPipe : win::fromErrno(errno);
    }
}

int connectPipe(const std::filesystem::path& path, int timeoutMs, UniqueFd& out) {
    using Clock = std::chrono::steady_clock;
    if (timeoutMs == 0) timeoutMs = kDefaultWaitMs;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    sockaddr_un address;
    UniqueFd folder;
    if (!unixAddressFor(path, address, folder)) return win::kFileNotFound;
    auto pause = std::chrono::microseconds(100);
    for (;;) {
        UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (!fd.valid()) return win::fromErrno(errno);
        if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            int flags = ::fcntl(fd.get(), F_GETFL);
            ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
            out = std::move(fd);
            return 0;
        }
        // A full queue means every instance is busy: wait for one, as long as the caller allows.
        if (errno != EAGAIN && errno != EINTR) {
            return (errno == ENOENT || errno == ECONNREFUSED || errno == ENOTDIR)
                       ? win::kFileNotFound
                       : win::fromErrno(errno);
        }
        if (timeoutMs >= 0 && Clock::now() >= deadline) return win::kSemTimeout;
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(5)) pause *= 2;
    }
}

PipeCaller peerOf(int fd) {
    ucred cred{};
    socklen_t length = sizeof cred;
    PipeCaller caller;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0) {
        caller.pid = cred.pid;
        caller.uid = cred.uid;
        caller.gid = cred.gid;
    }
    return caller;
}

}  // namespace

std::filesystem::path pipePath(std::string_view name) {
    if (!name.empty() && name.front() == '\\') {
        std::filesystem::path file = objmgr::kernelPathFile(name);
        if (!file.empty()) return file;
    }
    return rootPath("pipe/" + kernelObjectFileName(name));
}

int PipeConnection::read(void* buffer, size_t capacity, size_t& size, int timeoutMs) {
    size = 0;
    if (int rc = waitReadable(fd_.get(), timeoutMs); rc != 0) return rc;
    return receiveMessage(fd_.get(), buffer, capacity, size);
}

int PipeConnection::write(const void* data, size_t size) {
    for (;;) {
        ssize_t n = ::send(fd_.get(), data, size, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(size)) return 0;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) return win::kNoData;
        return n < 0 ? win::fromErrno(errno) : win::kBrokenPipe;
    }
}

std::unique_ptr<NamedPipeServer> NamedPipeServer::create(std::string_view name, int maxInstances,
                                                         int& error) {
    error = 0;
    std::filesystem::path path = pipePath(name);
    // The lock file belongs to the live server; a socket file without a locked lock file is
    // left over from a server that died and may be replaced.
    std::error_code ec;
    std::filesystem::create_directories(path.parent_path(), ec);
    // Nobody but the server's own account may open the lock file: a lock held by anybody else
    // would keep the server from its own pipe.
    std::string lockPath = path.string() + ".lock";
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lock.valid()) {
        error = win::fromErrno(errno, lockPath.c_str());
        return nullptr;
    }
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(lock.get(), F_OFD_SETLK, &range) != 0) {
        error = win::kAccessDenied;
        return nullptr;
    }
    ::unlink(path.c_str());

    sockaddr_un address;
    UniqueFd folder;
    if (!unixAddressFor(path, address, folder)) {
        error = win::kFilenameTooLong;
        return nullptr;
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    if (!fd.valid()) {
        error = win::fromErrno(errno);
        return nullptr;
    }
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        error = win::fromErrno(errno, path.c_str());
        return nullptr;
    }
    ::chmod(path.c_str(), 0666);  // everybody may connect
    // The kernel lets one connection more than the backlog wait.
    int backlog = maxInstances > 1 ? maxInstances - 1 : 0;
    if (::listen(fd.get(), backlog) != 0) {
        error = win::fromErrno(errno);
        ::unlink(path.c_str());
        return nullptr;
    }
    auto server = std::unique_ptr<NamedPipeServer>(new NamedPipeServer(std::move(fd), path));
    server->lock_ = std::move(lock);
    return server;
}

NamedPipeServer::~NamedPipeServer() {
    ::unlink(path_.c_str());
}

std::unique_ptr<PipeConnection> NamedPipeServer::accept(int timeoutMs, int& error) {
    error = waitReadable(fd_.get(), timeoutMs);
    if (error != 0) return nullptr;
    int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        error = win::fromErrno(errno);
        return nullptr;
    }
    return std::make_unique<PipeConnection>(UniqueFd(fd), peerOf(fd));
}

// Accepts one waiting client, unless its account already has its share of waiting connections.
void NamedPipeServer::takeIn(int readLimitMs) {
    int fd = ::accept4(fd_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    UniqueFd connection(fd);
    PipeCaller caller = peerOf(fd);
    size_t mine = 0;
    for (const Waiting& w : waiting_)
        mine += w.caller.uid == caller.uid ? 1 : 0;
    if (mine >= kWaitingPerCaller || waiting_.size() >= kWaitingAtMost) return;
    waiting_.push_back({std::move(connection), caller,
                        std::chrono::steady_clock::now() + std::chrono::milliseconds(readLimitMs)});
}

std::unique_ptr<PipeConnection> NamedPipeServer::receive(void* buffer, size_t capacity,
                                                         size_t& size, int timeoutMs,
                                                         int readLimitMs, int& error) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    size = 0;
    error = 0;
    for (;;) {
        const auto now = Clock::now();
        std::erase_if(waiting_, [&](const Waiting& w) { return w.deadline <= now; });
        auto next = timeoutMs < 0 ? Clock::time_point::max() : deadline;
        for (const Waiting& w : waiting_)
            next = std::min(next, w.deadline);
        int wait = next == Clock::time_point::max()
                       ? -1
                       : static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(
                                              std::max(next - now, Clock::duration::zero()))
                                              .count());
        std::vector<pollfd> fds{{fd_.get(), POLLIN, 0}};
        for (const Waiting& w : waiting_)
            fds.push_back({w.fd.get(), POLLIN, 0});
        int rc = ::poll(fds.data(), fds.size(), wait);
        if (rc < 0 && errno != EINTR) {
            error = win::fromErrno(errno);
            return nullptr;
        }
        for (size_t i = 1; rc > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            Waiting& w = waiting_[i - 1];
            ssize_t n = ::recv(w.fd.get(), buffer, capacity, MSG_TRUNC | MSG_DONTWAIT);
            if (n > 0) {
                int flags = ::fcntl(w.fd.get(), F_GETFL);
                ::fcntl(w.fd.get(), F_SETFL, flags & ~O_NONBLOCK);
                size = static_cast<size_t>(n);
                auto connection = std::make_unique<PipeConnection>(std::move(w.fd), w.caller);
                waiting_.erase(waiting_.begin() + static_cast<long>(i - 1));
                return connection;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) w.fd.reset();
        }
        std::erase_if(waiting_, [](const Waiting& w) { return !w.fd.valid(); });
        if (rc > 0 && (fds[0].revents & POLLIN)) takeIn(readLimitMs);
        if (timeoutMs >= 0 && Clock::now() >= deadline) {
            error = win::kSemTimeout;
            return nullptr;
        }
    }
}

int callNamedPipe(std::string_view server, std::string_view pipeName, const void* in, size_t inSize,
                  void* out, size_t outSize, size_t& bytesRead, int timeoutMs) {
    bytesRead = 0;
    if (!server.empty() && server != ".") return win::kBadNetPath;
    UniqueFd fd;
    if (int rc = connectPipe(pipePath(pipeName), timeoutMs, fd); rc != 0) return rc;
    for (;;) {
        ssize_t n = ::send(fd.get(), in, inSize, MSG_NOSIGNAL);
        if (n == static_cast<ssize_t>(inSize)) break;
        if (n < 0 && errno == EINTR) continue;
        return n < 0
                   ? (errno == EPIPE || errno == ECONNRESET ? win::kNoData : win::fromErrno(errno))
                   : win::kBrokenPipe;
    }
    if (int rc = waitReadable(fd.get(), kReplyLimitMs); rc != 0) return rc;
    if (int rc = receiveMessage(fd.get(), out, outSize, bytesRead); rc != 0) return rc;
    return bytesRead > outSize ? win::kMoreData : 0;
}

bool callNamedPipeExact(std::string_view server, std::string_view pipeName, const void* in,
                        size_t inSize, void* out, size_t outSize, int timeoutMs, int attempts) {
    for (int i = 0; i < attempts; ++i) {
        size_t read = 0;
        if (callNamedPipe(server, pipeName, in, inSize, out, outSize, read, timeoutMs) == 0 &&
            read == outSize) {
            return true;
        }
    }
    return false;
}

}  // namespace ombrix::platform
