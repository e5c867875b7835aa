#include "platform/message_bus.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/machine_root.h"
#include "platform/session_id.h"
#include "platform/unix_address.h"

namespace ombrix::platform {
namespace {

constexpr size_t kMaxMessage = 1024;

std::filesystem::path busFolder(uint32_t session) {
    std::filesystem::path folder =
        rootPath("Sessions/" + std::to_string(session) + "/windows/x").parent_path();
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return folder;
}

void putWord(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out += static_cast<char>(value >> (8 * i) & 0xFF);
}

uint64_t getWord(std::string_view bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

}  // namespace

std::string encodeBusMessage(const BusMessage& message) {
    std::string out = message.name;
    out += '\0';
    putWord(out, message.wParam);
    putWord(out, static_cast<uint64_t>(message.lParam));
    return out;
}

std::optional<BusMessage> decodeBusMessage(std::string_view bytes) {
    size_t end = bytes.find('\0');
    if (end == std::string_view::npos || bytes.size() != end + 1 + 16) return std::nullopt;
    BusMessage message;
    message.name = std::string(bytes.substr(0, end));
    message.wParam = getWord(bytes.substr(end + 1, 8));
    message.lParam = static_cast<int64_t>(getWord(bytes.substr(end + 9, 8)));
    return message;
}

int postToSession(const BusMessage& message) {
    return postToSession(currentSessionId(), message);
}

int postToSession(uint32_t session, const BusMessage& message) {
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return 0;
    std::string bytes = encodeBusMessage(message);
    int reached = 0;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(busFolder(session), ec)) {
        sockaddr_un address;
        UniqueFd folder;
        if (!unixAddressFor(entry.path(), address, folder)) continue;
        ssize_t sent = ::sendto(fd.get(), bytes.data(), bytes.size(), MSG_DONTWAIT,
                                reinterpret_cast<sockaddr*>(&address), sizeof address);
        if (sent == static_cast<ssize_t>(bytes.size())) {
            ++reached;
        } else if (errno == ECONNREFUSED) {
            std::filesystem::remove(entry.path(), ec);  // its program has ended
        }
    }
    return reached;
}

BusListener::BusListener() : BusListener(currentSessionId()) {}

BusListener::BusListener(uint32_t session) {
    static std::atomic<unsigned> counter{0};
    path_ = (busFolder(session) / (std::to_string(::getpid()) + "-" + std::to_string(counter++)))
                .string();
    sockaddr_un address;
    UniqueFd folder;
    if (!unixAddressFor(path_, address, folder)) return;
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) return;
    ::unlink(path_.c_str());
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) return;
    ::chmod(path_.c_str(), 0666);  // programs of other accounts in the session post too
    fd_ = std::move(fd);
}

BusListener::~BusListener() {
    if (fd_.valid()) ::unlink(path_.c_str());
}

std::optional<BusMessage> BusListener::receive(int timeoutMs) {
    if (!fd_.valid()) return std::nullopt;
    pollfd p{fd_.get(), POLLIN, 0};
    int ready = 0;
    do {
        ready = ::poll(&p, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready <= 0) return std::nullopt;
    char buffer[kMaxMessage];
    ssize_t n = ::recv(fd_.get(), buffer, sizeof buffer, 0);
    if (n <= 0) return std::nullopt;
    return decodeBusMessage(std::string_view(buffer, static_cast<size_t>(n)));
}

}  // namespace ombrix::platform
