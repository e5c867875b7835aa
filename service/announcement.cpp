#include "service/announcement.h"

#include <algorithm>

#include <chrono>
#include <cstring>
#include <thread>

#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/mailslot.h"
#include "platform/text_printf.h"

namespace announce {

namespace {

void copyField(char* field, size_t size, const std::string& text) {
    size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

uint64_t fileTimeNow() {
    constexpr uint64_t kEpochDifference = 11644473600ull;  // 1601-01-01 to 1970-01-01, seconds
    auto since = std::chrono::system_clock::now().time_since_epoch();
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(since).count() / 100;
    return static_cast<uint64_t>(ticks) + kEpochDifference * 10000000ull;
}

}  // namespace

ServerAnnouncement Make(uint32_t type, const std::string& computerName,
                        const std::string& serverName, int port, const std::string& sharedPath) {
    ServerAnnouncement record;
    std::memset(&record, 0, sizeof record);
    record.type = type;
    copyField(record.computerName, 35, computerName);
    record.created = fileTimeNow();
    copyField(record.serverName, 50, serverName);
    copyField(record.sharedPath, 260, sharedPath);
    record.port = port < 0 || port > 65535 ? 65535 : static_cast<uint16_t>(port);
    return record;
}

std::string Field(const char* field, size_t size) {
    const void* end = std::memchr(field, '\0', size);
    return std::string(field, end ? static_cast<const char*>(end) - field : size);
}

void Send(const ServerAnnouncement& record) {
    for (const auto& domain : ombrix::platform::enumerateDomains()) {
        if (ombrix::platform::writeMailslot(domain, kMailslot, &record, sizeof record) == 0) {
            continue;
        }
        for (const auto& server : ombrix::platform::enumerateServers(domain))
            ombrix::platform::writeMailslot(server, kMailslot, &record, sizeof record);
    }
}

void SendInBackground(const ServerAnnouncement& record) {
    try {
        std::thread([copy = record] { Send(copy); }).detach();
    } catch (...) {
        OXTLog(3, "Cannot start the announcement thread");
    }
}

}  // namespace announce

void CServerMap::Store(const ServerAnnouncement& record) {
    std::string name = announce::Field(record.serverName, sizeof record.serverName);
    std::string path = announce::Field(record.sharedPath, sizeof record.sharedPath);
    std::lock_guard guard(m_lock);
    const size_t before = m_servers.size();
    const std::string key = ombrix::ascii::toUpper(name);
    m_servers[key] =
        ombrix::platform::format("%s|%d|%s", name.c_str(), static_cast<int>(record.port),
                                 ombrix::ascii::toUpper(path).c_str());
    m_heard[key] = ++m_count;
    while (m_servers.size() > kMaxServers) {
        auto oldest =
            std::min_element(m_heard.begin(), m_heard.end(),
                             [](const auto& a, const auto& b) { return a.second < b.second; });
        m_servers.erase(oldest->first);
        m_heard.erase(oldest);
    }
    Publish(before);
}

std::map<std::string, std::string> CServerMap::Snapshot() const {
    std::lock_guard guard(m_lock);
    return m_servers;
}

// `before`: how many were published before, so that no stale "KS_%d" stays behind.
void CServerMap::Publish(size_t before) const {
    int n = 0;
    for (const auto& [key, text] : m_servers)
        EnvSetGlobalValue(ombrix::platform::format("KS_%d", ++n).c_str(), text.c_str());
    for (size_t stale = m_servers.size() + 1; stale <= before; ++stale)
        EnvDeleteGlobalValue(ombrix::platform::format("KS_%d", static_cast<int>(stale)).c_str());
    EnvSetGlobalValue("KSCount", std::to_string(n).c_str());
}
