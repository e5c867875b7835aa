#include "platform/named_event.h"

#include <fcntl.h>
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

bool lockRange(int fd, short type, off_t start, off_t length, bool wait) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = start;
    lock.l_len = length;
    while (::fcntl(fd, wait ? F_OFD_SETLKW : F_OFD_SETLK, &lock) != 0) {
        if (errno != EINTR) return false;
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
                                               bool initiallySet, int& error) {
    std::string path = kernelObjectPath(name).string();
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666));
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
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) {
        error = errno == ENOENT ? win::kFileNotFound : win::fromErrno(errno, path.c_str());
        return nullptr;
    }
    lockRange(fd.get(), F_WRLCK, kStateByte, 2, true);
    bool alive = anyHolder(fd.get());
    if (alive) lockRange(fd.get(), F_RDLCK, kHolderByte, 1, true);
    lockRange(fd.get(), F_UNLCK, kStateByte, 2, false);
    if (!alive) {
        error = win::kFileNotFound;
        return nullptr;
    }
    error = win::kSuccess;
    return std::unique_ptr<NamedEvent>(new NamedEvent(std::move(fd)));
}

template <typename Change>
bool NamedEvent::withState(Change change) {
    if (!lockRange(fd_.get(), F_WRLCK, kStateByte, 2, true)) return false;
    char state[2] = {0, 0};
    (void)!::pread(fd_.get(), state, sizeof state, kStateByte);
    bool result = change(state);
    (void)!::pwrite(fd_.get(), state, sizeof state, kStateByte);
    lockRange(fd_.get(), F_UNLCK, kStateByte, 2, false);
    return result;
}

bool NamedEvent::set() {
    return withState([](char* state) { return (state[kStateByte] = 1) != 0; });
}

bool NamedEvent::reset() {
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
