#include "platform/named_event.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/named_mutex.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

// Byte 0: state (1 set); byte 1: 1 for manual reset; byte 8: held (shared) by every holder.
constexpr off_t kStateByte = 0;
constexpr off_t kManualByte = 1;
constexpr off_t kHolderByte = 8;

// Nobody waits for a lock without end: a holder that never lets go (any account that can read
// the file can take a read lock) only costs the others this long.
constexpr int kLockWaitMs = 2000;

bool lockRange(int fd, short type, off_t start, off_t length, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLockWaitMs);
    auto pause = std::chrono::microseconds(100);
    while (::fcntl(fd, F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR && errno != EAGAIN && errno != EACCES) return false;
        if (!wait || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(2)) pause *= 2;
    }
    return true;
}

bool anyHolder(int fd) {
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    probe.l_start = kHolderByte;
    probe.l_len = 1;
    if (::fcntl(fd, F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

}  // namespace

std::unique_ptr<NamedEvent> NamedEvent::create(std::string_view name, bool manualReset,
                                               bool initiallySet, int& error, bool everybodySets) {
    std::string path = kernelObjectPath(name).string();
    // Other accounts may watch an event but not change it.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (fd.valid() && everybodySets) ::fchmod(fd.get(), 0666);
    if (!fd.valid()) {
        error = win::fromErrno(errno, path.c_str());
        return nullptr;
    }
    // The first holder sets the event up; later creators only join it.
    lockRange(fd.get(), F_WRLCK, kStateByte, 2, true);
    if (!anyHolder(fd.get())) {
        char state[2] = {static_cast<char>(initiallySet), static_cast<char>(manualReset)};
        (void)!::pwrite(fd.get(), state, sizeof state, kStateByte);
    }
    lockRange(fd.get(), F_RDLCK, kHolderByte, 1, true);
    lockRange(fd.get(), F_UNLCK, kStateByte, 2, false);
    error = win::kSuccess;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(fd)));
}

std::unique_ptr<NamedEvent> NamedEvent::open(std::string_view name, int& error) {
    std::string path = kernelObjectPath(name).string();
    bool watchOnly = false;
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid() && errno == EACCES) {
        fd.reset(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        watchOnly = true;
    }
    if (!fd.valid()) {
        error = errno == ENOENT ? win::kFileNotFound : win::fromErrno(errno, path.c_str());
        return nullptr;
    }
    bool alive = anyHolder(fd.get());
    if (!watchOnly) {
        lockRange(fd.get(), F_WRLCK, kStateByte, 2, true);
        alive = anyHolder(fd.get());
        if (alive) lockRange(fd.get(), F_RDLCK, kHolderByte, 1, true);
        lockRange(fd.get(), F_UNLCK, kStateByte, 2, false);
    }
    if (!alive) {
        error = win::kFileNotFound;
        return nullptr;
    }
    error = win::kSuccess;
    auto event = std::unique_ptr<NamedEvent>(new NamedEvent(std::move(fd)));
    event->watchOnly_ = watchOnly;
    return event;
}

template <typename Change>
bool NamedEvent::withState(Change change) {
    char state[2] = {0, 0};
    if (watchOnly_) {
        // A watcher sees the state as it is and changes nothing.
        (void)!::pread(fd_.get(), state, sizeof state, kStateByte);
        return change(state);
    }
    // A lock that cannot be had in time does not stop the change: the state is one byte.
    bool locked = lockRange(fd_.get(), F_WRLCK, kStateByte, 2, true);
    (void)!::pread(fd_.get(), state, sizeof state, kStateByte);
    bool result = change(state);
    (void)!::pwrite(fd_.get(), state, sizeof state, kStateByte);
    if (locked) lockRange(fd_.get(), F_UNLCK, kStateByte, 2, false);
    return result;
}

bool NamedEvent::set() {
    if (watchOnly_) return false;
    return withState([](char* state) { return (state[kStateByte] = 1) != 0; });
}

bool NamedEvent::reset() {
    if (watchOnly_) return false;
    return withState([](char* state) { return (state[kStateByte] = 0) == 0; });
}

bool NamedEvent::isSet() {
    return withState([](char* state) { return state[kStateByte] != 0; });
}

bool NamedEvent::wait(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        bool signalled = withState([](char* state) {
            if (state[kStateByte] == 0) return false;
            if (state[kManualByte] == 0) state[kStateByte] = 0;
            return true;
        });
        if (signalled) return true;
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

}  // namespace ombrix::platform
