#include "platform/unix_address.h"

#include <fcntl.h>
#include <sys/socket.h>

#include <cstring>
#include <string>

namespace ombrix::platform {

bool unixAddressFor(const std::filesystem::path& path, sockaddr_un& address, UniqueFd& folder) {
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    std::string text = path.string();
    if (text.size() >= sizeof address.sun_path) {
        folder.reset(::open(path.parent_path().c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder.valid()) return false;
        text = "/proc/self/fd/" + std::to_string(folder.get()) + "/" + path.filename().string();
        if (text.size() >= sizeof address.sun_path) return false;
    }
    std::memcpy(address.sun_path, text.c_str(), text.size() + 1);
    return true;
}

}  // namespace ombrix::platform
