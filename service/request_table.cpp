#include "service/request_table.h"

#include <algorithm>
#include <cstring>

#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/event_log.h"
#include "service/service_strings.h"

namespace {

namespace ev = ombrix::eventlog;

// The notices the services pass on to the sessions.
bool isSessionNotification(int32_t code) {
    return (code >= CMountRequest::kCatalogueReloaded &&
            code <= CMountRequest::kAdminDrivesChanged) ||
           code == CMountRequest::kConfigPathChanged;
}

// The network service's and the peers' requests.
bool isPeerRequest(int32_t code) {
    return code == CMountRequest::kReloadPeers ||
           (code >= CMountRequest::kNetServiceStarted && code <= CMountRequest::kReadAdminFile) ||
           code == CMountRequest::kNotifyPeersAndNet || code == CMountRequest::kServerPortChanged;
}

void setGlobal(const char* pattern, int32_t number, std::string_view value) {
    char key[32];
    std::snprintf(key, sizeof key, pattern, number);
    EnvSetGlobalValue(key, std::string(value).c_str());
}

// Copies the entries of `list` from position `start` on into the record's text, at most 65.
template <typename List>
void copyList(CMountRequest& request, const List& list, uint32_t start) {
    uint32_t position = 0;
    int copied = 0;
    for (uint32_t id : list) {
        if (copied == CMountRequest::kMaxListEntries) break;
        if (position++ < start) continue;
        request.setListEntry(copied++, id);
    }
    request.m_dwData = static_cast<uint32_t>(copied);
}

}  // namespace

ServiceRequests::ServiceRequests(SafeLogonMap& logons, Hooks hooks, CPasswordAttempts::Clock clock)
    : logons_(logons), hooks_(std::move(hooks)), passwords_(std::move(clock)) {}

void ServiceRequests::event(uint16_t type, int stringId) {
    if (hooks_.event) hooks_.event(type, stringId);
}

namespace {

// Who may send a request of the service pipe.
enum class Access {
    kAnyone,      // queries of the units and sessions
    kSession,     // for one session: its account, root or an administrator
    kRightEight,  // re-reads of the shared files: whoever administers them
    kRoot,        // the services' own requests
};

Access accessOf(int32_t code) {
    switch (code) {
        case CMountRequest::kInsert:
        case CMountRequest::kEject:
        case CMountRequest::kLogOn:
        case CMountRequest::kLogOff:
        case CMountRequest::kLinkSecurity: return Access::kSession;
        case CMountRequest::kEmptyDevice:
        case CMountRequest::kUnitInfo:
        case CMountRequest::kUnitCount:
        case CMountRequest::kUnitUsers:
        case CMountRequest::kDeviceName:
        case CMountRequest::kListLogons: return Access::kAnyone;
        case CMountRequest::kReadCatalogue:
        case CMountRequest::kReadTree:
        case CMountRequest::kReadProfiles:
        case CMountRequest::kReadAdminFile:
        case CMountRequest::kSetStandardDrives: return Access::kRightEight;
        default:
            return code == CMountRequest::kEndServer || code == CMountRequest::kCleanUpSessions ||
                           isSessionNotification(code) || isPeerRequest(code)
                       ? Access::kRoot
                       : Access::kAnyone;
    }
}

constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidParameter = 87;
constexpr uint32_t kWrongPassword = 8;
constexpr uint32_t kNoRight = 600;
constexpr uint32_t kEmptyPath = 18;
constexpr uint32_t kPathTooLong = 206;
constexpr int kRightInsertEject = 2;
constexpr int kRightAdministration = 8;

}  // namespace

PipeReply ServiceRequests::handle(CMountRequest& request, const Caller& caller) {
    const int32_t code = request.m_request;
    const bool root = caller.uid == 0;
    std::unique_lock<std::mutex> units(unitLock_, std::defer_lock);
    if (!isSessionNotification(code) && !isPeerRequest(code)) units.lock();
    switch (accessOf(code)) {
        case Access::kAnyone: break;
        case Access::kSession:
            if (!mayActFor(request.m_sessionId, caller)) {
                logRefusal(caller, code);
                refuse(request, kAccessDenied);
                return PipeReply::kAnswer;
            }
            break;
        case Access::kRightEight:
            if (!root && !(hooks_.hasRight && hooks_.hasRight(caller.uid, kRightAdministration))) {
                logRefusal(caller, code);
                return PipeReply::kNoAnswer;
            }
            break;
        case Access::kRoot:
            if (!root) {
                logRefusal(caller, code);
                return PipeReply::kNoAnswer;
            }
            break;
    }
    switch (code) {
        case CMountRequest::kEndServer: return PipeReply::kAnswerAndEnd;
        case CMountRequest::kInsert: insert(request, caller); break;
        case CMountRequest::kEject: eject(request, caller); break;
        case CMountRequest::kEmptyDevice: answerEmptyDevice(request); break;
        case CMountRequest::kUnitInfo: unitInfo(request, caller); break;
        case CMountRequest::kCleanUpSessions: cleanUpSessions(request); break;
        case CMountRequest::kUnitCount: request.m_dwData = static_cast<uint32_t>(unitCount_); break;
        case CMountRequest::kUnitUsers: unitUsers(request); break;
        case CMountRequest::kDeviceName: {
            CDriveInfo* unit = findUnit(static_cast<int32_t>(request.m_dwData));
            if (unit == nullptr) {
                request.m_request = CMountRequest::kNoSuchUnit;
            } else {
                request.setText(unit->deviceName);
            }
            break;
        }
        case CMountRequest::kLogOn: logOn(request, caller); break;
        case CMountRequest::kLogOff: logOff(request); break;
        case CMountRequest::kListLogons: listLogons(request); break;
        case CMountRequest::kLinkSecurity: linkSecurity(request); break;
        case CMountRequest::kSetStandardDrives: setStandardDrives(request); break;
        default:
            if (isSessionNotification(code)) {
                OXTLog(0, "NotifyChangesSessions(Request = %d)", code);
                if (hooks_.notifySessions) hooks_.notifySessions(request, logons_.sessions());
            } else if (isPeerRequest(code)) {
                if (hooks_.peerRequest) hooks_.peerRequest(request);
            } else {
                request.m_request = 0;
            }
    }
    return PipeReply::kAnswer;
}

// The letters every session gets: the global value only the services may write, set for an
// administrator (whose session helpers run as the sessions' users and cannot).
void ServiceRequests::setStandardDrives(CMountRequest& request) {
    std::string letters;
    for (char c : request.text()) {
        const char upper = ombrix::ascii::upper(c);
        if (upper >= 'A' && upper <= 'Z' && letters.find(upper) == std::string::npos)
            letters += upper;
    }
    if (letters.empty()) return refuse(request, kInvalidParameter);
    OXTLog(1, "Standard drive letters: %s", letters.c_str());
    if (!EnvSetGlobalValue("OmxStdDriveLetters", letters.c_str()))
        return refuse(request, kAccessDenied);
    request.m_dwData = 0;
}

void ServiceRequests::refuse(CMountRequest& request, uint32_t code) {
    request.m_request = CMountRequest::kRefused;
    request.m_dwData = code;
}

void ServiceRequests::logRefusal(const Caller& caller, int32_t code) {
    refusals_.Note(caller, code);
}

bool ServiceRequests::administrator(uid_t uid) {
    return uid == 0 || (hooks_.isAdministrator && hooks_.isAdministrator(uid));
}

std::optional<uid_t> ServiceRequests::sessionOwner(uint32_t session) {
    if (auto it = sessionOwners_.find(session); it != sessionOwners_.end()) return it->second;
    if (!hooks_.sessionAccount) return std::nullopt;
    if (auto account = hooks_.sessionAccount(session)) return account->first;
    return std::nullopt;
}

bool ServiceRequests::mayActFor(uint32_t session, const Caller& caller) {
    if (caller.uid == 0) return true;
    std::optional<uid_t> owner = sessionOwner(session);
    return (owner && *owner == caller.uid) || administrator(caller.uid);
}

// Inserts and ejects need their right; those who administer (the administration tool's player)
// need none.
bool ServiceRequests::mayInsertAndEject(const Caller& caller) {
    if (caller.uid == 0) return true;
    if (!hooks_.hasRight) return false;
    return hooks_.hasRight(caller.uid, kRightInsertEject) ||
           hooks_.hasRight(caller.uid, kRightAdministration);
}

bool ServiceRequests::usesUnit(uid_t uid, const CDriveInfo& unit) {
    for (uint32_t session : unit.users) {
        std::optional<uid_t> owner = sessionOwner(session);
        if (owner && *owner == uid) return true;
    }
    return false;
}

void ServiceRequests::updateReaders(const CDriveInfo& unit) {
    if (!hooks_.setReaders || unit.users.empty()) return;
    std::vector<uid_t> readers;
    for (uint32_t session : unit.users) {
        std::optional<uid_t> owner = sessionOwner(session);
        if (owner && std::find(readers.begin(), readers.end(), *owner) == readers.end()) {
            readers.push_back(*owner);
        }
    }
    hooks_.setReaders(unit, readers);
}

void ServiceRequests::addUnit(std::unique_ptr<CDriveInfo> unit) {
    if (emptyDevice_ == nullptr) emptyDevice_ = unit.get();
    ++unitCount_;
    auto key = static_cast<uint16_t>(unit->number);
    unitBuckets_[(key >> 4) % kBuckets].push_back(std::move(unit));
}

void ServiceRequests::clearUnits() {
    for (auto& bucket : unitBuckets_)
        bucket.clear();
    emptyDevice_ = nullptr;
    unitCount_ = 0;
}

CDriveInfo* ServiceRequests::findUnit(int32_t number) {
    auto key = static_cast<uint16_t>(number);
    for (auto& unit : unitBuckets_[(key >> 4) % kBuckets]) {
        if (unit->number == number) return unit.get();
    }
    return nullptr;
}

std::vector<CDriveInfo*> ServiceRequests::units() {
    std::vector<CDriveInfo*> out;
    for (auto& bucket : unitBuckets_) {
        for (auto& unit : bucket)
            out.push_back(unit.get());
    }
    return out;
}

void ServiceRequests::emptyUnit(CDriveInfo& unit) {
    uint32_t status = hooks_.driverInsert ? hooks_.driverInsert(unit, "", "", nullptr) : 1;
    if (status != 0) return;
    unit.imagePath.clear();
    setGlobal("Device_%d", unit.number, "");
}

void ServiceRequests::forgetUnit(CDriveInfo& unit) {
    for (uint32_t session : unit.users) {
        if (std::optional<uint32_t> count = logons_.lookup(session)) {
            logons_.set(session, *count > 0 ? *count - 1 : 0);
        }
    }
    unit.users.clear();
    unit.imagePath.clear();
    setGlobal("Device_%d", unit.number, "");
}

void ServiceRequests::insert(CMountRequest& request, const Caller& caller) {
    const uint32_t session = request.m_sessionId;
    std::optional<uint32_t> count = logons_.lookup(session);
    if (!count) {
        request.m_request = CMountRequest::kNotLoggedOn;
        request.setText("");
        return;
    }
    // A path that does not fit the record, or none, names no image.
    if (std::memchr(request.m_text, '\0', CMountRequest::kTextSize) == nullptr) {
        return refuse(request, kPathTooLong);
    }
    if (request.text().empty()) return refuse(request, kEmptyPath);
    if (!mayInsertAndEject(caller)) return refuse(request, kNoRight);
    auto noSlot = [&] {
        OXTLog(3, "No more slots availbale");
        request.m_request = CMountRequest::kNoUnit;
        event(ev::kWarning, service_strings::kNoAvailableDrive);
    };
    if (unitCount_ == 0) return noSlot();

    const std::string path(request.text());
    CDriveInfo* shared = nullptr;
    CDriveInfo* free = nullptr;
    for (CDriveInfo* unit : units()) {
        if (unit == emptyDevice_) continue;
        if (!unit->users.empty()) {
            if (ombrix::ascii::equalsIgnoreCase(unit->imagePath, path)) {
                shared = unit;
                break;
            }
        } else if (free == nullptr) {
            free = unit;
        }
    }
    // A session that guessed wrong a few times waits before its next guess counts.
    if (!passwords_.MayTry(path, session)) return refuse(request, kWrongPassword);
    if (shared != nullptr) {
        // Sharing a unit shows its disc to the caller: only when the caller can read the image.
        if (caller.uid != 0 && hooks_.canRead) {
            if (uint32_t why = hooks_.canRead(caller, shared->imagePath))
                return refuse(request, why);
        }
        // The network access service confirms the password before a second session shares it.
        CMountRequest check(request);
        check.m_request = CMountRequest::kPasswordCheck;
        bool confirmed = hooks_.callNetPipe && hooks_.callNetPipe(check) &&
                         check.m_request == CMountRequest::kPasswordCheck;
        if (!confirmed) {
            passwords_.Failed(path, session);
            return refuse(request, kWrongPassword);
        }
        passwords_.Succeeded(path, session);
        request.setText(shared->deviceName);
        shared->users.push_back(session);
        logons_.set(session, *count + 1);
        updateReaders(*shared);
        return;
    }
    if (free == nullptr) return noSlot();
    uint32_t status =
        hooks_.driverInsert ? hooks_.driverInsert(*free, path, request.password(), &caller) : 1;
    if (status == kWrongPassword) passwords_.Failed(path, session);
    if (status != 0) return refuse(request, status);
    passwords_.Succeeded(path, session);
    free->imagePath = path;
    setGlobal("Device_%d", free->number, path);
    free->users.push_back(session);
    request.setText(free->deviceName);
    logons_.set(session, *count + 1);
    // The driver gave the unit its inserting account as reader; others only when the session
    // is somebody else's (an administrator inserting for it).
    std::optional<uid_t> owner = sessionOwner(session);
    if (owner && *owner != caller.uid) updateReaders(*free);
}

void ServiceRequests::eject(CMountRequest& request, const Caller& caller) {
    CDriveInfo* unit = findUnit(static_cast<int32_t>(request.m_dwData));
    if (unit == nullptr) {
        request.m_request = CMountRequest::kNoSuchUnit;
        return;
    }
    linkSecurity(request);
    const uint32_t session = request.m_sessionId;
    auto found = std::find(unit->users.begin(), unit->users.end(), session);
    bool removed = found != unit->users.end();
    bool wasEmpty = unit->users.empty();
    if (removed && !mayInsertAndEject(caller)) return refuse(request, kNoRight);
    if (removed) unit->users.erase(found);
    if ((removed && unit->users.empty()) || wasEmpty) emptyUnit(*unit);
    if (removed) updateReaders(*unit);
    if (removed && unit != emptyDevice_) {
        if (std::optional<uint32_t> count = logons_.lookup(session)) {
            logons_.set(session, *count > 0 ? *count - 1 : 0);
        }
    }
    answerEmptyDevice(request);
}

void ServiceRequests::answerEmptyDevice(CMountRequest& request) {
    if (emptyDevice_ == nullptr) {
        request.m_request = CMountRequest::kNoEmptyDevice;
        event(ev::kError, service_strings::kNoEmptyDrive);
        return;
    }
    request.setText(emptyDevice_->deviceName);
}

void ServiceRequests::unitInfo(CMountRequest& request, const Caller& caller) {
    CDriveInfo* unit = findUnit(static_cast<int32_t>(request.m_dwData));
    if (unit == nullptr) {
        request.m_request = CMountRequest::kNoSuchUnit;
        return;
    }
    // Which image a unit holds is told to those who use it and to administrators.
    const bool told = usesUnit(caller.uid, *unit) || administrator(caller.uid);
    request.setText(told ? unit->imagePath : std::string());
    request.m_dwData = static_cast<uint32_t>(unit->users.size());
}

void ServiceRequests::unitUsers(CMountRequest& request) {
    CDriveInfo* unit = findUnit(static_cast<int32_t>(request.m_dwData));
    if (unit == nullptr) {
        request.m_request = CMountRequest::kNoSuchUnit;
        return;
    }
    copyList(request, unit->users, request.m_sessionId);
}

void ServiceRequests::cleanUpSessions(CMountRequest&) {
    std::vector<uint32_t> alive;
    if (!hooks_.enumerateSessions || !hooks_.enumerateSessions(alive)) return;
    auto isAlive = [&](uint32_t id) {
        return std::find(alive.begin(), alive.end(), id) != alive.end();
    };
    for (CDriveInfo* unit : units()) {
        if (unit->users.empty()) continue;
        size_t before = unit->users.size();
        unit->users.remove_if([&](uint32_t id) { return !isAlive(id); });
        if (unit->users.empty()) {
            emptyUnit(*unit);
        } else if (unit->users.size() != before) {
            updateReaders(*unit);
        }
    }
    for (uint32_t session : logons_.sessions()) {
        if (isAlive(session)) continue;
        setGlobal("Sid_%d", static_cast<int32_t>(session), "");
        logons_.remove(session);
        sessionOwners_.erase(session);
    }
}

void ServiceRequests::logOn(CMountRequest& request, const Caller&) {
    const uint32_t session = request.m_sessionId;
    if (logons_.lookup(session)) {
        request.m_request = CMountRequest::kAlreadyLoggedOn;
        return;
    }
    // The session's account is what the terminal sessions say; the record's name counts only
    // for root, which may log on sessions of its own.
    std::string user(request.text());
    std::optional<std::pair<uid_t, std::string>> account;
    if (hooks_.sessionAccount) account = hooks_.sessionAccount(session);
    if (account) {
        user = account->second;
        sessionOwners_[session] = account->first;
    }
    OXTLog(0, "Logging on '%s' SID: %d", user.c_str(), static_cast<int32_t>(session));
    logons_.set(session, 0);
    setGlobal("Sid_%d", static_cast<int32_t>(session), user);
}

void ServiceRequests::logOff(CMountRequest& request) {
    logons_.remove(request.m_sessionId);
    sessionOwners_.erase(request.m_sessionId);
    setGlobal("Sid_%d", static_cast<int32_t>(request.m_sessionId), "");
}

void ServiceRequests::listLogons(CMountRequest& request) {
    copyList(request, logons_.sessions(), request.m_sessionId);
}

void ServiceRequests::linkSecurity(CMountRequest& request) {
    if (!hooks_.linkSecurity) {
        if (linkSecurityReported_) return;
        linkSecurityReported_ = true;
        event(ev::kError, service_strings::kNtDllMissing);
        return;
    }
    hooks_.linkSecurity(std::string(request.text()), request.m_sessionId, request.m_logonIdLow,
                        request.m_logonIdHigh);
}
