#include "platform/named_mutex.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>

#include "platform/machine_root.h"
#include "platform/session_id.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

constexpr size_t kMaxFileName = 200;

uint64_t fnv1a(std::string_view text) {
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return hash;
}

}  // namespace

std::string kernelObjectFileName(std::string_view name) {
    std::string out;
    for (unsigned char c : name) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                     c == '_' || c == '-' || c == '.';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    if (out.empty() || out == "." || out == "..") out = "%" + out;
    if (out.size() > kMaxFileName) {
        char tail[20];
        std::snprintf(tail, sizeof tail, "~%016llx", static_cast<unsigned long long>(fnv1a(name)));
        out = out.substr(0, kMaxFileName - 17) + tail;
    }
    return out;
}

namespace {

// The holder writes its pid into the file and clears it on release; a pid still there when the
// lock is next taken means the holder died without releasing.
constexpr off_t kOwnerOffset = 0;

}  // namespace

std::filesystem::path kernelObjectPath(std::string_view name) {
    constexpr std::string_view kGlobal = "Global\\";
    constexpr std::string_view kLocal = "Local\\";
    std::string folder = "sync/Global/";
    if (name.substr(0, kGlobal.size()) == kGlobal) {
        name.remove_prefix(kGlobal.size());
    } else {
        if (name.substr(0, kLocal.size()) == kLocal) name.remove_prefix(kLocal.size());
        uint32_t session = currentSessionId();
        if (session != 0) folder = "sync/Session" + std::to_string(session) + "/";
    }
    return rootPath(folder + kernelObjectFileName(name));
}

NamedMutex::NamedMutex(std::string_view name) {
    std::string path = kernelObjectPath(name).string();
    // Only the creator's account opens a mutex: anybody able to lock it could hold it forever.
    // Others find it closed (5) and go ahead without it.
    fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!fd_.valid()) openError_ = win::fromErrno(errno, path.c_str());
}

NamedMutex::~NamedMutex() {
    while (heldByThisThread())
        unlock();
}

bool NamedMutex::tryFileLock(bool& abandoned) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (::fcntl(fd_.get(), F_OFD_SETLK, &lock) != 0) return false;
    int32_t previous = 0;
    abandoned = ::pread(fd_.get(), &previous, sizeof previous, kOwnerOffset) ==
                    static_cast<ssize_t>(sizeof previous) &&
                previous != 0;
    int32_t self = static_cast<int32_t>(::getpid());
    (void)!::pwrite(fd_.get(), &self, sizeof self, kOwnerOffset);
    return true;
}

NamedMutex::WaitResult NamedMutex::lock(int timeoutMs) {
    if (openError_ != 0) return WaitResult::Failed;
    if (heldByThisThread()) {
        ++depth_;
        return WaitResult::Acquired;
    }
    using Clock = std::chrono::steady_clock;
    const bool forever = timeoutMs < 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(forever ? 0 : timeoutMs);

    if (forever) {
        local_.lock();
    } else if (!local_.try_lock_until(deadline)) {
        return WaitResult::TimedOut;
    }

    bool abandoned = false;
    auto pause = std::chrono::microseconds(200);
    while (!tryFileLock(abandoned)) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            local_.unlock();
            return WaitResult::Failed;
        }
        if (!forever && Clock::now() >= deadline) {
            local_.unlock();
            return WaitResult::TimedOut;
        }
        std::this_thread::sleep_for(pause);
        if (pause < std::chrono::milliseconds(5)) pause *= 2;
    }
    owner_.store(std::this_thread::get_id());
    depth_ = 1;
    return abandoned ? WaitResult::Abandoned : WaitResult::Acquired;
}

bool NamedMutex::heldByAnyone() const {
    if (openError_ != 0) return false;
    if (heldByThisThread()) return true;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd_.get(), F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

void NamedMutex::unlock() {
    if (!heldByThisThread()) return;
    if (--depth_ > 0) return;
    int32_t none = 0;
    (void)!::pwrite(fd_.get(), &none, sizeof none, kOwnerOffset);
    struct flock lock {};
    lock.l_type = F_UNLCK;
    lock.l_whence = SEEK_SET;
    ::fcntl(fd_.get(), F_OFD_SETLK, &lock);
    owner_.store(std::thread::id{});
    local_.unlock();
}

}  // namespace ombrix::platform
