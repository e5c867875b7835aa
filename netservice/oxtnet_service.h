#pragma once

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "netservice/net_driver.h"
#include "netservice/net_requests.h"
#include "netservice/shared_files.h"
#include "pipes/mountrequest.h"
#include "pipes/refusal_log.h"
#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "service/ntservice.h"
#include "service/service_pipe.h"
#include "service/stop_event.h"

// The network access service: reads the shared files of the pool, publishes them into the
// global store, re-reads them when they change and tells the management service; answers the
// network pipe (header and password checks, re-reads, the server list).
class COMXTSNet : public CNTService {
  public:
    static constexpr int kCallTimeoutMs = 1500;
    static constexpr int kPollIntervalMs = 5000;
    static constexpr int kQueueTickMs = 250;

    COMXTSNet();
    ~COMXTSNet() override;

    void Run(int argc, char** argv) override;
    void Stop() override;
    bool InstallSelf() override;

    // A text of the string table, or its built-in fallback.
    std::string Text(int id) const;

  private:
    void StartPipe();
    void QueueThread();
    void Push(const CMountRequest& record);
    bool CallManager(CMountRequest& record);
    bool CallSelf(CMountRequest& record);
    void ShutDownService();

    StopEvent m_stopEvent;
    CNetDriver m_driver;
    std::unique_ptr<ombrix::platform::NamedMutex> m_managerMutex;
    std::unique_ptr<ombrix::platform::NamedMutex> m_ownMutex;
    CServicePipe m_pipe;
    CRefusalLog m_refusals;
    std::thread m_queueThread;
    std::mutex m_queueLock;
    std::deque<CMountRequest> m_queue;
    std::unique_ptr<CSharedFiles> m_files;
    std::unique_ptr<CNetRequests> m_requests;
};
