#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "service/logon_map.h"
#include "service/mountrequest.h"
#include "service/ntservice.h"
#include "service/request_table.h"

// A manual-reset event inside one process.
class StopEvent {
  public:
    void set();
    void reset();
    bool isSet() const;
    // True when the event was set within `timeoutMs`.
    bool wait(int timeoutMs) const;

  private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    bool set_ = false;
};

// The management service: owns the units of the miniport, the sessions that use them, the
// service pipe and the links to the peer servers.
class COmxdriveset : public CNTService {
  public:
    using SafeLogonMap = ::SafeLogonMap;

    static constexpr const char* kSettingsKey =
        "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";
    static constexpr int kMainLoopTickMs = 10000;

    COmxdriveset();
    ~COmxdriveset() override;

    void Run(int argc, char** argv) override;
    void Stop() override;
    void Shutdown() override;

    // The guarded calls of the service's own pipe and of the network access service's pipe.
    bool CallServicePipe(CMountRequest& record);
    bool CallNetPipe(CMountRequest& record);

  private:
    bool ReadSettings();
    void LoadLanguageModule();
    void DiscoverUnits();
    bool OpenDriver();
    bool StartNotifications();
    void StartPipeServer();
    void PipeServerThread();
    void PeerRequest(const CMountRequest& record);
    void CheckConsistency();
    void ShutDownService();

    StopEvent m_stopEvent;
    std::unique_ptr<SafeLogonMap> m_logons;
    std::unique_ptr<ServiceRequests> m_requests;
    std::unique_ptr<ombrix::platform::NamedPipeServer> m_pipe;
    std::unique_ptr<ombrix::platform::NamedMutex> m_pipeMutex;
    std::unique_ptr<ombrix::platform::NamedMutex> m_netPipeMutex;
    std::mutex m_netPipeMutexLock;
    std::thread m_pipeThread;
    std::atomic<bool> m_abandonPipe{false};
    int m_servicePipeTimeout = 1500;
    int m_scsiPort = -1;
    bool m_driverOpen = false;
    std::string m_serverName;
    int m_serverPort = -1;
    void* m_languageModule = nullptr;
};
