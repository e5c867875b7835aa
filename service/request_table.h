#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <sys/types.h>
#include <map>
#include <mutex>
#include <optional>

#include "pipes/mountrequest.h"
#include "pipes/refusal_log.h"
#include "platform/named_pipe.h"
#include "service/logon_map.h"
#include "service/password_attempts.h"
#include "service/pipe_reply.h"

// One emulated CD drive of the miniport.
struct CDriveInfo {
    int32_t number = 0;  // n of "\Device\CdRom<n>"
    uint32_t pathId = 0;
    uint32_t targetId = 0;
    uint32_t lun = 0;
    std::string imagePath;
    std::string deviceName;
    std::string volumeName;
    std::list<uint32_t> users;  // session ids in order of insertion; one entry per insert
};

// The request table of the service pipe: the units, the logon map and the handlers that
// change them. Runs on the pipe server thread only; the logon map has its own lock because
// other threads read it. Every request is judged by who sent it (the kernel's word, never the
// record's): a session's requests only from its account, root or an administrator; the
// service's own requests only from root.
class ServiceRequests {
  public:
    using Caller = ombrix::platform::PipeCaller;

    struct Hooks {
        // An event-log entry with a string of the service's table (types as the event log).
        std::function<void(uint16_t type, int stringId)> event;
        // A ready-made event text (strings with inserts).
        std::function<void(uint16_t type, const std::string& text)> eventText;
        // The guarded call of the network access service's pipe; true on success.
        std::function<bool(CMountRequest&)> callNetPipe;
        // Gives a unit an image (empty path: empties it), opened with the rights of `caller`
        // (the service's own when null); the driver's status, 0 on success.
        std::function<uint32_t(const CDriveInfo&, std::string_view path, std::string_view password,
                               const Caller* caller)>
            driverInsert;
        // Tells the driver which accounts may read a unit's disc (besides root).
        std::function<void(const CDriveInfo&, const std::vector<uid_t>& readers)> setReaders;
        // The account of a logged-on session of the server: its user id and name.
        std::function<std::optional<std::pair<uid_t, std::string>>(uint32_t session)>
            sessionAccount;
        // Whether an account is an administrator, and whether it holds a right (2, 8, ...).
        std::function<bool(uid_t)> isAdministrator;
        std::function<bool(uid_t, int right)> hasRight;
        // 0 when `caller` can read the image file `path`, else why not (a Win32 code).
        std::function<uint32_t(const Caller& caller, std::string_view path)> canRead;
        // Hands a notification and the logged-on sessions to a forwarding worker.
        std::function<void(const CMountRequest&, std::vector<uint32_t> sessions)> notifySessions;
        // Requests that concern the peer servers (31, 34 to 39, 46, 49).
        std::function<void(const CMountRequest&)> peerRequest;
        // The sessions of the server that are active or connected; false when unknown.
        std::function<bool(std::vector<uint32_t>&)> enumerateSessions;
        // Opens a session's drive-letter link to the session and reports a failure; the result
        // is 0 or a system error code. Without it the link step is unusable (reported once).
        std::function<int(std::string_view name, uint32_t session, uint32_t logonLow,
                          uint32_t logonHigh)>
            linkSecurity;
    };

    static constexpr size_t kBuckets = 17;

    ServiceRequests(SafeLogonMap& logons, Hooks hooks,
                    CPasswordAttempts::Clock clock = std::chrono::steady_clock::now);

    // Handles one record of `caller` in place. The requests that look at or change the units
    // and logons run one at a time; the notices for the sessions and the peers' requests touch
    // neither and run beside them, so a slow peer or network service never holds up an insert.
    PipeReply handle(CMountRequest& request, const Caller& caller);
    // Runs `look` with the units held still, as the requests that change them do.
    template <typename Look>
    auto withUnits(Look&& look) {
        std::lock_guard guard(unitLock_);
        return look();
    }
    // The same for root (the service's own calls and tests): false after request -1.
    bool handle(CMountRequest& request) {
        return handle(request, Caller{0, 0, 0}) != PipeReply::kAnswerAndEnd;
    }

    // Unit map: keyed by device number, walked in bucket order ((n >> 4) mod 17).
    void addUnit(std::unique_ptr<CDriveInfo> unit);
    void clearUnits();
    CDriveInfo* findUnit(int32_t number);
    std::vector<CDriveInfo*> units();
    int unitCount() const { return unitCount_; }
    CDriveInfo* emptyDevice() { return emptyDevice_; }

    // Empties a unit through the driver; it keeps its image when the driver refuses.
    void emptyUnit(CDriveInfo& unit);
    // Gives up a unit whose image the driver lost: its sessions no longer use it.
    void forgetUnit(CDriveInfo& unit);

  private:
    std::mutex unitLock_;
    void insert(CMountRequest& request, const Caller& caller);
    void eject(CMountRequest& request, const Caller& caller);
    void answerEmptyDevice(CMountRequest& request);
    void unitInfo(CMountRequest& request, const Caller& caller);
    void cleanUpSessions(CMountRequest& request);
    void unitUsers(CMountRequest& request);
    void logOn(CMountRequest& request, const Caller& caller);
    void logOff(CMountRequest& request);
    void listLogons(CMountRequest& request);
    void linkSecurity(CMountRequest& request);

    void event(uint16_t type, int stringId);

    // Whether `caller` may act for `session`: its own account, root or an administrator.
    bool mayActFor(uint32_t session, const Caller& caller);
    std::optional<uid_t> sessionOwner(uint32_t session);
    bool administrator(uid_t uid);
    bool usesUnit(uid_t uid, const CDriveInfo& unit);
    bool mayInsertAndEject(const Caller& caller);
    // Tells the driver the accounts of the sessions now using `unit`.
    void updateReaders(const CDriveInfo& unit);
    void setStandardDrives(CMountRequest& request);
    void refuse(CMountRequest& request, uint32_t code);
    // A refusal is logged once per account and request.
    void logRefusal(const Caller& caller, int32_t code);

    SafeLogonMap& logons_;
    Hooks hooks_;
    CPasswordAttempts passwords_;
    std::map<uint32_t, uid_t> sessionOwners_;  // recorded at log-on
    CRefusalLog refusals_;
    std::array<std::vector<std::unique_ptr<CDriveInfo>>, kBuckets> unitBuckets_;
    CDriveInfo* emptyDevice_ = nullptr;
    int unitCount_ = 0;
    bool linkSecurityReported_ = false;
};
