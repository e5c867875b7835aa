#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/unique_fd.h"

// Mailslots: one-way datagrams to a named slot on a machine or on every machine of a domain.
// A slot is reached as a UDP datagram to the root's mailslot port (network_config.h); the
// datagram carries the slot's name before the message, so a server takes only the messages of
// its own slot. Delivery is not guaranteed, as with the original broadcast mailslots.
namespace ombrix::platform {

class MailslotServer {
  public:
    // Creates slot `name` on this server: bound to each of this server's addresses when
    // $OMBRIX_IP names them (several servers on one host), else to every local address.
    // Null on failure with `error` set (Win32-style code).
    static std::unique_ptr<MailslotServer> create(std::string_view name, int& error);

    // Waits at most `timeoutMs` for the next message of this slot and reads it; messages of
    // other slots are skipped. `size` gets the message's full length (beyond `capacity` the
    // rest is dropped). `from` gets the sender's address (dotted IPv4) when given. Returns 0,
    // 121 on time-out, or another code.
    int read(void* buffer, size_t capacity, size_t& size, int timeoutMs,
             std::string* from = nullptr);

  private:
    MailslotServer(std::string name, std::vector<UniqueFd> sockets)
        : name_(std::move(name)), sockets_(std::move(sockets)) {}

    std::string name_;
    std::vector<UniqueFd> sockets_;
};

// Writes one message to slot `name` on `target`: "." (this server), a domain of the network
// configuration ("*" = the first domain) reached on each of its hosts, or a machine name or
// address. Returns 0 when the message went out to at least one address, else 53 (the network
// path was not found) or another code.
int writeMailslot(std::string_view target, std::string_view name, const void* data, size_t size);

// The names of the domains of the network and the servers of one domain, as the server
// enumeration of the network reports them (see network_config.h).
std::vector<std::string> enumerateDomains();
std::vector<std::string> enumerateServers(std::string_view domain);

}  // namespace ombrix::platform
