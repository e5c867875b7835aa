#include "platform/mailslot.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/ascii.h"
#include "platform/host_name.h"
#include "platform/network_config.h"
#include "platform/win_error.h"

namespace ombrix::platform {

namespace {

constexpr size_t kMaxDatagram = 65507;
constexpr int kBadNetPath = 53;
constexpr int kSemTimeout = 121;

sockaddr_in addressOf(const std::string& dotted, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    ::inet_pton(AF_INET, dotted.c_str(), &address.sin_addr);
    return address;
}

// The slot's name (upper-cased, length-prefixed) and the message.
std::string datagram(std::string_view name, const void* data, size_t size) {
    std::string slot = ascii::toUpper(name.substr(0, 255));
    std::string out(1, static_cast<char>(slot.size()));
    out += slot;
    out.append(static_cast<const char*>(data), size);
    return out;
}

bool sendTo(const std::string& dotted, const std::string& message) {
    UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return false;
    int on = 1;
    ::setsockopt(fd.get(), SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    // From this server's own address, so that the receiver knows whom it heard.
    std::vector<std::string> own = bindAddresses();
    if (!own.empty()) {
        sockaddr_in local = addressOf(own.front(), 0);
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local);
    }
    sockaddr_in address = addressOf(dotted, network::mailslotPort());
    return ::sendto(fd.get(), message.data(), message.size(), 0,
                    reinterpret_cast<const sockaddr*>(&address),
                    sizeof address) == static_cast<ssize_t>(message.size());
}

bool sendToHost(const std::string& host, const std::string& message) {
    std::vector<std::string> addresses;
    if (!resolveHost(host, addresses)) return false;
    return sendTo(addresses.front(), message);
}

}  // namespace

std::unique_ptr<MailslotServer> MailslotServer::create(std::string_view name, int& error) {
    error = 0;
    std::vector<std::string> binds = bindAddresses();
    if (binds.empty()) binds.emplace_back("0.0.0.0");
    std::vector<UniqueFd> sockets;
    for (const auto& dotted : binds) {
        UniqueFd fd(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        if (!fd.valid()) {
            error = win::fromErrno(errno);
            return nullptr;
        }
        // No address reuse: a second slot on the same address must fail, not share datagrams.
        sockaddr_in address = addressOf(dotted, network::mailslotPort());
        if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            error = errno == EADDRINUSE ? 183 : win::fromErrno(errno);  // 183: already exists
            return nullptr;
        }
        sockets.push_back(std::move(fd));
    }
    return std::unique_ptr<MailslotServer>(
        new MailslotServer(ascii::toUpper(name), std::move(sockets)));
}

int MailslotServer::read(void* buffer, size_t capacity, size_t& size, int timeoutMs,
                         std::string* from) {
    size = 0;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::vector<pollfd> entries;
    for (const auto& fd : sockets_)
        entries.push_back({fd.get(), POLLIN, 0});
    std::string message(kMaxDatagram, '\0');
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            wait = left.count() < 0 ? 0 : static_cast<int>(left.count());
        }
        int n = ::poll(entries.data(), entries.size(), wait);
        if (n == 0) return kSemTimeout;
        if (n < 0) {
            if (errno == EINTR) continue;
            return win::fromErrno(errno);
        }
        for (auto& entry : entries) {
            if (!(entry.revents & POLLIN)) continue;
            sockaddr_in sender{};
            socklen_t senderSize = sizeof sender;
            ssize_t got = ::recvfrom(entry.fd, message.data(), message.size(), MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&sender), &senderSize);
            if (got <= 0) continue;
            auto length = static_cast<size_t>(static_cast<unsigned char>(message[0]));
            if (static_cast<size_t>(got) < 1 + length) continue;
            if (message.compare(1, length, name_) != 0 || length != name_.size()) continue;
            size = static_cast<size_t>(got) - 1 - length;
            std::memcpy(buffer, message.data() + 1 + length, size < capacity ? size : capacity);
            if (from != nullptr) {
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &sender.sin_addr, text, sizeof text);
                *from = text;
            }
            return 0;
        }
    }
}

int writeMailslot(std::string_view target, std::string_view name, const void* data, size_t size) {
    std::string message = datagram(name, data, size);
    if (message.size() > kMaxDatagram) return win::kInvalidParameter;
    std::string to(target);
    if (to == ".") to = hostName();
    auto all = network::domains();
    for (const auto& [domain, hosts] : all) {
        if (!ascii::equalsIgnoreCase(domain, to) && !(to == "*" && &domain == &all.front().first)) {
            continue;
        }
        bool any = false;
        for (const auto& host : hosts)
            any = sendToHost(host, message) || any;
        return any ? 0 : kBadNetPath;
    }
    return sendToHost(to, message) ? 0 : kBadNetPath;
}

std::vector<std::string> enumerateDomains() {
    std::vector<std::string> names;
    for (const auto& [domain, hosts] : network::domains())
        names.push_back(domain);
    return names;
}

std::vector<std::string> enumerateServers(std::string_view domain) {
    for (const auto& [name, hosts] : network::domains()) {
        if (ascii::equalsIgnoreCase(name, domain)) return hosts;
    }
    return {};
}

}  // namespace ombrix::platform
