#pragma once

#include <string>
#include <vector>

namespace ombrix::platform {

// This server's name: $OMBRIX_HOST when set (several machine roots on one host are several
// servers), else the system's host name.
std::string hostName();

// The IPv4 addresses of this server in dotted form, in the resolver's order: $OMBRIX_IP
// (comma-separated) when set, else the addresses the system resolves for the host name. False
// when none is found.
bool hostAddresses(std::vector<std::string>& out);

// The IPv4 addresses of `name` in dotted form: this server's own addresses for its own name, a
// dotted address itself, the addresses the root's network configuration gives the name (see
// network_config.h), else the system's resolver. False when none is found.
bool resolveHost(const std::string& name, std::vector<std::string>& out);

// The addresses this server's sockets bind to: its own addresses when $OMBRIX_IP names them
// (several servers share one host), else none, meaning every local address.
std::vector<std::string> bindAddresses();

// Splits a comma- or blank-separated list, dropping empty items.
std::vector<std::string> splitList(const std::string& text);

}  // namespace ombrix::platform
