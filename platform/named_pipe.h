#pragma once

#include <cstddef>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

// Named pipes in message mode: an AF_UNIX SOCK_SEQPACKET socket at pipe/<name> in the machine
// root. Every write is one message and every read takes one whole message, so a record keeps
// its exact size on the way. Pipe names are machine-wide.
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

// One connected client of a pipe server: read one request, write one reply.
class PipeConnection {
  public:
    explicit PipeConnection(UniqueFd fd) : fd_(std::move(fd)) {}

    // Reads one message of at most `capacity` bytes into `buffer`, waiting at most `timeoutMs`
    // (-1: no limit). `size` gets the message's full length, which exceeds `capacity` when the
    // message was longer than the buffer (the rest is dropped). Returns a Win32-style code.
    int read(void* buffer, size_t capacity, size_t& size, int timeoutMs);
    int write(const void* data, size_t size);

  private:
    UniqueFd fd_;
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

  private:
    NamedPipeServer(UniqueFd fd, std::filesystem::path path)
        : fd_(std::move(fd)), path_(std::move(path)) {}

    UniqueFd fd_;
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
