#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "service/ip_data.h"

// One peer server of the pool: its name, the notifications it wants (flag bits), its TCP port,
// and a worker thread that sends the queued records to it one connection each. A peer whose
// worker is still inside a send when it is dropped is kept until the worker has ended.
class CServer {
  public:
    // Flag bits and the record type each selects.
    enum Flag : int {
        kTree = 2,        // type 1: the folder tree file
        kCatalogue = 4,   // type 2: the catalogue
        kProfiles = 8,    // type 3: the profile file
        kAdminFile = 16,  // type 4: the administration file
        kServers = 32,    // type 6: the server list
    };
    static constexpr int kQueueLockMs = 250;
    static constexpr int kWorkerLockMs = 100;

    // Sends one record to address:port (the socket layer); throws CBlockingSocketException.
    using Sender = std::function<void(const std::string& address, int port, const CIPData&)>;

    CServer(std::string name, int flags, int port, Sender sender = {});

    // Starts the worker; `localAddresses` are this server's own addresses.
    bool Start(std::vector<std::string> localAddresses);
    // Asks the worker to end and drops what is queued; true when the worker ended within
    // `waitMs`, and then its thread has been joined.
    bool Stop(int waitMs);
    ~CServer();
    // Queues a copy of `record` and wakes the worker; false when the peer is stopping or its
    // queue lock was not obtained in time.
    bool Queue(const CIPData& record);

    const std::string& Name() const { return m_name; }
    int Flags() const { return m_flags; }
    int Port() const { return m_port; }
    std::string Address() const;
    bool Ended() const;
    // Blocks until the worker has looked up the peer's address (tests).
    bool WaitResolved(int timeoutMs) const;

  private:
    void Run();
    static void SendRecord(const std::string& address, int port, const CIPData& record);

    const std::string m_name;
    std::atomic<int> m_flags;
    const int m_port;
    Sender m_sender;
    std::vector<std::string> m_local;

    mutable std::timed_mutex m_lock;  // guards the queue
    std::deque<CIPData> m_queue;

    mutable std::mutex m_stateLock;  // guards the events and the address
    mutable std::condition_variable m_changed;
    bool m_stop = false;
    bool m_work = false;
    bool m_ended = false;
    bool m_resolved = false;
    std::string m_address;
    std::thread m_thread;
};

// The peer servers of this server, as the network access service lists them in the global
// store ("OMXServer" = count, "Server_%d" = "name|flags|port").
class CPeerList {
  public:
    static constexpr int kListLockMs = 250;

    explicit CPeerList(CServer::Sender sender = {}) : m_sender(std::move(sender)) {}
    ~CPeerList();

    // Stops and drops every peer, then loads the list again and starts each peer. False when
    // the list lock was not obtained in time (nothing changed).
    bool Reload(const std::vector<std::string>& localAddresses);
    // Queues a header-only record of `type` on every peer whose flags contain `flag`.
    void Notify(int flag, uint32_t type);
    // Stops every peer, also the ones a reload could not wait for (service shutdown).
    void Clear();

    std::vector<std::shared_ptr<CServer>> Peers();
    // The resolved addresses of the peers.
    std::vector<std::string> Addresses();

    // The record type for a peer flag, and the flag of a service pipe request (0: none).
    static uint32_t TypeForFlag(int flag);
    static int FlagForRequest(int32_t request, uint32_t data);

  private:
    void StopAll();

    CServer::Sender m_sender;
    std::timed_mutex m_lock;
    std::vector<std::shared_ptr<CServer>> m_peers;
    // Peers dropped while their worker was still inside a send; waited for at Clear.
    std::vector<std::shared_ptr<CServer>> m_lingering;
};
