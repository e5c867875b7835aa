#pragma once

#include <sys/un.h>

#include <filesystem>

#include "platform/unique_fd.h"

namespace ombrix::platform {

// The socket address of `path`. A path too long for sun_path is reached through its folder's
// descriptor under /proc/self/fd, which `folder` keeps open while the address is in use.
bool unixAddressFor(const std::filesystem::path& path, sockaddr_un& address, UniqueFd& folder);

}  // namespace ombrix::platform
