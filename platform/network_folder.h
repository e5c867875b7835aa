#pragma once

#include <string>

namespace ombrix::platform {

// Whether a folder lies on a network file system (NFS, SMB, FUSE mounts such as sshfs, …) or is
// named as a share ("\\server\share", "//server/share"): several servers may see it alike.
bool onNetworkFileSystem(const std::string& folder);

}  // namespace ombrix::platform
