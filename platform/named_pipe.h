#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>

#include "platform/unique_fd.h"

// Named pipes in message mode: an AF_UNIX SOCK_SEQPACKET socket at pipe/<name> in the machine
// root. Every write is one message and every read takes one whole message, so a record keeps
// its exact size on the way. Pipe names are machine-wide; a name that begins with '\' is an
// object path below the machine root ("\Sessions\3\pipe\X" is Sessions/3/pipe/X), so a pipe
// can live in a folder that only its owner may create things in.
namespace ombrix::win {

constexpr int kBadNetPath = 53;
constexpr int kBrokenPipe = 109;
constexpr int kSemTimeout = 121;
constexpr int kPipeBusy = 231;
constexpr int kNoData = 232;
constexpr int kPipeNotConnected = 233;

}  // namespace ombrix::win

namespace ombrix::platform {

// The socket file of the pipe `name`.
std::filesystem::path pipePath(std::string_view name);

// Who is on the other end of a connection, as the kernel says.
struct PipeCaller {
    pid_t pid = 0;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};

// One connected client of a pipe server: read one request, write one reply.
class PipeConnection {
  public:
    PipeConnection(UniqueFd fd, PipeCaller caller) : fd_(std::move(fd)), caller_(caller) {}

    const PipeCaller& caller() const { return caller_; }

    // Reads one message of at most `capacity` bytes into `buffer`, waiting at most `timeoutMs`
    // (-1: no limit). `size` gets the message's full length, which exceeds `capacity` when the
    // message was longer than the buffer (the rest is dropped). Returns a Win32-style code.
    int read(void* buffer, size_t capacity, size_t& size, int timeoutMs);
    int write(const void* data, size_t size);

  private:
    UniqueFd fd_;
    PipeCaller caller_;
};

// The server end of a pipe; the socket file exists while the object lives.
class NamedPipeServer {
  public:
    // Creates the pipe. `maxInstances` clients may wait to be served at once; further callers
    // see the pipe busy. A socket file left behind by a dead server is replaced; a pipe that
    // another live server serves fails with 5 (access denied).
    static std::unique_ptr<NamedPipeServer> create(std::string_view name, int maxInstances,
                                                   int& error);
    ~NamedPipeServer();
    NamedPipeServer(const NamedPipeServer&) = delete;
    NamedPipeServer& operator=(const NamedPipeServer&) = delete;

    // Waits at most `timeoutMs` (-1: no limit) for the next client; null on time-out or error
    // (`error` = 121 on time-out).
    std::unique_ptr<PipeConnection> accept(int timeoutMs, int& error);

    // Waits at most `timeoutMs` for the next client whose request has arrived, and reads it
    // into `buffer` (`size` as PipeConnection::read). Clients are taken in as they connect, so
    // one that sends nothing holds up nobody: it is closed after `readLimitMs`. Each account has
    // at most kWaitingPerCaller connections waiting; further ones are closed at once. Null on
    // time-out (`error` 121) or error.
    std::unique_ptr<PipeConnection> receive(void* buffer, size_t capacity, size_t& size,
                                            int timeoutMs, int readLimitMs, int& error);

    static constexpr size_t kWaitingPerCaller = 8;
    static constexpr size_t kWaitingAtMost = 128;

  private:
    struct Waiting {
        UniqueFd fd;
        PipeCaller caller;
        std::chrono::steady_clock::time_point deadline;
    };

    NamedPipeServer(UniqueFd fd, std::filesystem::path path)
        : fd_(std::move(fd)), path_(std::move(path)) {}
    void takeIn(int readLimitMs);

    UniqueFd fd_;
    std::vector<Waiting> waiting_;
    UniqueFd lock_;  // held while the server lives
    std::filesystem::path path_;
};

// Connects to `pipeName` on `server` ("." or empty: this machine), sends `in` as one message and
// reads one reply into `out`. While every instance is busy it waits up to `timeoutMs` for one
// (0: a short default; -1: no limit). `bytesRead` gets the reply's full length. Returns 0 or a
// Win32-style code: 2 no such pipe, 121 no instance free in time, 109 the server closed the
// connection without a reply, 234 the reply was longer than `outSize`.
int callNamedPipe(std::string_view server, std::string_view pipeName, const void* in, size_t inSize,
                  void* out, size_t outSize, size_t& bytesRead, int timeoutMs);

// callNamedPipe repeated, without a pause, until it succeeds with a reply of exactly `outSize`
// bytes or `attempts` calls are used up. True on success.
bool callNamedPipeExact(std::string_view server, std::string_view pipeName, const void* in,
                        size_t inSize, void* out, size_t outSize, int timeoutMs, int attempts);

}  // namespace ombrix::platform
