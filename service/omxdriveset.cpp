#include "service/omxdriveset.h"

#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "common/names.h"
#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "platform/host_name.h"
#include "platform/registry.h"
#include "platform/win_error.h"
#include "service/pipe_call.h"
#include "service/service_strings.h"

namespace {

namespace ids = service_strings;
namespace reg = ombrix::registry;
using ombrix::platform::NamedMutex;
using ombrix::platform::NamedPipeServer;

constexpr int kPipeInstances = 5;
constexpr int kPipeReadLimitMs = 2000;
constexpr int kAcceptSliceMs = 500;
constexpr int kDefaultServerPort = 65535;
constexpr int kForwardDelayMs = 100;
constexpr int kSessionPipeTimeoutMs = 250;
constexpr int kPipeAttempts = 3;
constexpr int kExpectedLanguageVersion = 1;
constexpr int32_t kNotifyPeersAndNet = 46;
constexpr int32_t kNetPeerNotice = 38;

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

// Sends a copy of a notification to each session's pipe, after a short delay so that the
// sender has its reply first. Owns its copies; touches nothing of the service.
void forwardToSessions(CMountRequest record, std::vector<uint32_t> sessions) {
    std::this_thread::sleep_for(std::chrono::milliseconds(kForwardDelayMs));
    for (uint32_t session : sessions) {
        char pipe[48];
        std::snprintf(pipe, sizeof pipe, ombrix::names::kSessionPipe, static_cast<int>(session));
        CMountRequest copy(record);
        CallPipe(pipe, copy, kSessionPipeTimeoutMs, kPipeAttempts);
    }
}

}  // namespace

void StopEvent::set() {
    {
        std::lock_guard guard(lock_);
        set_ = true;
    }
    changed_.notify_all();
}

void StopEvent::reset() {
    std::lock_guard guard(lock_);
    set_ = false;
}

bool StopEvent::isSet() const {
    std::lock_guard guard(lock_);
    return set_;
}

bool StopEvent::wait(int timeoutMs) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}

COmxdriveset::COmxdriveset()
    : CNTService("OXTServ", "Ombrix TS Manager", "Provides support for management of Ombrix drives",
                 ids::table()) {
    m_controlsAcceptedRunning = svc::kAcceptStop | svc::kAcceptShutdown;
}

COmxdriveset::~COmxdriveset() {
    if (m_pipeThread.joinable()) {
        m_abandonPipe = true;
        m_pipeThread.join();
    }
    SetResourceModule(nullptr, nullptr);
    if (m_languageModule != nullptr) dlclose(m_languageModule);
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
    LoadLanguageModule();
    // POSIX sockets need no library start-up (step of the socket library).
    m_logons = std::make_unique<SafeLogonMap>();
    ServiceRequests::Hooks hooks;
    hooks.event = [this](uint16_t type, int id) { LogEventById(id, type, kEventIdFromType); };
    hooks.eventText = [this](uint16_t type, const std::string& text) {
        LogEvent(text.c_str(), type, kEventIdFromType);
    };
    hooks.callNetPipe = [this](CMountRequest& record) { return CallNetPipe(record); };
    hooks.driverInsert = [this](const CDriveInfo&, std::string_view, std::string_view) {
        return m_driverOpen ? 0u : static_cast<uint32_t>(ombrix::win::kGenFailure);
    };
    hooks.notifySessions = [](const CMountRequest& record, std::vector<uint32_t> sessions) {
        CMountRequest copy(record);
        std::thread(forwardToSessions, copy, std::move(sessions)).detach();
    };
    hooks.peerRequest = [this](const CMountRequest& record) { PeerRequest(record); };
    m_requests = std::make_unique<ServiceRequests>(*m_logons, std::move(hooks));

    try {
        // No physical CD drives are known to this machine, so the drive security policy has no
        // drive to open.
        DiscoverUnits();
        if (!OpenDriver()) LogEventById(ids::kCannotConnectDriver, kEventError, kEventIdFromType);
        if (!StartNotifications()) {
            LogEventById(ids::kNoDriverCommunication, kEventError, kEventIdFromType);
        }
        m_pipeMutex = std::make_unique<NamedMutex>(ombrix::names::kServicePipeMutex);
        if (m_pipeMutex->openError() != 0) {
            CNTService::SetLastError(static_cast<uint32_t>(m_pipeMutex->openError()));
            LogEventById(ids::kNoSynchronization, kEventError, kEventIdFromType);
            m_pipeMutex.reset();
        }
        StartPipeServer();
    } catch (...) {
        LogEventById(ids::kUnknownException, kEventError, kEventIdFromType);
    }

    m_serverName = ombrix::platform::hostName();
    if (m_serverName.empty()) LogEventById(ids::kNoServerName, kEventError, kEventIdFromType);
    std::string port = globalValue("OmxServerPort", 13);
    m_serverPort = port.empty() ? kDefaultServerPort : std::atoi(port.c_str());
    SetStatus(svc::kRunning, 3000);

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

void COmxdriveset::LoadLanguageModule() {
    std::string language = globalValue("OmxLanguage", 9);
    if (language.size() != 3) return;
    char self[1024];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::string base = std::filesystem::path(self).stem().string();
    std::string path =
        globalValue("OmxHomePath", 1024) + "Language/" + language + "/Res/" + base + "." + language;
    if (!std::filesystem::exists(path)) return;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return;
    auto version = reinterpret_cast<int (*)()>(dlsym(module, "GetLGVersion"));
    auto text = reinterpret_cast<int (*)(int, char*, int)>(dlsym(module, "GetLGString"));
    if (version == nullptr || version() != kExpectedLanguageVersion) {
        dlclose(module);
        return;
    }
    m_languageModule = module;
    SetResourceModule(module, text);
}

// Without the miniport's SCSI port there are no units; the published values say so.
void COmxdriveset::DiscoverUnits() {
    EnvSetGlobalValue("OMXUnits", "0");
    EnvSetGlobalValue("OMXAdapter", "-1");
    EnvSetGlobalValue("OMXDeviceMap", "");
    EnvSetGlobalValue("OXTEmptyDevice", "");
    m_requests->clearUnits();
    m_scsiPort = -1;
    EnvSetGlobalValue("OMXUnits", std::to_string(m_requests->unitCount()).c_str());
    EnvSetGlobalValue("OMXAdapter", std::to_string(m_scsiPort).c_str());
    EnvSetGlobalValue("OMXDeviceMap", "");
    if (CDriveInfo* empty = m_requests->emptyDevice()) {
        EnvSetGlobalValue("OXTEmptyDevice", empty->deviceName.c_str());
    }
}

bool COmxdriveset::OpenDriver() {
    m_driverOpen = false;
    return m_scsiPort >= 0 && m_driverOpen;
}

bool COmxdriveset::StartNotifications() {
    if (!m_driverOpen) {
        LogEventById(ids::kNoDriverConnection, kEventError, kEventIdFromType);
        return false;
    }
    return true;
}

void COmxdriveset::StartPipeServer() {
    int error = 0;
    m_pipe = NamedPipeServer::create(ombrix::names::kServicePipe, kPipeInstances, error);
    if (!m_pipe) {
        CNTService::SetLastError(static_cast<uint32_t>(error));
        LogEventById(ids::kNoCommunication, kEventError, kEventIdFromType);
    }
    m_abandonPipe = false;
    try {
        m_pipeThread = std::thread(&COmxdriveset::PipeServerThread, this);
    } catch (...) {
        LogEventById(ids::kNoCommunication, kEventError, kEventIdFromType);
    }
}

// Serves one connection at a time. The stop event is looked at between connections only, so
// the request -1 sent at shutdown is still answered.
void COmxdriveset::PipeServerThread() {
    if (!m_pipe) return;
    // The pipe goes with its server thread: once it has ended, callers find no pipe at all
    // instead of waiting on an instance nobody serves.
    struct PipeCloser {
        std::unique_ptr<NamedPipeServer>& pipe;
        ~PipeCloser() { pipe.reset(); }
    } closer{m_pipe};
    bool ended = false;
    while (!ended && !m_stopEvent.isSet()) {
        std::unique_ptr<ombrix::platform::PipeConnection> connection;
        int error = 0;
        while (!connection) {
            if (m_abandonPipe) return;
            connection = m_pipe->accept(kAcceptSliceMs, error);
        }
        CMountRequest record;
        size_t size = 0;
        if (connection->read(record.bytes(), sizeof record, size, kPipeReadLimitMs) != 0 ||
            size != sizeof record) {
            continue;  // no reply: the caller's call fails
        }
        ended = !m_requests->handle(record);
        connection->write(record.bytes(), sizeof record);
    }
}

void COmxdriveset::PeerRequest(const CMountRequest& record) {
    if (record.m_request == CMountRequest::kNetServiceStarted) {
        std::lock_guard guard(m_netPipeMutexLock);
        auto mutex = std::make_unique<NamedMutex>(ombrix::names::kNetPipeMutex);
        if (mutex->openError() == 0) m_netPipeMutex = std::move(mutex);
    }
    OXTLog(0, "Peer request %d: no peer servers known", record.m_request);
    if (record.m_request == kNotifyPeersAndNet) {
        // The network access service hears of it as well.
        CMountRequest net(record);
        net.m_request = kNetPeerNotice;
        net.m_dwData = kNotifyPeersAndNet;
        CallNetPipe(net);
    }
}

// Compares every unit's recorded image with what the driver holds; without the driver there
// is nothing to compare.
void COmxdriveset::CheckConsistency() {
    if (!m_driverOpen) return;
}

bool COmxdriveset::CallServicePipe(CMountRequest& record) {
    int code = record.m_request;
    bool ok = CallPipeGuarded(m_pipeMutex.get(), ombrix::names::kServicePipe, record,
                              m_servicePipeTimeout, kPipeAttempts);
    if (!ok) OXTLog(3, "Calling service failed, request: %d", code);
    return ok;
}

bool COmxdriveset::CallNetPipe(CMountRequest& record) {
    int code = record.m_request;
    bool ok;
    {
        std::lock_guard guard(m_netPipeMutexLock);
        ok = CallPipeGuarded(m_netPipeMutex.get(), ombrix::names::kNetPipe, record,
                             m_servicePipeTimeout, kPipeAttempts);
    }
    if (!ok) OXTLog(3, "Calling net service failed, request: %d", code);
    return ok;
}

void COmxdriveset::ShutDownService() {
    CMountRequest end;
    end.m_request = CMountRequest::kEndServer;
    if (!CallServicePipe(end)) m_abandonPipe = true;
    if (m_pipeThread.joinable()) {
        // A pipe thread that did not get the request gives up at its next accept slice.
        m_abandonPipe = true;
        m_pipeThread.join();
    }
    m_pipe.reset();
    for (CDriveInfo* unit : m_requests->units())
        m_requests->emptyUnit(*unit);
    m_pipeMutex.reset();
    {
        std::lock_guard guard(m_netPipeMutexLock);
        m_netPipeMutex.reset();
    }
    m_requests->clearUnits();
}
