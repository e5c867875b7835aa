#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "service/logon_map.h"
#include "service/mountrequest.h"

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
// other threads read it.
class ServiceRequests {
  public:
    struct Hooks {
        // An event-log entry with a string of the service's table (types as the event log).
        std::function<void(uint16_t type, int stringId)> event;
        // A ready-made event text (strings with inserts).
        std::function<void(uint16_t type, const std::string& text)> eventText;
        // The guarded call of the network access service's pipe; true on success.
        std::function<bool(CMountRequest&)> callNetPipe;
        // Gives a unit an image (empty path: empties it); the driver's status, 0 on success.
        std::function<uint32_t(const CDriveInfo&, std::string_view path, std::string_view password)>
            driverInsert;
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

    ServiceRequests(SafeLogonMap& logons, Hooks hooks);

    // Handles one record in place. Returns false when the server thread should end after
    // writing the reply (request -1).
    bool handle(CMountRequest& request);

    // Unit map: keyed by device number, walked in bucket order ((n >> 4) mod 17).
    void addUnit(std::unique_ptr<CDriveInfo> unit);
    void clearUnits();
    CDriveInfo* findUnit(int32_t number);
    std::vector<CDriveInfo*> units();
    int unitCount() const { return unitCount_; }
    CDriveInfo* emptyDevice() { return emptyDevice_; }

    // Empties a unit through the driver; it keeps its image when the driver refuses.
    void emptyUnit(CDriveInfo& unit);

  private:
    void insert(CMountRequest& request);
    void eject(CMountRequest& request);
    void answerEmptyDevice(CMountRequest& request);
    void unitInfo(CMountRequest& request);
    void cleanUpSessions(CMountRequest& request);
    void unitUsers(CMountRequest& request);
    void logOn(CMountRequest& request);
    void logOff(CMountRequest& request);
    void listLogons(CMountRequest& request);
    void linkSecurity(CMountRequest& request);

    void event(uint16_t type, int stringId);

    SafeLogonMap& logons_;
    Hooks hooks_;
    std::array<std::vector<std::unique_ptr<CDriveInfo>>, kBuckets> unitBuckets_;
    CDriveInfo* emptyDevice_ = nullptr;
    int unitCount_ = 0;
    bool linkSecurityReported_ = false;
};
