#include "platform/terminal_sessions.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "platform/account.h"
#include "platform/machine_root.h"
#include "platform/root_layout.h"
#include "platform/session_id.h"
#include "platform/win_error.h"

namespace ombrix::wts {
namespace {

namespace fs = std::filesystem;
using platform::rootPath;

constexpr size_t kMaxUserName = 256;

fs::path sessionsFolder() {
    fs::path folder = rootPath("Sessions/x").parent_path();
    std::error_code ec;
    fs::create_directories(folder, ec);
    return folder;
}

fs::path sessionFolder(uint32_t session) {
    return sessionsFolder() / std::to_string(session);
}

// Writes `text` to `path` through a temporary file and a rename, so readers never see half.
int writeAtomically(const fs::path& path, const std::string& text) {
    fs::path temp = path;
    temp += ".tmp" + std::to_string(::getpid());
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out) return win::fromErrno(errno, temp.c_str());
        out << text;
        if (!out.flush()) return win::kGenFailure;
    }
    std::error_code ec;
    fs::rename(temp, path, ec);
    if (ec) {
        fs::remove(temp, ec);
        return win::kGenFailure;
    }
    return 0;
}

// What a session file says, when root (or this process's own account) wrote it: who a session
// belongs to is never taken from a file its user could have put there.
bool readText(const fs::path& path, std::string& out) {
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_uid != 0 && st.st_uid != ::geteuid()) || st.st_size > 4096) {
        return false;
    }
    char buffer[4096];
    ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
    if (n < 0) return false;
    out.assign(buffer, static_cast<size_t>(n));
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return true;
}

// A marker that exists for an instant: waiters watching Sessions/ see its creation.
void announce(const char* what, uint32_t session) {
    fs::path marker = sessionsFolder() / (std::string(what) + std::to_string(session));
    int fd = ::open(marker.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (fd >= 0) ::close(fd);
    ::unlink(marker.c_str());
}

bool parseId(const std::string& text, uint32_t& out) {
    if (text.empty() || text.size() > 10) return false;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (*end != '\0' || value > 0xFFFFFFFFul) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

int logOn(uint32_t session, std::string_view user) {
    if (user.empty() || user.size() > kMaxUserName || user.find('\n') != std::string_view::npos ||
        user.find('\0') != std::string_view::npos) {
        return win::kInvalidParameter;
    }
    platform::prepareMachineRoot();
    fs::path folder = sessionFolder(session);
    // A session of this id that was never logged off belongs to nobody now.
    SessionInfo previous;
    if (querySession(session, previous) == 0 && previous.user != user) {
        platform::removeSessionObjects(session);
    }
    // The session's own folders belong to its account; an account unknown here gets none of
    // them, and only root acts for that session.
    int rc = platform::createSessionObjects(session, platform::accountByName(user));
    if (rc != 0) return rc;
    rc = writeAtomically(folder / "user", std::string(user) + "\n");
    if (rc == 0) rc = writeAtomically(folder / "state", std::to_string(kActive) + "\n");
    if (rc == 0) announce(".logon-", session);
    return rc;
}

int logOff(uint32_t session) {
    fs::path folder = sessionFolder(session);
    std::error_code ec;
    if (!fs::remove(folder / "state", ec)) return ec ? win::kAccessDenied : win::kFileNotFound;
    fs::remove(folder / "user", ec);
    platform::removeSessionObjects(session);
    announce(".logoff-", session);
    return 0;
}

int querySession(uint32_t session, SessionInfo& out) {
    fs::path folder = sessionFolder(session);
    std::string state;
    if (!readText(folder / "state", state)) {
        if (session != 0) return win::kFileNotFound;
        // The services' session always exists.
        out = SessionInfo{};
        return 0;
    }
    SessionInfo info;
    info.id = session;
    readText(folder / "user", info.user);
    uint32_t number = 0;
    info.state = parseId(state, number) ? static_cast<int>(number) : kDown;
    out = std::move(info);
    return 0;
}

int enumerateSessions(std::vector<SessionInfo>& out) {
    out.clear();
    std::error_code ec;
    fs::directory_iterator it(sessionsFolder(), ec);
    if (ec) return win::kAccessDenied;
    SessionInfo services;
    querySession(0, services);
    out.push_back(services);
    for (const auto& entry : it) {
        uint32_t id = 0;
        if (!parseId(entry.path().filename().string(), id) || id == 0) continue;
        SessionInfo info;
        if (querySession(id, info) == 0) out.push_back(std::move(info));
    }
    std::sort(out.begin(), out.end(),
              [](const SessionInfo& a, const SessionInfo& b) { return a.id < b.id; });
    return 0;
}

bool processIdToSessionId(int pid, uint32_t& session) {
    if (pid <= 0) return false;
    std::error_code ec;
    if (!fs::exists("/proc/" + std::to_string(pid), ec)) return false;
    session = platform::sessionIdOfProcess(pid);
    return true;
}

SystemEventWaiter::SystemEventWaiter()
    : inotify_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)),
      wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

SystemEventWaiter::~SystemEventWaiter() = default;

bool SystemEventWaiter::ensureWatch() {
    if (!inotify_.valid() || !wake_.valid()) return false;
    if (watch_ >= 0) return true;
    watch_ = ::inotify_add_watch(inotify_.get(), sessionsFolder().c_str(), IN_CREATE);
    return watch_ >= 0;
}

bool SystemEventWaiter::waitSystemEvent(uint32_t mask, uint32_t& flags) {
    if (mask & kEventFlush) {
        if (!wake_.valid()) return false;
        uint64_t one = 1;
        return ::write(wake_.get(), &one, sizeof one) == sizeof one;
    }
    if (!ensureWatch()) return false;
    for (;;) {
        pollfd fds[2] = {{inotify_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
        int rc = ::poll(fds, 2, -1);
        if (rc < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (fds[1].revents & POLLIN) {
            uint64_t count = 0;
            (void)::read(wake_.get(), &count, sizeof count);
            flags = kEventNone;
            return true;
        }
        alignas(inotify_event) char buffer[4096];
        ssize_t n = ::read(inotify_.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) continue;
            return false;
        }
        uint32_t seen = 0;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            std::string_view name = event->len > 0 ? std::string_view(event->name) : "";
            if (name.starts_with(".logon-")) seen |= kEventLogon | kEventStateChange;
            if (name.starts_with(".logoff-")) seen |= kEventLogoff | kEventStateChange;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
        if (seen & mask) {
            flags = seen & mask;
            return true;
        }
    }
}

}  // namespace ombrix::wts
