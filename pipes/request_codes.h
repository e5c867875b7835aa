#pragma once

#include <cstdint>

// The request codes of the system's pipes, in one numbering: the service pipe, the network pipe
// and the sessions' pipes, and the notices the services pass between them. A number means the
// same on every pipe, except where two names share it (49 and 50 mean one thing on the network
// pipe and another elsewhere). The codes a pipe writes back in place of the request are beside
// them.
namespace ombrix::pipes {

enum Request : int32_t {
    kEndServer = -1,  // service and network pipe: the pipe thread ends (root only)
    kInsert = 1,      // service; a session's pipe: insert for the administrator
    kEject = 2,       // service; a session's pipe: eject for the administrator
    kEmptyDevice = 3,
    kUnitInfo = 4,
    kCleanUpSessions = 6,
    kUnitCount = 7,
    kUnitUsers = 8,
    kDeviceName = 9,
    kAccessNotice = 10,  // to a session: a process touched one of its units
    kListDrives = 16,    // a session's pipe
    kLogOn = 17,
    kLogOff = 18,
    kListLogons = 19,
    kDescribeDrive = 22,   // a session's pipe
    kSetDrives = 23,       // a session's pipe
    kStandardDrives = 29,  // a session's pipe
    kLinkSecurity = 30,
    kReloadPeers = 31,     // to the service: the server list was read (data kServerListChanged)
    kPasswordDigest = 32,  // network pipe
    kPasswordCheck = 33,   // network pipe
    kNetServiceStarted = 34,
    // Re-reads of the shared files: asked of the network pipe, passed on to the peers by the
    // service.
    kReadCatalogue = 35,
    kReadTree = 36,
    kReadProfiles = 37,
    kReadServerList = 38,
    kReadAdminFile = 39,
    // Notices to the sessions.
    kCatalogueReloaded = 40,
    kImagesRemoved = 41,
    kImagesAdded = 42,
    kImagesChanged = 43,
    kTreeChanged = 44,
    kAdminDrivesChanged = 45,
    kNotifyPeersAndNet = 46,  // to the service: tell the peers and the network service
    kUserMessage = 48,        // a session's pipe: an administrator's text for the user
    kServerPortChanged = 49,  // service pipe
    kSetServerPort = 49,      // network pipe
    kConfigPathChanged = 50,  // to the sessions: the shared folder moved
    kCheckNow = 50,           // network pipe: look at the shared files now
    kReadSettings = 51,       // network pipe
    kLeavePool = 52,          // network pipe
    kSetStandardDrives = 53,  // service pipe: the drive letters every session gets (admins)
};

// The data of kReadServerList that empties the published server list instead of reading it.
constexpr uint32_t kClearServers = 46;
// The data of kReloadPeers when the list changed and the peers are to hear of it.
constexpr uint32_t kServerListChanged = 47;

// Codes written in place of the request.
enum Result : int32_t {
    kNoUnit = -4,
    kNoEmptyDevice = -6,
    kUnitMissing = -7,
    kNoSuchUnit = -9,
    kAlreadyLoggedOn = -13,
    kNotLoggedOn = -16,
    kRefused = -19,  // the data says why: a Win32 code, or 600 for a missing right
    // Network pipe.
    kWrongPassword = -7,
    kReadFailed = -8,
    kSettingNotApplied = -7,  // the server port or leaving the pool (49, 52)
    // Administration records passed to a session's pipe.
    kSessionPipeFailed = -7,
};

}  // namespace ombrix::pipes
