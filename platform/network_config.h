#pragma once

#include <string>
#include <utility>
#include <vector>

// The machine root's network configuration, kept in the registry stand-in:
//   HKLM\SYSTEM\Network            "MailslotPort"  UDP port of every mailslot (default 13790)
//   HKLM\SYSTEM\Network\Domains    one value per domain: its hosts, comma-separated (names or
//                                  dotted addresses)
//   HKLM\SYSTEM\Network\Hosts      one value per host name: its addresses, comma-separated
// With no domain configured the network has one domain, "WORKGROUP", reached through the
// broadcast address of each local network (255.255.255.255 when none is found).
namespace ombrix::platform::network {

inline constexpr const char* kNetworkKey = "HKLM\\SYSTEM\\Network";
inline constexpr const char* kDomainsKey = "HKLM\\SYSTEM\\Network\\Domains";
inline constexpr const char* kHostsKey = "HKLM\\SYSTEM\\Network\\Hosts";
inline constexpr const char* kDefaultDomain = "WORKGROUP";
inline constexpr int kDefaultMailslotPort = 13790;

int mailslotPort();

// The domains with their hosts, in the registry's order.
std::vector<std::pair<std::string, std::vector<std::string>>> domains();

// The addresses of the hosts of the configured domains; false when no domain is configured (the
// network is then the local networks' broadcast domain).
bool domainAddresses(std::vector<std::string>& out);

// The configured addresses of host `name`; false when it has no entry.
bool hostEntry(const std::string& name, std::string& addresses);

// The broadcast addresses of the local networks.
std::vector<std::string> broadcastAddresses();

}  // namespace ombrix::platform::network
