#include "platform/win_error.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace ombrix::win {

int fromErrno(int err, const char* path) {
    switch (err) {
        case 0: return kSuccess;
        case ENOENT:
            if (path != nullptr) {
                std::error_code ec;
                auto parent = std::filesystem::path(path).parent_path();
                if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
                    return kPathNotFound;
                }
            }
            return kFileNotFound;
        case ENOTDIR: return kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR: return kAccessDenied;
        case EROFS: return kWriteProtect;
        case EMFILE:
        case ENFILE: return kTooManyOpenFiles;
        case ENOMEM: return kNotEnoughMemory;
        case ENOSPC:
        case EDQUOT: return kDiskFull;
        case ENAMETOOLONG: return kFilenameTooLong;
        case EAGAIN:
        case EBUSY: return kSharingViolation;
        case EIO: return kIoDevice;
        case ETIMEDOUT: return kTimeout;
        default: return kGenFailure;
    }
}

}  // namespace ombrix::win
