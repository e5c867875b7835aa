#include "service/request_table.h"

#include <algorithm>

#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/event_log.h"
#include "service/service_strings.h"

namespace {

namespace ev = ombrix::eventlog;

bool isSessionNotification(int32_t code) {
    return (code >= 40 && code <= 45) || code == 50;
}

bool isPeerRequest(int32_t code) {
    return code == 31 || (code >= 34 && code <= 39) || code == 46 || code == 49;
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

ServiceRequests::ServiceRequests(SafeLogonMap& logons, Hooks hooks)
    : logons_(logons), hooks_(std::move(hooks)) {}

void ServiceRequests::event(uint16_t type, int stringId) {
    if (hooks_.event) hooks_.event(type, stringId);
}

bool ServiceRequests::handle(CMountRequest& request) {
    const int32_t code = request.m_request;
    switch (code) {
        case CMountRequest::kEndServer: return false;
        case CMountRequest::kInsert: insert(request); break;
        case CMountRequest::kEject: eject(request); break;
        case CMountRequest::kEmptyDevice: answerEmptyDevice(request); break;
        case CMountRequest::kUnitInfo: unitInfo(request); break;
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
        case CMountRequest::kLogOn: logOn(request); break;
        case CMountRequest::kLogOff: logOff(request); break;
        case CMountRequest::kListLogons: listLogons(request); break;
        case CMountRequest::kLinkSecurity: linkSecurity(request); break;
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
    return true;
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
    uint32_t status = hooks_.driverInsert ? hooks_.driverInsert(unit, "", "") : 1;
    if (status != 0) return;
    unit.imagePath.clear();
    setGlobal("Device_%d", unit.number, "");
}

void ServiceRequests::insert(CMountRequest& request) {
    const uint32_t session = request.m_sessionId;
    std::optional<uint32_t> count = logons_.lookup(session);
    if (!count) {
        request.m_request = CMountRequest::kNotLoggedOn;
        request.setText("");
        return;
    }
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
    if (shared != nullptr) {
        // The network access service confirms the password before a second session shares it.
        CMountRequest check(request);
        check.m_request = CMountRequest::kPasswordCheck;
        bool confirmed = hooks_.callNetPipe && hooks_.callNetPipe(check) &&
                         check.m_request == CMountRequest::kPasswordCheck;
        if (!confirmed) {
            request.m_request = CMountRequest::kRefused;
            request.m_dwData = 8;
            return;
        }
        request.setText(shared->deviceName);
        shared->users.push_back(session);
        logons_.set(session, *count + 1);
        return;
    }
    if (free == nullptr) return noSlot();
    uint32_t status =
        hooks_.driverInsert ? hooks_.driverInsert(*free, path, request.password()) : 1;
    if (status != 0) {
        request.m_request = CMountRequest::kRefused;
        request.m_dwData = status;
        return;
    }
    free->imagePath = path;
    setGlobal("Device_%d", free->number, path);
    free->users.push_back(session);
    request.setText(free->deviceName);
    logons_.set(session, *count + 1);
}

void ServiceRequests::eject(CMountRequest& request) {
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
    if (removed) unit->users.erase(found);
    if ((removed && unit->users.empty()) || wasEmpty) emptyUnit(*unit);
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

void ServiceRequests::unitInfo(CMountRequest& request) {
    CDriveInfo* unit = findUnit(static_cast<int32_t>(request.m_dwData));
    if (unit == nullptr) {
        request.m_request = CMountRequest::kNoSuchUnit;
        return;
    }
    request.setText(unit->imagePath);
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
    for (uint32_t session : logons_.sessions()) {
        if (isAlive(session)) continue;
        setGlobal("Sid_%d", static_cast<int32_t>(session), "");
        logons_.remove(session);
    }
    for (CDriveInfo* unit : units()) {
        if (unit->users.empty()) continue;
        unit->users.remove_if([&](uint32_t id) { return !isAlive(id); });
        if (unit->users.empty()) emptyUnit(*unit);
    }
}

void ServiceRequests::logOn(CMountRequest& request) {
    const uint32_t session = request.m_sessionId;
    if (logons_.lookup(session)) {
        request.m_request = CMountRequest::kAlreadyLoggedOn;
        return;
    }
    std::string user(request.text());
    OXTLog(0, "Logging on '%s' SID: %d", user.c_str(), static_cast<int32_t>(session));
    logons_.set(session, 0);
    setGlobal("Sid_%d", static_cast<int32_t>(session), user);
}

void ServiceRequests::logOff(CMountRequest& request) {
    logons_.remove(request.m_sessionId);
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
