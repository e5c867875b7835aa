#include "platform/machine_root.h"

#include <cstdlib>
#include <system_error>

namespace ombrix::platform {

std::filesystem::path machineRoot() {
    const char* root = std::getenv("OMBRIX_ROOT");
    if (root != nullptr && *root != '\0') return std::filesystem::path(root);
    return "/var/lib/ombrix";
}

std::filesystem::path rootPath(std::string_view relative, bool createParents) {
    std::filesystem::path full = machineRoot() / std::filesystem::path(relative);
    if (createParents) {
        std::error_code ec;
        std::filesystem::create_directories(full.parent_path(), ec);
    }
    return full;
}

}  // namespace ombrix::platform
