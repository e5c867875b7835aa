#include "platform/socket_owner.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

namespace ombrix::platform {
namespace {

// An address as the table writes it: the 32-bit address as stored, then the port, in hex.
std::string tableAddress(const sockaddr_in& address) {
    char text[16];
    std::snprintf(text, sizeof text, "%08X:%04X", address.sin_addr.s_addr, ntohs(address.sin_port));
    return text;
}

}  // namespace

std::optional<uid_t> localPeerOwner(const sockaddr_in& peer, const sockaddr_in& local) {
    const std::string own = tableAddress(peer);
    const std::string other = tableAddress(local);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);  // the heading
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, localAddress, remoteAddress, state, queues, timer, retransmits;
        unsigned long uid = 0;
        if (!(fields >> slot >> localAddress >> remoteAddress >> state >> queues >> timer >>
              retransmits >> uid)) {
            continue;
        }
        if (localAddress == own && remoteAddress == other) return static_cast<uid_t>(uid);
    }
    return std::nullopt;
}

}  // namespace ombrix::platform
