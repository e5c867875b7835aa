#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>

// Files and folders of the machine root as a privileged process must treat them: never through a
// link somebody else could have planted, with the owner and mode the trust model gives them.
namespace ombrix::platform {

// Makes `folder` a real folder (not a link) with `mode`; when this process may, it also gets
// `owner` and `group` (unset: left as they are) and the mode is set even on an existing folder.
// 0, or a Win32-style code (5 when a link or another kind of file stands in its place).
int ensureFolder(const std::filesystem::path& folder, mode_t mode,
                 std::optional<uid_t> owner = std::nullopt,
                 std::optional<gid_t> group = std::nullopt);

// Removes `path` and, when it is a folder, everything below it, without following any link on
// the way: a link is removed itself, never what it points at. 0 when nothing is left (also when
// there was nothing), else a Win32-style code.
int removeTree(const std::filesystem::path& path);

}  // namespace ombrix::platform
