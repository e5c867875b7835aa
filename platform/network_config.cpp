#include "platform/network_config.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>

#include <cstdlib>

#include "platform/host_name.h"
#include "platform/registry.h"

namespace ombrix::platform::network {

namespace {

std::string text(const registry::Value& value) {
    if (value.type == registry::kDword && value.data.size() == 4) {
        uint32_t n = 0;
        for (size_t i = 4; i-- > 0;)
            n = n << 8 | static_cast<unsigned char>(value.data[i]);
        return std::to_string(n);
    }
    std::string out = value.data;
    for (char& c : out) {
        if (c == '\0') c = ',';  // multi-strings list their hosts one per string
    }
    return out;
}

}  // namespace

int mailslotPort() {
    registry::Value value;
    if (registry::getValue(kNetworkKey, "MailslotPort", value) != 0) return kDefaultMailslotPort;
    int port = std::atoi(text(value).c_str());
    return port > 0 && port < 65536 ? port : kDefaultMailslotPort;
}

std::vector<std::pair<std::string, std::vector<std::string>>> domains() {
    std::vector<std::pair<std::string, std::vector<std::string>>> out;
    std::vector<std::pair<std::string, registry::Value>> values;
    if (registry::listValues(kDomainsKey, values) == 0) {
        for (const auto& [name, value] : values)
            out.emplace_back(name, splitList(text(value)));
    }
    if (out.empty()) out.emplace_back(kDefaultDomain, broadcastAddresses());
    return out;
}

bool domainAddresses(std::vector<std::string>& out) {
    out.clear();
    std::vector<std::pair<std::string, registry::Value>> values;
    if (registry::listValues(kDomainsKey, values) != 0 || values.empty()) return false;
    for (const auto& [name, value] : values) {
        for (const auto& host : splitList(text(value))) {
            std::vector<std::string> addresses;
            if (resolveHost(host, addresses))
                out.insert(out.end(), addresses.begin(), addresses.end());
        }
    }
    return true;
}

bool hostEntry(const std::string& name, std::string& addresses) {
    registry::Value value;
    if (registry::getValue(kHostsKey, name, value) != 0) return false;
    addresses = text(value);
    return true;
}

std::vector<std::string> broadcastAddresses() {
    std::vector<std::string> out;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) == 0) {
        for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
            if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
            if (!(entry->ifa_flags & IFF_BROADCAST) || entry->ifa_broadaddr == nullptr) continue;
            char dotted[INET_ADDRSTRLEN] = {};
            auto* address = reinterpret_cast<sockaddr_in*>(entry->ifa_broadaddr);
            ::inet_ntop(AF_INET, &address->sin_addr, dotted, sizeof dotted);
            out.emplace_back(dotted);
        }
        ::freeifaddrs(list);
    }
    if (out.empty()) out.emplace_back("255.255.255.255");
    return out;
}

}  // namespace ombrix::platform::network
