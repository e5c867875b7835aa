#include "platform/host_name.h"

#include <unistd.h>

#include <cstdlib>

namespace ombrix::platform {

std::string hostName() {
    const char* override = std::getenv("OMBRIX_HOST");
    if (override != nullptr && *override != '\0') return override;
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0) return "localhost";
    return name;
}

}  // namespace ombrix::platform
