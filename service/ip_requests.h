#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "pipes/mountrequest.h"
#include "service/ip_data.h"

// What the management service does with one TCP record of a peer server (types 1 to 4 and 6:
// a shared file changed there) or of the administration program (types 10 to 17: the sessions
// and drives of this server, and its shared data path).
class CIPRequests {
  public:
    enum Type : uint32_t {
        kTreeChanged = 1,
        kCatalogueChanged = 2,
        kProfilesChanged = 3,
        kAdminFileChanged = 4,
        kServersChanged = 6,
        kListLetters = 10,
        kSetDrives = 11,
        kStandardDrives = 12,
        kListSessions = 13,
        kMessage = 14,
        kInsert = 15,
        kEject = 16,
        kSetSharedPath = 17,
    };
    static constexpr uint32_t kSessionFailure = 77;
    static constexpr uint32_t kBadPayload = 87;
    static constexpr int kSessionPipeTimeoutMs = 250;
    static constexpr int kSessionPipeAttempts = 3;

    struct Hooks {
        // The guarded call of the network access service's pipe.
        std::function<bool(CMountRequest&)> callNetPipe;
        // The guarded call of the service's own pipe.
        std::function<bool(CMountRequest&)> callServicePipe;
        // One call of a session's pipe; true when a whole reply came back.
        std::function<bool(uint32_t session, CMountRequest&)> callSessionPipe;
        // The logged-on sessions, in the logon map's order.
        std::function<std::vector<uint32_t>()> sessions;
        // Hands a record to a worker that sends it to each of `sessions`.
        std::function<void(const CMountRequest&, std::vector<uint32_t> sessions)> notifySessions;
        // The shared data path changed: announce it to the network (type 4).
        std::function<void(const std::string& path)> announcePath;
        // Whether a folder may hold the pool's shared files: 0, or why not (a Win32 code).
        std::function<uint32_t(const std::string& folder)> sharedFolderRefusal;
    };

    // `settingsKey`: the registry key of the service's settings.
    CIPRequests(Hooks hooks, std::string settingsKey)
        : hooks_(std::move(hooks)), settingsKey_(std::move(settingsKey)) {}

    // Handles `record`; true when `reply` is to be sent back.
    bool Handle(const CIPData& record, CIPData& reply);

  private:
    void ListLetters(const CIPData& record, CIPData& reply);
    void SetDrives(const CIPData& record, CIPData& reply);
    void StandardDrives(const CIPData& record, CIPData& reply);
    void ListSessions(CIPData& reply);
    void Message(const CIPData& record);
    void InsertOrEject(const CIPData& record, CIPData& reply, int32_t request);
    void SetSharedPath(const CIPData& record, CIPData& reply);
    // Calls the session's pipe with `request` (its request code set); true when the session
    // answered with the same code. A failed call is logged and leaves request -7.
    bool CallSession(uint32_t session, CMountRequest& request);

    Hooks hooks_;
    std::string settingsKey_;
};
