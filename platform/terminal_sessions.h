#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

// The terminal server's sessions: Sessions/<sid>/ in the machine root holds the files "user"
// (the account name) and "state" (the connect state as a decimal number). A session is logged
// on while its state file exists. Log-on and log-off leave a short-lived marker file
// ".logon-<sid>" / ".logoff-<sid>" in Sessions/, which is how waiters hear of them (inotify).
namespace ombrix::wts {

enum ConnectState : int {
    kActive = 0,
    kConnected = 1,
    kConnectQuery = 2,
    kShadow = 3,
    kDisconnected = 4,
    kIdle = 5,
    kListen = 6,
    kReset = 7,
    kDown = 8,
    kInit = 9,
};

// Event bits of waitSystemEvent, as the terminal-services interface numbers them.
constexpr uint32_t kEventNone = 0;
constexpr uint32_t kEventCreate = 0x1;
constexpr uint32_t kEventDelete = 0x2;
constexpr uint32_t kEventLogon = 0x20;
constexpr uint32_t kEventLogoff = 0x40;
constexpr uint32_t kEventStateChange = 0x80;
constexpr uint32_t kEventAll = 0x7FFFFFFF;
constexpr uint32_t kEventFlush = 0x80000000;

struct SessionInfo {
    uint32_t id = 0;
    std::string user;
    int state = kActive;
};

// Logs a session on (state active) for `user`; a session already logged on gets the new user.
// Returns 0 or a Win32-style code (87 for an empty or over-long user name).
int logOn(uint32_t session, std::string_view user);
// Logs a session off: its user and state go, and so do its drive-letter links (DosDevices/).
// 2 when it was not logged on.
int logOff(uint32_t session);
// The logged-on sessions in ascending id order, always with session 0 (the services' session,
// active, no user unless one was logged on there); 0 or a Win32-style code.
int enumerateSessions(std::vector<SessionInfo>& out);
int querySession(uint32_t session, SessionInfo& out);

// A process's session, as the kernel interface answers it: false when the process does not
// exist (or cannot be read).
bool processIdToSessionId(int pid, uint32_t& session);

// The waits of one server handle. waitSystemEvent blocks until one of the events in `mask`
// happens; a call whose mask holds kEventFlush instead wakes every wait of this object, which
// then returns true with `flags` = kEventNone. Events that happen between two waits are kept.
class SystemEventWaiter {
  public:
    SystemEventWaiter();
    ~SystemEventWaiter();
    SystemEventWaiter(const SystemEventWaiter&) = delete;
    SystemEventWaiter& operator=(const SystemEventWaiter&) = delete;

    // False when the wait could not be made (`flags` unchanged).
    bool waitSystemEvent(uint32_t mask, uint32_t& flags);
    // Starts watching now (the first wait does otherwise): events from here on are kept.
    bool arm() { return ensureWatch(); }

  private:
    bool ensureWatch();

    platform::UniqueFd inotify_;
    platform::UniqueFd wake_;  // eventfd written by a flush
    int watch_ = -1;
};

}  // namespace ombrix::wts
