#include "platform/host_name.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/ascii.h"
#include "platform/network_config.h"

namespace ombrix::platform {

std::string hostName() {
    const char* override = std::getenv("OMBRIX_HOST");
    if (override != nullptr && *override != '\0') return override;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

std::vector<std::string> splitList(const std::string& text) {
    std::vector<std::string> items;
    std::string item;
    for (char c : text + ",") {
        if (c == ',' || c == ' ' || c == ';' || c == '\t') {
            if (!item.empty()) items.push_back(item);
            item.clear();
        } else {
            item += c;
        }
    }
    return items;
}

namespace {

bool isDotted(const std::string& text) {
    in_addr address{};
    return ::inet_pton(AF_INET, text.c_str(), &address) == 1;
}

bool systemResolve(const std::string& name, std::vector<std::string>& out) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(name.c_str(), nullptr, &hints, &list) != 0) return false;
    for (addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen != sizeof(sockaddr_in)) continue;
        char text[INET_ADDRSTRLEN] = {};
        auto* address = reinterpret_cast<sockaddr_in*>(entry->ai_addr);
        ::inet_ntop(AF_INET, &address->sin_addr, text, sizeof text);
        bool seen = false;
        for (const auto& known : out)
            seen = seen || known == text;
        if (!seen) out.emplace_back(text);
    }
    ::freeaddrinfo(list);
    return !out.empty();
}

}  // namespace

bool hostAddresses(std::vector<std::string>& out) {
    out.clear();
    const char* override = std::getenv("OMBRIX_IP");
    if (override != nullptr && *override != '\0') {
        for (const auto& item : splitList(override)) {
            if (isDotted(item)) out.push_back(item);
        }
        return !out.empty();
    }
    return systemResolve(hostName(), out);
}

std::vector<std::string> bindAddresses() {
    std::vector<std::string> out;
    const char* override = std::getenv("OMBRIX_IP");
    if (override == nullptr || *override == '\0' || !hostAddresses(out)) out.clear();
    return out;
}

bool resolveHost(const std::string& name, std::vector<std::string>& out) {
    out.clear();
    if (name.empty()) return false;
    if (isDotted(name)) {
        out.push_back(name);
        return true;
    }
    if (ascii::equalsIgnoreCase(name, hostName())) return hostAddresses(out);
    std::string configured;
    if (network::hostEntry(name, configured)) {
        for (const auto& item : splitList(configured)) {
            if (isDotted(item)) out.push_back(item);
        }
        if (!out.empty()) return true;
    }
    return systemResolve(name, out);
}

}  // namespace ombrix::platform
