#include "netservice/oxtnet_service.h"

#include <dlfcn.h>
#include <unistd.h>

#include <filesystem>

#include "common/names.h"
#include "log/oxtlog.h"
#include "netservice/account_values.h"
#include "netservice/global_values.h"
#include "netservice/net_strings.h"
#include "platform/text_printf.h"
#include "service/pipe_call.h"

namespace {

namespace ids = net_strings;
using ombrix::platform::NamedMutex;
using ombrix::platform::NamedPipeServer;

constexpr int kPipeInstances = 5;
constexpr int kPipeAttempts = 3;
constexpr int kPipeReadLimitMs = 2000;
constexpr int kAcceptSliceMs = 500;
constexpr int kExpectedLanguageVersion = 1;
constexpr int32_t kNetServiceStarted = 34;
constexpr uint32_t kManualStart = 3;
constexpr uint32_t kAutomaticStart = 2;

}  // namespace

COMXTSNet::COMXTSNet()
    : CNTService(ids::kServiceName, ids::kFallbackDisplayName, ids::kFallbackDescription,
                 ids::table()) {
    m_startType = kManualStart;
    m_dependencies = ids::kDependencies;
}

COMXTSNet::~COMXTSNet() {
    m_stopEvent.set();
    m_abandonPipe = true;
    if (m_pipeThread.joinable()) m_pipeThread.join();
    if (m_queueThread.joinable()) m_queueThread.join();
    SetResourceModule(nullptr, nullptr);
    if (m_languageModule != nullptr) dlclose(m_languageModule);
}

std::string COMXTSNet::Text(int id) const {
    std::string text = LoadString(id);
    return text.empty() ? ids::fallback(id) : text;
}

bool COMXTSNet::InstallSelf() {
    // With an account of its own the service starts with the system; else on demand.
    if (m_account) m_startType = kAutomaticStart;
    if (!CNTService::InstallSelf()) return false;
    if (m_account && netsvc::GrantServiceLogonRight(*m_account) != 0) {
        LogEvent(ombrix::platform::format(Text(ids::kLogonRightFailed).c_str(), m_account->c_str())
                     .c_str(),
                 kEventWarning, kEventIdFromType);
    }
    return true;
}

void COMXTSNet::Stop() {
    SetStatus(svc::kStopPending, 5000);
    m_stopEvent.set();
}

void COMXTSNet::LoadLanguageModule() {
    std::string language = netsvc::GlobalValue("OmxLanguage");
    if (language.size() != 3) return;
    char self[1024];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::string base = std::filesystem::path(self).stem().string();
    std::string path = netsvc::GlobalValue("OmxHomePath") + "Language/" + language + "/Res/" +
                       base + "." + language;
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

void COMXTSNet::Run(int, char**) {
    SetStatus(svc::kStartPending, 50000);
    LoadLanguageModule();
    m_stopEvent.reset();

    // The driver learns this process: first take back a registration left from before.
    m_driver.Detach();
    if (!m_driver.Attach())
        LogEvent(Text(ids::kCannotConnectDriver).c_str(), kEventError, kEventIdFromType);

    m_managerMutex = std::make_unique<NamedMutex>(ombrix::names::kServicePipeMutex);
    if (m_managerMutex->openError() != 0) {
        CNTService::SetLastError(static_cast<uint32_t>(m_managerMutex->openError()));
        LogEvent(Text(ids::kNoManagerPipeMutex).c_str(), kEventError, kEventIdFromType);
        m_managerMutex.reset();
    }
    m_ownMutex = std::make_unique<NamedMutex>(ombrix::names::kNetPipeMutex);
    if (m_ownMutex->openError() != 0) {
        CNTService::SetLastError(static_cast<uint32_t>(m_ownMutex->openError()));
        LogEvent(Text(ids::kNoPipeMutex).c_str(), kEventError, kEventIdFromType);
        m_ownMutex.reset();
    }
    m_files = std::make_unique<CSharedFiles>([this](const CMountRequest& r) { Push(r); });
    m_requests =
        std::make_unique<CNetRequests>(*m_files, [this](const CMountRequest& r) { Push(r); });
    StartPipe();

    // Start-up reads, in this order; each failure is logged and retried at a later change.
    if (!m_files->ReadServerFile()) {
        m_files->ReportFailure(CSharedFiles::kServerList, "ReadServerFile() failed");
    }
    if (!m_files->ReadImagesFile())
        m_files->ReportFailure(CSharedFiles::kCatalogue, "ReadImagesFile() failed");
    if (!m_files->ReadSecurity())
        m_files->ReportFailure(CSharedFiles::kProfile, "ReadSecurity() failed");
    if (!m_files->ReadTreeFile())
        m_files->ReportFailure(CSharedFiles::kTree, "ReadTreeFile() failed");
    if (!m_files->ReadEnvFile())
        m_files->ReportFailure(CSharedFiles::kSettings, "ReadEnvFile() failed");
    netsvc::PublishAccountValues();

    try {
        m_queueThread = std::thread(&COMXTSNet::QueueThread, this);
    } catch (...) {
        OXTLog(3, "Cannot start the queue thread");
    }
    if (!m_files->ReadAdminFile())
        m_files->ReportFailure(CSharedFiles::kAdmin, "ReadAdminFile() failed");

    CMountRequest started;
    started.m_request = kNetServiceStarted;
    CallManager(started);
    SetStatus(svc::kRunning, 3000);

    while (!m_stopEvent.wait(kPollIntervalMs)) {
        m_requests->ChangeCheck([this](int32_t code) {
            CMountRequest record;
            record.m_request = code;
            CallSelf(record);
        });
    }
    ShutDownService();
}

void COMXTSNet::StartPipe() {
    int error = 0;
    m_pipe = NamedPipeServer::create(ombrix::names::kNetPipe, kPipeInstances, error);
    if (!m_pipe) {
        CNTService::SetLastError(static_cast<uint32_t>(error));
        LogEvent(Text(ids::kNoPipe).c_str(), kEventError, kEventIdFromType);
        return;
    }
    m_abandonPipe = false;
    try {
        m_pipeThread = std::thread(&COMXTSNet::PipeThread, this);
    } catch (...) {
        m_pipe.reset();
        LogEvent(Text(ids::kNoPipe).c_str(), kEventError, kEventIdFromType);
    }
}

// One connection at a time, in arrival order; the stop event is looked at between connections,
// so the request -1 sent at the end is still answered.
void COMXTSNet::PipeThread() {
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
            continue;
        }
        OXTLog(0, "PipeRead, Request: %d", record.m_request);
        ended = !m_requests->Handle(record);
        connection->write(record.bytes(), sizeof record);
    }
}

void COMXTSNet::Push(const CMountRequest& record) {
    OXTLog(0, "Push request: %d", record.m_request);
    std::lock_guard guard(m_queueLock);
    m_queue.push_back(record);
}

void COMXTSNet::QueueThread() {
    while (!m_stopEvent.wait(kQueueTickMs)) {
        for (;;) {
            CMountRequest record;
            {
                std::lock_guard guard(m_queueLock);
                if (m_queue.empty()) break;
                record = m_queue.front();
                m_queue.pop_front();
            }
            OXTLog(0, "Pop request: %d", record.m_request);
            CallManager(record);
        }
    }
}

bool COMXTSNet::CallManager(CMountRequest& record) {
    int code = record.m_request;
    bool ok = CallPipeGuarded(m_managerMutex.get(), ombrix::names::kServicePipe, record,
                              kCallTimeoutMs, kPipeAttempts);
    if (!ok) OXTLog(3, "Calling service failed, request: %d", code);
    return ok;
}

bool COMXTSNet::CallSelf(CMountRequest& record) {
    int code = record.m_request;
    bool ok = CallPipeGuarded(m_ownMutex.get(), ombrix::names::kNetPipe, record, kCallTimeoutMs,
                              kPipeAttempts);
    if (!ok) OXTLog(3, "Calling net service failed, request: %d", code);
    return ok;
}

void COMXTSNet::ShutDownService() {
    m_driver.Detach();
    if (m_queueThread.joinable()) m_queueThread.join();
    {
        std::lock_guard guard(m_queueLock);
        m_queue.clear();
    }
    CMountRequest end;
    end.m_request = CNetRequests::kEnd;
    if (!CallSelf(end)) m_abandonPipe = true;
    if (m_pipeThread.joinable()) {
        m_abandonPipe = true;
        m_pipeThread.join();
    }
    m_pipe.reset();
    m_managerMutex.reset();
    m_ownMutex.reset();
}
