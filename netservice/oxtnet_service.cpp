#include "netservice/oxtnet_service.h"

#include "common/names.h"
#include "log/oxtlog.h"
#include "netservice/account_values.h"
#include "netservice/global_values.h"
#include "netservice/net_strings.h"
#include "outside/help/rights.h"
#include "platform/text_printf.h"
#include "service/service_pipe.h"

namespace {

namespace ids = net_strings;
constexpr int kPipeInstances = 5;
constexpr int kPipeAttempts = 3;
constexpr int kExpectedLanguageVersion = 1;
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
    m_pipe.Close();
    if (m_queueThread.joinable()) m_queueThread.join();
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
        LogEvent(FormatString(ids::kLogonRightFailed, ids::fallback(ids::kLogonRightFailed),
                              m_account->c_str())
                     .c_str(),
                 kEventWarning, kEventIdFromType);
    }
    return true;
}

void COMXTSNet::Stop() {
    SetStatus(svc::kStopPending, 5000);
    m_stopEvent.set();
}

void COMXTSNet::Run(int, char**) {
    SetStatus(svc::kStartPending, 50000);
    LoadLanguageModule(netsvc::GlobalValue("OmxLanguage"), netsvc::GlobalValue("OmxHomePath"),
                       kExpectedLanguageVersion);
    m_stopEvent.reset();

    // The driver learns this process: first take back a registration left from before.
    m_driver.Detach();
    if (!m_driver.Attach())
        LogEvent(Text(ids::kCannotConnectDriver).c_str(), kEventError, kEventIdFromType);

    m_managerMutex = OpenPipeMutex(ombrix::names::kServicePipeMutex);
    if (!m_managerMutex) {
        LogEvent(Text(ids::kNoManagerPipeMutex).c_str(), kEventError, kEventIdFromType);
    }
    m_ownMutex = OpenPipeMutex(ombrix::names::kNetPipeMutex);
    if (!m_ownMutex) LogEvent(Text(ids::kNoPipeMutex).c_str(), kEventError, kEventIdFromType);
    m_files = std::make_unique<CSharedFiles>([this](const CMountRequest& r) { Push(r); });
    // A profile file made by this service names its default profiles in the service's language.
    m_files->SetProfileNames(Text(ids::kAdministratorsProfile), Text(ids::kUsersProfile));
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
    started.m_request = CMountRequest::kNetServiceStarted;
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
    int error = m_pipe.Start(
        ombrix::names::kNetPipe, kPipeInstances, m_stopEvent,
        [this](CMountRequest& record, const ombrix::platform::PipeCaller& caller) {
            OXTLog(0, "PipeRead, Request: %d", record.m_request);
            if (!CNetRequests::MayAsk(record.m_request, caller.uid, [](uid_t uid) {
                    return ombrix::help::accountHasRight(8, uid);
                })) {
                m_refusals.Note(caller, record.m_request);
                return PipeReply::kNoAnswer;
            }
            return m_requests->Handle(record) ? PipeReply::kAnswer : PipeReply::kAnswerAndEnd;
        });
    if (error == 0) return;
    if (error != CServicePipe::kNoThread) CNTService::SetLastError(static_cast<uint32_t>(error));
    LogEvent(Text(ids::kNoPipe).c_str(), kEventError, kEventIdFromType);
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
    return CallPipeLogged(m_managerMutex.get(), ombrix::names::kServicePipe, record, kCallTimeoutMs,
                          kPipeAttempts, "service");
}

bool COMXTSNet::CallSelf(CMountRequest& record) {
    return CallPipeLogged(m_ownMutex.get(), ombrix::names::kNetPipe, record, kCallTimeoutMs,
                          kPipeAttempts, "net service");
}

void COMXTSNet::ShutDownService() {
    m_driver.Detach();
    if (m_queueThread.joinable()) m_queueThread.join();
    {
        std::lock_guard guard(m_queueLock);
        m_queue.clear();
    }
    CMountRequest end;
    end.m_request = CNetRequests::kEndServer;
    CallSelf(end);
    m_pipe.Close();
    m_managerMutex.reset();
    m_ownMutex.reset();
}
