#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

// The one record of the communication mailslot: a server announces itself (type 3) or answers
// an announcement (type 4). 400 bytes, little-endian; texts zero-terminated in their fields.
#pragma pack(push, 1)
struct ServerAnnouncement {
    uint32_t header;
    uint32_t type;
    char computerName[35];
    char unused1;
    uint64_t created;  // FILETIME, UTC
    char reserved[35];
    char serverName[50];
    char sharedPath[260];
    char unused2;
    uint16_t port;  // 65535: no TCP server
};
#pragma pack(pop)
static_assert(sizeof(ServerAnnouncement) == 400);
static_assert(offsetof(ServerAnnouncement, type) == 4);
static_assert(offsetof(ServerAnnouncement, computerName) == 8);
static_assert(offsetof(ServerAnnouncement, created) == 44);
static_assert(offsetof(ServerAnnouncement, reserved) == 52);
static_assert(offsetof(ServerAnnouncement, serverName) == 87);
static_assert(offsetof(ServerAnnouncement, sharedPath) == 137);
static_assert(offsetof(ServerAnnouncement, port) == 398);

namespace announce {

inline constexpr const char* kMailslot = "OMXTS_COMMUNICATION_SLOT";
constexpr uint32_t kAnnouncement = 3;
constexpr uint32_t kAnswer = 4;

// This server's record: its computer name, server name, TCP port and shared data path; the
// creation time is now.
ServerAnnouncement Make(uint32_t type, const std::string& computerName,
                        const std::string& serverName, int port, const std::string& sharedPath);

// A field's text up to its terminator, never beyond the field.
std::string Field(const char* field, size_t size);

// Sends `record` to the whole network (every domain's mailslot; where a domain cannot be
// written to, to each of its servers). On a thread of its own, which owns the copy.
void SendInBackground(const ServerAnnouncement& record);
void Send(const ServerAnnouncement& record);

}  // namespace announce

// The servers heard of: server name (upper-cased) -> "name|port|SHARED PATH". Each change is
// written to the global store as "KS_%d" (1-based, in key order) and "KSCount". At most
// kMaxServers are kept: the one heard of longest ago goes first.
class CServerMap {
  public:
    static constexpr size_t kMaxServers = 256;

    // Stores the sender of `record`.
    void Store(const ServerAnnouncement& record);
    std::map<std::string, std::string> Snapshot() const;

  private:
    void Publish(size_t before) const;

    mutable std::mutex m_lock;
    std::map<std::string, std::string> m_servers;
    std::map<std::string, uint64_t> m_heard;  // when each was last heard of, counted
    uint64_t m_count = 0;
};
