#pragma once

#include <filesystem>
#include <string_view>

// All state of one server lives below one folder, the machine root: $OMBRIX_ROOT, else
// /var/lib/ombrix. Read on every call so tests can point a process at a fresh root.
namespace ombrix::platform {

std::filesystem::path machineRoot();

// `relative` below the machine root; the folders on the way are created when `createParents`.
std::filesystem::path rootPath(std::string_view relative, bool createParents = true);

}  // namespace ombrix::platform
