#include "service/omxdriveset.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include <fcntl.h>
#include <sys/stat.h>

#include "common/names.h"
#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "outside/help/rights.h"
#include "pipes/pipe_call.h"
#include "platform/account.h"
#include "platform/ascii.h"
#include "platform/host_name.h"
#include "platform/named_event.h"
#include "platform/network_config.h"
#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/scsi_miniport.h"
#include "platform/socket_owner.h"
#include "platform/text_printf.h"
#include "platform/win_error.h"
#include "service/service_pipe.h"
#include "service/service_strings.h"

namespace {

namespace ids = service_strings;
namespace reg = ombrix::registry;
using ombrix::platform::NamedMutex;

constexpr int kPipeInstances = 5;
constexpr int kDefaultServerPort = 65535;
constexpr int kForwardDelayMs = 100;
constexpr int kSessionPipeTimeoutMs = 250;
constexpr int kPipeAttempts = 3;
constexpr int kExpectedLanguageVersion = 1;
constexpr int kAccessNoticeTimeoutMs = 500;
constexpr int kNotifyTickMs = 150;
constexpr int kMailslotSliceMs = 100;
constexpr int kPeerNoticeDelayMs = 500;
constexpr int kDrivesSetPollMs = 100;

std::string globalValue(const char* key, int size) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    if (EnvGetGlobalValue(key, buffer.data(), size + 1) <= 0) return {};
    return buffer.data();
}

std::string valueText(const reg::Value& value) {
    if (value.type == reg::kDword || value.type == reg::kQword) {
        unsigned long long n = 0;
        for (size_t i = value.data.size(); i-- > 0;)
            n = n << 8 | static_cast<unsigned char>(value.data[i]);
        return std::to_string(n);
    }
    std::string text = value.data;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

// The account of a logged-on session: whom the terminal sessions name for it.
std::optional<std::pair<uid_t, std::string>> SessionAccount(uint32_t session) {
    ombrix::wts::SessionInfo info;
    if (ombrix::wts::querySession(session, info) != 0 || info.user.empty()) return std::nullopt;
    std::optional<ombrix::platform::Account> account = ombrix::platform::accountByName(info.user);
    if (!account) return std::nullopt;
    return std::make_pair(account->uid, account->name);
}

// Whether the caller can open `path` as a plain file: 0, or the Win32 code of why not.
uint32_t ReadableBy(const ServiceRequests::Caller& caller, std::string_view path) {
    ombrix::platform::ActingAs as(ombrix::platform::identityOf(caller.uid, caller.gid));
    if (!as.ok()) return ombrix::win::kAccessDenied;
    const std::string file(path);
    ombrix::platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return static_cast<uint32_t>(ombrix::win::fromErrno(errno, file.c_str()));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return ombrix::win::kAccessDenied;
    return 0;
}

// A folder may hold the pool's shared files when it is one (not a link to one) and belongs to
// root or to the account the network access service reads the pool as.
uint32_t SharedFolderRefusal(const std::string& folder) {
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return ombrix::win::kPathNotFound;
    if (!S_ISDIR(st.st_mode)) return ombrix::win::kAccessDenied;
    if (st.st_uid == 0) return 0;
    std::string account = globalValue("NetAccount", 256);
    if (size_t slash = account.find_last_of("\\/"); slash != std::string::npos) {
        account = account.substr(slash + 1);
    }
    std::optional<ombrix::platform::Account> owner = ombrix::platform::accountByName(account);
    return owner && owner->uid == st.st_uid ? 0 : ombrix::win::kAccessDenied;
}

}  // namespace

COmxdriveset::COmxdriveset()
    : CNTService("OXTServ", "Ombrix TS Manager", "Provides support for management of Ombrix drives",
                 ids::table()),
      m_forwarder(std::chrono::milliseconds(kForwardDelayMs),
                  [](uint32_t session, CMountRequest& record) {
                      CallPipe(ombrix::names::sessionPipe(session), record, kSessionPipeTimeoutMs,
                               kPipeAttempts);
                  }) {
    m_controlsAcceptedRunning = svc::kAcceptStop | svc::kAcceptShutdown;
}

COmxdriveset::~COmxdriveset() {
    m_pipe.Close();
    m_stopEvent.set();
    JoinWorkers();
    {
        std::lock_guard guard(m_listenerLock);
        m_listener.reset();
        m_closedListeners.clear();
    }
    m_peers->Clear();
}

void COmxdriveset::Stop() {
    SetStatus(svc::kStopPending, 5000);
    m_stopEvent.set();
}

void COmxdriveset::Shutdown() {
    m_stopEvent.set();
}

void COmxdriveset::Run(int, char**) {
    SetStatus(svc::kStartPending, 30000);
    if (!ReadSettings()) LogEventById(ids::kCannotReadSettings, kEventError, kEventIdFromType);
    LoadLanguageModule(globalValue("OmxLanguage", 9), globalValue("OmxHomePath", 1024),
                       kExpectedLanguageVersion);
    // POSIX sockets need no library start-up (step of the socket library).
    m_logons = std::make_unique<SafeLogonMap>();
    ServiceRequests::Hooks hooks;
    hooks.event = [this](uint16_t type, int id) { LogEventById(id, type, kEventIdFromType); };
    hooks.eventText = [this](uint16_t type, const std::string& text) {
        LogEvent(text.c_str(), type, kEventIdFromType);
    };
    hooks.callNetPipe = [this](CMountRequest& record) { return CallNetPipe(record); };
    hooks.driverInsert = [this](const CDriveInfo& unit, std::string_view path,
                                std::string_view password, const ServiceRequests::Caller* caller) {
        if (caller == nullptr) return m_driver.Insert(unit, path, password);
        ombrix::platform::SentFor sentFor{caller->uid, caller->gid};
        return m_driver.Insert(unit, path, password, &sentFor);
    };
    hooks.setReaders = [this](const CDriveInfo& unit, const std::vector<uid_t>& readers) {
        if (!m_driver.SetReaders(unit, readers)) {
            OXTLog(3, "The driver did not take the readers of %s", unit.deviceName.c_str());
        }
    };
    hooks.sessionAccount = [](uint32_t session) { return SessionAccount(session); };
    hooks.isAdministrator = [this](uid_t uid) {
        return m_rights.Get(uid, 0, [uid] { return ombrix::help::isAdministrator(uid); });
    };
    hooks.hasRight = [this](uid_t uid, int right) {
        return m_rights.Get(uid, right,
                            [uid, right] { return ombrix::help::accountHasRight(right, uid); });
    };
    hooks.canRead = [](const ServiceRequests::Caller& caller, std::string_view path) {
        return ReadableBy(caller, path);
    };
    hooks.enumerateSessions = [](std::vector<uint32_t>& ids) {
        std::vector<ombrix::wts::SessionInfo> sessions;
        if (ombrix::wts::enumerateSessions(sessions) != 0) return false;
        ids.clear();
        for (const auto& session : sessions) {
            if (session.state == ombrix::wts::kActive || session.state == ombrix::wts::kConnected) {
                ids.push_back(session.id);
            }
        }
        return true;
    };
    hooks.linkSecurity = [this](std::string_view name, uint32_t session, uint32_t, uint32_t) {
        return LinkSecurity(name, session);
    };
    hooks.notifySessions = [this](const CMountRequest& record, std::vector<uint32_t> sessions) {
        m_forwarder.Forward(record, std::move(sessions));
    };
    hooks.peerRequest = [this](const CMountRequest& record) { PeerRequest(record); };
    m_requests = std::make_unique<ServiceRequests>(*m_logons, std::move(hooks));

    CIPRequests::Hooks ipHooks;
    ipHooks.callNetPipe = [this](CMountRequest& record) { return CallNetPipe(record); };
    ipHooks.callServicePipe = [this](CMountRequest& record) { return CallServicePipe(record); };
    ipHooks.callSessionPipe = [](uint32_t session, CMountRequest& record) {
        return CallPipe(ombrix::names::sessionPipe(session), record,
                        CIPRequests::kSessionPipeTimeoutMs, CIPRequests::kSessionPipeAttempts);
    };
    ipHooks.sessions = [this] { return m_logons->sessions(); };
    ipHooks.notifySessions = [this](const CMountRequest& record, std::vector<uint32_t> sessions) {
        m_forwarder.Forward(record, std::move(sessions));
    };
    ipHooks.announcePath = [this](const std::string& path) {
        {
            std::lock_guard guard(m_announceLock);
            m_announcePath = path;
        }
        Announce(announce::kAnswer);
    };
    ipHooks.sharedFolderRefusal = [](const std::string& folder) {
        return SharedFolderRefusal(folder);
    };
    m_ipRequests = std::make_unique<CIPRequests>(std::move(ipHooks), kSettingsKey);

    try {
        ApplyDriveSecurityPolicy();
        DiscoverUnits();
        if (!OpenDriver()) LogEventById(ids::kCannotConnectDriver, kEventError, kEventIdFromType);
        ForgetEarlierUse();
        if (!StartNotifications()) {
            LogEventById(ids::kNoDriverCommunication, kEventError, kEventIdFromType);
        }
        m_pipeMutex = OpenPipeMutex(ombrix::names::kServicePipeMutex);
        if (!m_pipeMutex) LogEventById(ids::kNoSynchronization, kEventError, kEventIdFromType);
        StartPipeServer();
        StartMailslot();
    } catch (...) {
        LogEventById(ids::kUnknownException, kEventError, kEventIdFromType);
    }

    if (!DetermineServerIdentity()) LogEventById(ids::kNoServerName, kEventError, kEventIdFromType);
    std::string port = globalValue("OmxServerPort", 13);
    {
        std::lock_guard guard(m_announceLock);
        m_serverPort = port.empty() ? kDefaultServerPort : std::atoi(port.c_str());
        m_announcePath = globalValue("OMXServerPathNet", 259);
    }
    if (m_serverPort > 0 && m_serverPort < kDefaultServerPort) StartListener();
    Announce(announce::kAnnouncement);
    SetStatus(svc::kRunning, 3000);
    StartSessionMonitor();
    StartDrivesSetWatch();

    while (!m_stopEvent.wait(kMainLoopTickMs))
        CheckConsistency();
    ShutDownService();
}

bool COmxdriveset::ReadSettings() {
    std::vector<std::pair<std::string, reg::Value>> values;
    bool ok = reg::listValues(kSettingsKey, values) == 0;
    for (const auto& [name, value] : values)
        EnvSetGlobalValue(name.c_str(), valueText(value).c_str());
    std::string home = globalValue("OMXHomePath", 1024) + "system/config/";
    for (const char* key : {"OMXServerPathNet", "OmxConfigPathNet", "OmxTreePathNet",
                            "OmxAdmPathNet", "OMXSecurityPathNet"}) {
        if (globalValue(key, 1024).empty()) EnvSetGlobalValue(key, home.c_str());
    }
    return ok;
}

// Logged-on users may read and write the machine's CD drives: every drive letter whose device
// is a CD drive.
void COmxdriveset::ApplyDriveSecurityPolicy() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string target;
        if (ombrix::objmgr::queryDosDevice(std::string(1, letter) + ":", target, 0) != 0 ||
            !ombrix::ascii::startsWithIgnoreCase(target, "\\Device\\CdRom")) {
            continue;
        }
        int rc = GrantInteractiveAccess(ombrix::objmgr::kernelPathFile(target));
        if (rc != 0) {
            LogEvent(FormatString(ids::kDriveSecurityFailed, nullptr, letter, rc).c_str(),
                     kEventWarning, kEventIdFromType);
        }
    }
}

void COmxdriveset::DiscoverUnits() {
    EnvSetGlobalValue("OMXUnits", "0");
    EnvSetGlobalValue("OMXAdapter", "-1");
    EnvSetGlobalValue("OMXDeviceMap", "");
    EnvSetGlobalValue("OXTEmptyDevice", "");
    m_requests->clearUnits();
    m_deviceMap.Clear();
    m_scsiPort = CMiniport::FindPort();
    if (m_scsiPort < 0) return;
    FindUnits(m_scsiPort, *m_requests, m_deviceMap);
    PrepareMountPoints(*m_requests);
    EnvSetGlobalValue("OMXUnits", std::to_string(m_requests->unitCount()).c_str());
    EnvSetGlobalValue("OMXAdapter", std::to_string(m_scsiPort).c_str());
    EnvSetGlobalValue("OMXDeviceMap", m_deviceMap.Text().c_str());
    if (CDriveInfo* empty = m_requests->emptyDevice()) {
        EnvSetGlobalValue("OXTEmptyDevice", empty->deviceName.c_str());
    }
}

// A service that starts anew does not know which sessions used the units before: every unit that
// still holds an image is emptied, and every drive letter of a session that points at a unit
// points at the empty device again. So no drive shows a disc that is not its session's.
void COmxdriveset::ForgetEarlierUse() {
    if (!m_driver.IsOpen()) return;
    CDriveInfo* empty = m_requests->emptyDevice();
    for (CDriveInfo* unit : m_requests->units()) {
        std::string held;
        if (m_driver.QueryImage(*unit, held) && !held.empty()) {
            OXTLog(0, "Emptying %s, which held '%s' before the service started",
                   unit->deviceName.c_str(), held.c_str());
            m_requests->emptyUnit(*unit);
        }
    }
    std::vector<std::string> units;
    for (CDriveInfo* unit : m_requests->units()) {
        if (unit != empty) units.push_back(unit->deviceName);
    }
    PointLettersAtEmptyDevice(units);
}

// Every drive letter of a logged-on session that points at one of `devices` points at the empty
// device instead.
void COmxdriveset::PointLettersAtEmptyDevice(const std::vector<std::string>& devices) {
    CDriveInfo* empty = m_requests->emptyDevice();
    if (empty == nullptr || devices.empty()) return;
    std::vector<ombrix::wts::SessionInfo> sessions;
    if (ombrix::wts::enumerateSessions(sessions) != 0) return;
    for (const auto& session : sessions) {
        if (session.id == 0) continue;
        std::error_code ec;
        std::filesystem::directory_iterator it(ombrix::objmgr::dosDevicesFolder(session.id), ec);
        for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
            const std::string name = it->path().filename().string();
            std::string target;
            if (!it->is_symlink(ec) ||
                ombrix::objmgr::queryDosDevice(name, target, session.id) != 0) {
                continue;
            }
            for (const std::string& device : devices) {
                if (!ombrix::ascii::equalsIgnoreCase(target, device)) continue;
                ombrix::objmgr::defineDosDevice(ombrix::objmgr::kRawTargetPath, name,
                                                empty->deviceName, session.id);
            }
        }
    }
}

bool COmxdriveset::OpenDriver() {
    return m_driver.Open(m_scsiPort);
}

bool COmxdriveset::StartNotifications() {
    m_notifyBuffer = m_driver.MapNotifications();
    if (m_notifyBuffer == nullptr) {
        LogEventById(ids::kNoDriverConnection, kEventError, kEventIdFromType);
        return false;
    }
    // The record sent to a session names the unit of device number 0 (the record's data word).
    std::string deviceName;
    if (CDriveInfo* unit = m_requests->findUnit(0)) deviceName = unit->deviceName;
    try {
        m_notifyThread = std::thread(&COmxdriveset::NotificationThread, this, deviceName);
    } catch (...) {
        return false;
    }
    return true;
}

void COmxdriveset::NotificationThread(std::string deviceName) {
    size_t position = ombrix::scsi::kNotifyHead;
    while (!m_stopEvent.wait(kNotifyTickMs)) {
        position = WalkNotificationSlot(m_notifyBuffer, position,
                                        [&](uint32_t pid) { NotifyAccess(pid, deviceName); });
    }
}

// Tells the session of a process that touched a unit (request 10 on its session pipe).
void COmxdriveset::NotifyAccess(uint32_t pid, const std::string& deviceName) {
    uint32_t session = 0;
    if (!ombrix::wts::processIdToSessionId(static_cast<int>(pid), session)) {
        LogEvent(FormatString(ids::kNoSessionId, nullptr, static_cast<int>(pid)).c_str(),
                 kEventError, kEventIdFromType);
        return;
    }
    // A process names its session itself; it is believed only when it runs as that session's
    // account, so nobody can send notices into another session.
    struct stat owner {};
    auto account = SessionAccount(session);
    if (::stat(("/proc/" + std::to_string(pid)).c_str(), &owner) != 0 ||
        (owner.st_uid != 0 && (!account || account->first != owner.st_uid))) {
        return;
    }
    CMountRequest record;
    record.m_request = CMountRequest::kAccessNotice;
    record.m_sessionId = session;
    record.setText(deviceName);
    CallPipe(ombrix::names::sessionPipe(session), record, kAccessNoticeTimeoutMs, kPipeAttempts);
}

// Programs that set the session's drives tell the service so through its event; the service
// takes each notice (the event is reset), so the program knows it was heard.
void COmxdriveset::StartDrivesSetWatch() {
    int error = 0;
    m_drivesSet = ombrix::platform::NamedEvent::create(
        std::string("Global\\") + ombrix::names::kDrivesSetEvent, false, false, error, true);
    if (!m_drivesSet) {
        OXTLog(3, "Cannot create the event %s (%d)", ombrix::names::kDrivesSetEvent, error);
        return;
    }
    try {
        m_drivesSetThread = std::thread([this] {
            while (!m_stopEvent.isSet()) {
                if (m_drivesSet->wait(kDrivesSetPollMs)) OXTLog(0, "The drives were set");
            }
        });
    } catch (...) {
        OXTLog(3, "No thread for the event %s", ombrix::names::kDrivesSetEvent);
    }
}

void COmxdriveset::StartSessionMonitor() {
    try {
        m_sessionThread = std::thread(&COmxdriveset::SessionMonitorThread, this);
    } catch (...) {
        LogEventById(ids::kNoCommunicationsThread, kEventError, kEventIdFromType);
    }
}

// At each log-off the service cleans up after the sessions that are gone (request 6).
void COmxdriveset::SessionMonitorThread() {
    while (!m_stopEvent.isSet()) {
        uint32_t flags = 0;
        if (!m_sessionEvents.waitSystemEvent(ombrix::wts::kEventLogoff, flags)) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        if (flags & ombrix::wts::kEventLogoff) {
            CMountRequest cleanUp;
            cleanUp.m_request = CMountRequest::kCleanUpSessions;
            CallServicePipe(cleanUp);
        }
    }
}

int COmxdriveset::LinkSecurity(std::string_view name, uint32_t session) {
    int rc = OpenSessionLink(name, session);
    if (rc != 0) {
        LogEvent(
            FormatString(ids::kLinkSecurityFailed, nullptr, std::string(name).c_str(), rc).c_str(),
            kEventError, kEventIdFromType);
    }
    return rc;
}

void COmxdriveset::StartPipeServer() {
    int error =
        m_pipe.Start(ombrix::names::kServicePipe, kPipeInstances, m_stopEvent,
                     [this](CMountRequest& record, const ombrix::platform::PipeCaller& caller) {
                         return m_requests->handle(record, caller);
                     });
    if (error == 0) return;
    if (error != CServicePipe::kNoThread) CNTService::SetLastError(static_cast<uint32_t>(error));
    LogEventById(ids::kNoCommunication, kEventError, kEventIdFromType);
}

void COmxdriveset::PeerRequest(const CMountRequest& record) {
    int32_t code = record.m_request;
    if (code == CMountRequest::kNetServiceStarted) {
        std::lock_guard guard(m_netPipeMutexLock);
        auto mutex = std::make_unique<NamedMutex>(ombrix::names::kNetPipeMutex);
        if (mutex->openError() == 0) m_netPipeMutex = std::move(mutex);
    }
    if (code == CMountRequest::kReloadPeers || code == CMountRequest::kNetServiceStarted) {
        ReloadPeers(record.m_dwData);
        return;
    }
    if (code == CMountRequest::kServerPortChanged) {
        RestartListener();
        return;
    }
    if (int flag = CPeerList::FlagForRequest(code, record.m_dwData)) NotifyOtherServers(code, flag);
    if (code == CMountRequest::kNotifyPeersAndNet) {
        // The network access service hears of it as well.
        CMountRequest net(record);
        net.m_request = CMountRequest::kReadServerList;
        net.m_dwData = ombrix::pipes::kClearServers;
        CallNetPipe(net);
    }
}

// Compares every unit's recorded image with what the driver holds; the first difference is
// reported and ends this round.
void COmxdriveset::CheckConsistency() {
    if (!m_driver.IsOpen()) return;
    const bool differs = m_requests->withUnits([this] {
        for (CDriveInfo* unit : m_requests->units()) {
            std::string held;
            if (!m_driver.QueryImage(*unit, held)) continue;
            if (ombrix::ascii::equalsIgnoreCase(held, unit->imagePath)) continue;
            LogEvent(FormatString(ids::kConsistency, nullptr, unit->imagePath.c_str(), held.c_str())
                         .c_str(),
                     kEventWarning, kEventIdFromType);
            return true;
        }
        return false;
    });
    if (differs) LogEventById(ids::kConsistencyError, kEventWarning, kEventIdFromType);
    ForgetLostDiscs();
}

// A driver that started anew holds no images: the units that lost theirs are given up, and the
// letters that pointed at them show an empty drive, so no session's drive claims a disc it no
// longer has, and no later insert into the unit shows up in that drive.
void COmxdriveset::ForgetLostDiscs() {
    std::vector<std::string> lost;
    m_requests->withUnits([&] {
        for (CDriveInfo* unit : m_requests->units()) {
            std::string held;
            if (unit->imagePath.empty() || !m_driver.QueryImage(*unit, held) || !held.empty()) {
                continue;
            }
            OXTLog(3, "%s lost '%s' in the driver; its sessions see an empty drive",
                   unit->deviceName.c_str(), unit->imagePath.c_str());
            m_requests->forgetUnit(*unit);
            lost.push_back(unit->deviceName);
        }
    });
    PointLettersAtEmptyDevice(lost);
}

// The notification and session-monitor threads end on the stop event (the monitor's wait is
// flushed first).
void COmxdriveset::JoinWorkers() {
    if (m_notifyThread.joinable()) m_notifyThread.join();
    if (m_drivesSetThread.joinable()) m_drivesSetThread.join();
    if (m_mailslotThread.joinable()) m_mailslotThread.join();
    m_mailslot.reset();
    if (m_sessionThread.joinable()) {
        uint32_t unused = 0;
        m_sessionEvents.waitSystemEvent(ombrix::wts::kEventFlush, unused);
        m_sessionThread.join();
    }
}

bool COmxdriveset::CallServicePipe(CMountRequest& record) {
    return CallPipeLogged(m_pipeMutex.get(), ombrix::names::kServicePipe, record,
                          m_servicePipeTimeout, kPipeAttempts, "service");
}

bool COmxdriveset::CallNetPipe(CMountRequest& record) {
    std::lock_guard guard(m_netPipeMutexLock);
    return CallPipeLogged(m_netPipeMutex.get(), ombrix::names::kNetPipe, record,
                          m_servicePipeTimeout, kPipeAttempts, "net service");
}

void COmxdriveset::ShutDownService() {
    {
        // Handlers still running finish first; they may call the service's own pipe.
        std::lock_guard guard(m_listenerLock);
        m_listener.reset();
        m_closedListeners.clear();
    }
    m_peers->Clear();
    uint32_t unused = 0;
    m_sessionEvents.waitSystemEvent(ombrix::wts::kEventFlush, unused);
    CMountRequest end;
    end.m_request = CMountRequest::kEndServer;
    CallServicePipe(end);
    // A pipe thread that did not get the request gives up at its next accept slice.
    m_pipe.Close();
    JoinWorkers();
    for (CDriveInfo* unit : m_requests->units())
        m_requests->emptyUnit(*unit);
    m_driver.Close();
    m_notifyBuffer = nullptr;
    m_pipeMutex.reset();
    {
        std::lock_guard guard(m_netPipeMutexLock);
        m_netPipeMutex.reset();
    }
    m_requests->clearUnits();
}

// Peer servers and remote administration.

void COmxdriveset::StartMailslot() {
    int error = 0;
    m_mailslot = ombrix::platform::MailslotServer::create(announce::kMailslot, error);
    if (!m_mailslot) {
        OXTLog(3, "Cannot create the mailslot %s (%d)", announce::kMailslot, error);
        return;
    }
    m_mailslotThread = std::thread(&COmxdriveset::MailslotThread, this);
}

void COmxdriveset::MailslotThread() {
    ServerAnnouncement mail;
    while (!m_stopEvent.isSet()) {
        size_t size = 0;
        std::string from;
        if (m_mailslot->read(&mail, sizeof mail, size, kMailslotSliceMs, &from) != 0) continue;
        if (size != sizeof mail) {
            OXTLog(0, "Received Mail does not fit");
            continue;
        }
        HandleMail(mail, from);
    }
}

// Announcements count only from the hosts of the pool's domains (any sender of the local
// networks when no domain is configured), and the answer goes to the sender's own address,
// never to one a record names.
void COmxdriveset::HandleMail(const ServerAnnouncement& mail, const std::string& from) {
    std::string sender = announce::Field(mail.computerName, sizeof mail.computerName);
    OXTLog(0, "Got Mail from %s, size is %d", sender.c_str(), static_cast<int>(sizeof mail));
    if (mail.type != announce::kAnnouncement && mail.type != announce::kAnswer) return;
    std::vector<std::string> pool;
    if (ombrix::platform::network::domainAddresses(pool) &&
        std::find(pool.begin(), pool.end(), from) == pool.end()) {
        m_refusals.NoteAddress(from, "an announcement");
        return;
    }
    m_serverMap.Store(mail);
    if (mail.type != announce::kAnnouncement) return;
    ServerAnnouncement answer;
    {
        std::lock_guard guard(m_announceLock);
        if (sender == m_computerName) return;  // our own announcement came back
        for (const auto& own : m_localAddresses) {
            if (own == from) return;
        }
        answer = announce::Make(announce::kAnswer, m_computerName, m_serverName, m_serverPort,
                                m_announcePath);
    }
    ombrix::platform::writeMailslot(from, announce::kMailslot, &answer, sizeof answer);
}

// The host name's IPv4 addresses, published as "IP_%d"; the first is the server's name.
bool COmxdriveset::DetermineServerIdentity() {
    std::string host = ombrix::platform::hostName();
    std::vector<std::string> addresses;
    bool found = ombrix::platform::hostAddresses(addresses);
    std::lock_guard guard(m_announceLock);
    m_computerName = host.substr(0, 34);
    if (!found) return false;
    m_localAddresses = addresses;
    for (size_t i = 0; i < addresses.size(); ++i) {
        EnvSetGlobalValue(ombrix::platform::format("IP_%d", static_cast<int>(i + 1)).c_str(),
                          addresses[i].c_str());
    }
    m_serverName = addresses.front();
    EnvSetGlobalValue("OmxServerName", m_serverName.c_str());
    return true;
}

// Where the listener listens: "OmxListenAddress" when set, else this server's own address
// (the first of $OMBRIX_IP, else of the host name's); never every interface.
std::vector<std::string> COmxdriveset::ListenAddresses() {
    std::vector<std::string> out =
        ombrix::platform::splitList(globalValue("OmxListenAddress", 256));
    if (!out.empty()) return out;
    std::vector<std::string> own;
    if (ombrix::platform::hostAddresses(own) && !own.empty()) return {own.front()};
    return {"127.0.0.1"};
}

// A record is served only from a server of the pool: this machine itself, a peer of the server
// list or a host of the pool's domains. One made on this host must come from root or an
// administrator, whatever address it uses.
bool COmxdriveset::AdmitPeer(const sockaddr_in& peer, const sockaddr_in& local) {
    const std::string address = CBlockingSocket::DottedAddress(peer);
    bool known = address == "127.0.0.1";
    {
        std::lock_guard guard(m_announceLock);
        for (const auto& own : m_localAddresses)
            known = known || own == address;
    }
    if (!known) {
        for (const auto& peerAddress : m_peers->Addresses())
            known = known || peerAddress == address;
    }
    std::vector<std::string> domains;
    if (!known && ombrix::platform::network::domainAddresses(domains)) {
        known = std::find(domains.begin(), domains.end(), address) != domains.end();
    }
    if (!known) {
        m_refusals.NoteAddress(address, "an administration record");
        return false;
    }
    if (std::optional<uid_t> owner = ombrix::platform::localPeerOwner(peer, local)) {
        if (*owner != 0 && !ombrix::help::isAdministrator(*owner)) {
            m_refusals.NoteAddress(address + " (user " + std::to_string(*owner) + ")",
                                   "an administration record");
            return false;
        }
    }
    return true;
}

void COmxdriveset::StartListener() {
    try {
        auto listener = CIPListener::Start(
            ListenAddresses(), m_serverPort,
            [this](const CIPData& record, CIPData& reply) {
                return m_ipRequests->Handle(record, reply);
            },
            [this](const sockaddr_in& peer, const sockaddr_in& local) {
                return AdmitPeer(peer, local);
            });
        std::lock_guard guard(m_listenerLock);
        m_listener = std::move(listener);
    } catch (const CBlockingSocketException& e) {
        OXTLog(3, "WINSOCK-Error: %s", e.what());
    }
}

// Request 49: the port changed. Runs on the pipe thread, so the old listener is only closed
// here; its handlers still running end on their own.
void COmxdriveset::RestartListener() {
    {
        std::lock_guard guard(m_listenerLock);
        // Listeners closed before whose last handlers have ended are let go, so port changes
        // do not pile up closed listeners.
        std::erase_if(m_closedListeners, [](const std::unique_ptr<CIPListener>& listener) {
            return listener->ActiveConnections() == 0;
        });
        if (m_listener) {
            m_listener->Close();
            m_closedListeners.push_back(std::move(m_listener));
        }
    }
    std::string port = globalValue("OmxServerPort", 13);
    {
        std::lock_guard guard(m_announceLock);
        m_serverPort = port.empty() ? kDefaultServerPort : std::atoi(port.c_str());
    }
    reg::setString(kSettingsKey, "OmxServerPort", std::to_string(m_serverPort));
    if (m_serverPort > 0 && m_serverPort < kDefaultServerPort) StartListener();
    Announce(announce::kAnswer);
}

void COmxdriveset::ReloadPeers(uint32_t data) {
    std::vector<std::string> local;
    {
        std::lock_guard guard(m_announceLock);
        local = m_localAddresses;
    }
    if (!m_peers->Reload(local)) OXTLog(3, "NotifyServer: the server list is busy");
    OXTLog(0, "NotifyServer, theRequest.m_dwData = %d", static_cast<int>(data));
    if (data == ombrix::pipes::kServerListChanged) {
        // The peers hear of it a little later, off the pipe thread.
        std::shared_ptr<CPeerList> peers = m_peers;
        std::thread([peers] {
            std::this_thread::sleep_for(std::chrono::milliseconds(kPeerNoticeDelayMs));
            OXTLog(0, "NotifyOtherServers, Request: %d", CMountRequest::kReloadPeers);
            peers->Notify(CServer::kServers, CPeerList::TypeForFlag(CServer::kServers));
        }).detach();
    }
}

void COmxdriveset::NotifyOtherServers(int32_t request, int flag) {
    OXTLog(0, "NotifyOtherServers, Request: %d", request);
    m_peers->Notify(flag, CPeerList::TypeForFlag(flag));
}

void COmxdriveset::Announce(uint32_t type) {
    ServerAnnouncement record;
    {
        std::lock_guard guard(m_announceLock);
        record = announce::Make(type, m_computerName, m_serverName, m_serverPort, m_announcePath);
    }
    announce::SendInBackground(record);
}
