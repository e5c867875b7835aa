#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pipes/mountrequest.h"
#include "pipes/refusal_log.h"
#include "platform/mailslot.h"
#include "platform/named_event.h"
#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "platform/terminal_sessions.h"
#include "service/announcement.h"
#include "service/ip_listener.h"
#include "service/ip_requests.h"
#include "service/logon_map.h"
#include "service/miniport_client.h"
#include "service/ntservice.h"
#include "service/peer_server.h"
#include "service/request_table.h"
#include "service/rights_cache.h"
#include "service/service_pipe.h"
#include "service/session_forwarder.h"
#include "service/stop_event.h"
#include "service/unit_setup.h"

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
    void ApplyDriveSecurityPolicy();
    void DiscoverUnits();
    bool OpenDriver();
    void ForgetEarlierUse();
    void ForgetLostDiscs();
    void PointLettersAtEmptyDevice(const std::vector<std::string>& devices);
    bool StartNotifications();
    void NotificationThread(std::string deviceName);
    void NotifyAccess(uint32_t pid, const std::string& deviceName);
    void StartSessionMonitor();
    void StartDrivesSetWatch();
    void SessionMonitorThread();
    int LinkSecurity(std::string_view name, uint32_t session);
    void StartPipeServer();
    void PeerRequest(const CMountRequest& record);
    // Peer servers and remote administration.
    void StartMailslot();
    void MailslotThread();
    void HandleMail(const ServerAnnouncement& mail, const std::string& from);
    bool DetermineServerIdentity();
    void StartListener();
    std::vector<std::string> ListenAddresses();
    bool AdmitPeer(const sockaddr_in& peer, const sockaddr_in& local);
    void RestartListener();
    void ReloadPeers(uint32_t data);
    void NotifyOtherServers(int32_t request, int flag);
    void Announce(uint32_t type);
    void CheckConsistency();
    void ShutDownService();
    void JoinWorkers();

    CSessionForwarder m_forwarder;
    CRightsCache m_rights;
    CRefusalLog m_refusals;
    StopEvent m_stopEvent;
    std::unique_ptr<SafeLogonMap> m_logons;
    std::unique_ptr<ServiceRequests> m_requests;
    CServicePipe m_pipe;
    std::unique_ptr<ombrix::platform::NamedMutex> m_pipeMutex;
    std::unique_ptr<ombrix::platform::NamedMutex> m_netPipeMutex;
    std::mutex m_netPipeMutexLock;
    std::thread m_notifyThread;
    std::thread m_sessionThread;
    std::unique_ptr<ombrix::platform::NamedEvent> m_drivesSet;
    std::thread m_drivesSetThread;
    CMiniport m_driver;
    const unsigned char* m_notifyBuffer = nullptr;
    ombrix::wts::SystemEventWaiter m_sessionEvents;
    CBoolString m_deviceMap;
    int m_servicePipeTimeout = 1500;
    int m_scsiPort = -1;
    std::string m_serverName;
    int m_serverPort = -1;
    std::string m_computerName;
    std::vector<std::string> m_localAddresses;
    std::unique_ptr<ombrix::platform::MailslotServer> m_mailslot;
    std::thread m_mailslotThread;
    CServerMap m_serverMap;
    std::shared_ptr<CPeerList> m_peers = std::make_shared<CPeerList>();
    std::unique_ptr<CIPRequests> m_ipRequests;
    // The listener and the ones a port change closed (their last handlers may still run).
    std::mutex m_listenerLock;
    std::unique_ptr<CIPListener> m_listener;
    std::vector<std::unique_ptr<CIPListener>> m_closedListeners;
    std::mutex m_announceLock;  // the announced port and shared data path
    std::string m_announcePath;
};
