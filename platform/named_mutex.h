#pragma once

#include <atomic>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/unique_fd.h"

namespace ombrix::platform {

// The file in the machine root that stands for a kernel object of that name. "Global\\X" is
// machine-wide; "Local\\X" and a bare name belong to the caller's session (session 0 shares the
// machine-wide space). Over-long names are shortened with a hash so every name fits a file name.
std::filesystem::path kernelObjectPath(std::string_view name);

// A kernel object's name as a file name: letters, digits, '_', '-' and '.' stay, every other
// byte becomes %XX, so distinct names stay distinct files; over-long names end in a hash.
std::string kernelObjectFileName(std::string_view name);

// A named, cross-process mutex. A thread that holds it may take it again (counted); the holder
// across processes is an open-file-description lock on its file in sync/, which the kernel drops
// when the holding process dies, so an abandoned mutex is acquired by the next waiter, never a
// hang. Threads of one process sharing one object are kept apart by an in-process mutex.
class NamedMutex {
  public:
    enum class WaitResult { Acquired, Abandoned, TimedOut, Failed };

    explicit NamedMutex(std::string_view name);
    NamedMutex(const NamedMutex&) = delete;
    NamedMutex& operator=(const NamedMutex&) = delete;
    ~NamedMutex();

    // 0 when the mutex could be created or opened, else a Win32-style code.
    int openError() const { return openError_; }

    // Waits at most `timeoutMs` (-1: no limit). Abandoned: the previous holder died holding it;
    // the caller holds it now all the same.
    WaitResult lock(int timeoutMs);
    void unlock();
    // Whether any process holds the mutex now, asked without taking it: a prober never gets in
    // the way of a holder starting up.
    bool heldByAnyone() const;
    bool heldByThisThread() const { return owner_.load() == std::this_thread::get_id(); }

  private:
    bool tryFileLock(bool& abandoned);

    UniqueFd fd_;
    int openError_ = 0;
    std::timed_mutex local_;
    std::atomic<std::thread::id> owner_{};
    int depth_ = 0;
};

}  // namespace ombrix::platform
