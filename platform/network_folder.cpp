#include "platform/network_folder.h"

#include <sys/vfs.h>

namespace ombrix::platform {

bool onNetworkFileSystem(const std::string& folder) {
    if (folder.starts_with("\\\\") || folder.starts_with("//")) return true;
    struct statfs fs {};
    if (::statfs(folder.c_str(), &fs) != 0) return false;
    switch (static_cast<unsigned long>(fs.f_type)) {
        case 0x6969:      // NFS
        case 0x517B:      // SMB
        case 0xFF534D42:  // CIFS
        case 0xFE534D42:  // SMB2
        case 0x65735546:  // FUSE (sshfs and the like)
        case 0x564C:      // NCP
        case 0x01021997:  // 9P
        case 0x00C36400:  // Ceph
        case 0x47504653:  // GPFS
        case 0x0BD00BD0:  // Lustre
            return true;
        default: return false;
    }
}

}  // namespace ombrix::platform
