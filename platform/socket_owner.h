#pragma once

#include <netinet/in.h>
#include <sys/types.h>

#include <optional>

// Who opened the other end of a TCP connection made on this host: the kernel's table of TCP
// sockets (/proc/net/tcp) names the owner of every local socket. A connection from another host
// has no entry here.
namespace ombrix::platform {

// The user id owning the socket at `peer` that is connected to `local`; nullopt when the peer's
// socket is not one of this host.
std::optional<uid_t> localPeerOwner(const sockaddr_in& peer, const sockaddr_in& local);

}  // namespace ombrix::platform
