#include "service/peer_server.h"

#include <chrono>
#include <cstdlib>
#include <optional>
#include <thread>

#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "pipes/request_codes.h"
#include "platform/blocking_socket.h"
#include "platform/text_printf.h"

namespace {

using std::chrono::milliseconds;

std::string global(const std::string& key, int size) {
    std::vector<char> buffer(static_cast<size_t>(size) + 1, '\0');
    if (EnvGetGlobalValue(key.c_str(), buffer.data(), size + 1) <= 0) return {};
    return buffer.data();
}

}  // namespace

CServer::CServer(std::string name, int flags, int port, Sender sender)
    : m_name(std::move(name)), m_flags(flags), m_port(port), m_sender(std::move(sender)) {
    if (!m_sender) m_sender = SendRecord;
}

bool CServer::Start(std::vector<std::string> localAddresses) {
    m_local = std::move(localAddresses);
    try {
        m_thread = std::thread(&CServer::Run, this);
    } catch (...) {
        std::lock_guard guard(m_stateLock);
        m_ended = true;
        return false;
    }
    return true;
}

bool CServer::Stop(int waitMs) {
    {
        std::lock_guard guard(m_stateLock);
        m_stop = true;
    }
    m_changed.notify_all();
    if (m_lock.try_lock_for(milliseconds(kQueueLockMs))) {
        m_queue.clear();
        m_lock.unlock();
    }
    std::unique_lock guard(m_stateLock);
    if (!m_changed.wait_for(guard, milliseconds(waitMs), [this] { return m_ended; })) return false;
    guard.unlock();
    if (m_thread.joinable()) m_thread.join();
    return true;
}

CServer::~CServer() {
    // Reached only after a successful Stop, or when the worker never started; a worker that
    // still runs here would use a freed object, so it is given up on instead.
    if (m_thread.joinable()) m_thread.detach();
}

bool CServer::Queue(const CIPData& record) {
    {
        std::lock_guard guard(m_stateLock);
        if (m_stop) return false;
    }
    if (!m_lock.try_lock_for(milliseconds(kQueueLockMs))) return false;
    m_queue.push_back(record);
    m_lock.unlock();
    {
        std::lock_guard guard(m_stateLock);
        m_work = true;
    }
    m_changed.notify_all();
    return true;
}

std::string CServer::Address() const {
    std::lock_guard guard(m_stateLock);
    return m_address;
}

bool CServer::Ended() const {
    std::lock_guard guard(m_stateLock);
    return m_ended;
}

bool CServer::WaitResolved(int timeoutMs) const {
    std::unique_lock guard(m_stateLock);
    return m_changed.wait_for(guard, milliseconds(timeoutMs), [this] { return m_resolved; });
}

void CServer::SendRecord(const std::string& address, int port, const CIPData& record) {
    sockaddr_in to = CBlockingSocket::GetHostByName(address, port);
    CBlockingSocket socket;
    socket.Create();
    socket.Connect(to, record.TimeoutMs());
    WriteIPData(socket, record, record.TimeoutMs());
    socket.Close();
}

void CServer::Run() {
    std::string address;
    try {
        sockaddr_in resolved = CBlockingSocket::GetHostByName(m_name, m_port);
        address = CBlockingSocket::DottedAddress(resolved);
    } catch (const CBlockingSocketException& e) {
        OXTLog(3, "%s %s", m_name.c_str(), e.what());
    }
    OXTLog(0, "CServer Run() : %s (%s), Flags = %d", address.c_str(), m_name.c_str(),
           m_flags.load());
    for (const auto& own : m_local) {
        if (!address.empty() && own == address) {
            m_flags = 0;
            OXTLog(0, "CServer Run() Found myself : %s (%s), Flags = %d", address.c_str(),
                   m_name.c_str(), m_flags.load());
            // Nothing is ever sent to this server itself, not even what was queued meanwhile.
            std::lock_guard queue(m_lock);
            m_queue.clear();
            break;
        }
    }
    {
        std::lock_guard guard(m_stateLock);
        m_address = address;
        m_resolved = true;
    }
    m_changed.notify_all();

    for (;;) {
        {
            std::unique_lock guard(m_stateLock);
            m_changed.wait(guard, [this] { return m_stop || m_work; });
            if (m_stop) break;
        }
        std::optional<CIPData> record;
        if (m_lock.try_lock_for(milliseconds(kWorkerLockMs))) {
            if (!m_queue.empty()) {
                record = std::move(m_queue.front());
                m_queue.pop_front();
            }
            if (m_queue.empty()) {
                std::lock_guard guard(m_stateLock);
                m_work = false;
            }
            m_lock.unlock();
        }
        if (!record) continue;
        OXTLog(0, "Sending IP data to %s, Type = %d", m_name.c_str(),
               static_cast<int>(record->Type()));
        try {
            if (address.empty()) throw CBlockingSocketException("GetHostByName", 11001);
            m_sender(address, m_port, *record);
        } catch (const CBlockingSocketException& e) {
            OXTLog(3, "%s %s", m_name.c_str(), e.what());
        }
    }
    {
        std::lock_guard guard(m_stateLock);
        m_ended = true;
    }
    m_changed.notify_all();
}

CPeerList::~CPeerList() {
    Clear();
}

uint32_t CPeerList::TypeForFlag(int flag) {
    switch (flag) {
        case CServer::kTree: return 1;
        case CServer::kCatalogue: return 2;
        case CServer::kProfiles: return 3;
        case CServer::kAdminFile: return 4;
        case CServer::kServers: return 6;
        default: return 0;
    }
}

int CPeerList::FlagForRequest(int32_t request, uint32_t data) {
    namespace codes = ombrix::pipes;
    switch (request) {
        case codes::kReadCatalogue: return CServer::kCatalogue;
        case codes::kReadTree: return CServer::kTree;
        case codes::kReadProfiles: return CServer::kProfiles;
        case codes::kReadAdminFile: return CServer::kAdminFile;
        case codes::kReadServerList:
        case codes::kNotifyPeersAndNet: return CServer::kServers;
        case codes::kReloadPeers: return data == codes::kServerListChanged ? CServer::kServers : 0;
        default: return 0;
    }
}

void CPeerList::StopAll() {
    for (auto& peer : m_peers) {
        bool ended = false;
        for (int attempt = 0; attempt < 5 && !ended; ++attempt)
            ended = peer->Stop(50);
        // A worker inside a send is not waited for here; the peer stays alive until it ends.
        if (!ended) m_lingering.push_back(peer);
    }
    m_peers.clear();
    std::erase_if(m_lingering, [](const std::shared_ptr<CServer>& peer) { return peer->Stop(0); });
}

void CPeerList::Clear() {
    std::lock_guard guard(m_lock);
    StopAll();
    // A send ends within its time-outs (connect, then each send step).
    for (auto& peer : m_lingering)
        peer->Stop(2 * static_cast<int>(CIPData::kDefaultTimeout) + 1000);
    m_lingering.clear();
}

bool CPeerList::Reload(const std::vector<std::string>& localAddresses) {
    if (!m_lock.try_lock_for(milliseconds(kListLockMs))) return false;
    StopAll();
    m_lock.unlock();

    std::vector<std::shared_ptr<CServer>> loaded;
    int count = std::atoi(global("OMXServer", 33).c_str());
    for (int n = 1; n <= count && n <= 10000; ++n) {
        std::string value = global(ombrix::platform::format("Server_%d", n), 259);
        if (value.empty()) continue;
        size_t first = value.find('|');
        std::string name = value.substr(0, first);
        int flags = 0;
        int port = 0;
        if (first != std::string::npos) {
            size_t second = value.find('|', first + 1);
            flags = std::atoi(value.substr(first + 1, second - first - 1).c_str());
            if (second != std::string::npos) port = std::atoi(value.substr(second + 1).c_str());
        }
        loaded.push_back(std::make_shared<CServer>(name, flags, port, m_sender));
    }
    if (!m_lock.try_lock_for(milliseconds(kListLockMs))) return false;
    for (auto& peer : loaded) {
        peer->Start(localAddresses);
        m_peers.push_back(peer);
    }
    m_lock.unlock();
    return true;
}

void CPeerList::Notify(int flag, uint32_t type) {
    CIPData record(type);
    record.m_header.timeout = CIPData::kDefaultTimeout;
    if (!m_lock.try_lock_for(milliseconds(kListLockMs))) return;
    for (auto& peer : m_peers) {
        if (peer->Flags() & flag) peer->Queue(record);
    }
    m_lock.unlock();
}

std::vector<std::shared_ptr<CServer>> CPeerList::Peers() {
    std::lock_guard guard(m_lock);
    return m_peers;
}

std::vector<std::string> CPeerList::Addresses() {
    std::vector<std::string> out;
    for (const auto& peer : Peers()) {
        std::string address = peer->Address();
        if (!address.empty()) out.push_back(std::move(address));
    }
    return out;
}
