#include "platform/secure_files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

// Removes the entry `name` of the open folder `dir`.
int removeEntry(int dir, const char* name, int depth) {
    struct stat st {};
    if (::fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? 0 : win::fromErrno(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        if (::unlinkat(dir, name, 0) == 0 || errno == ENOENT) return 0;
        return win::fromErrno(errno);
    }
    if (depth > 256) return win::kFilenameTooLong;
    int fd = ::openat(dir, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Replaced by a link or a file since it was looked at: remove that instead.
        if (errno == ELOOP || errno == ENOTDIR) {
            return ::unlinkat(dir, name, 0) == 0 || errno == ENOENT ? 0 : win::fromErrno(errno);
        }
        return errno == ENOENT ? 0 : win::fromErrno(errno);
    }
    DIR* listing = ::fdopendir(fd);
    if (listing == nullptr) {
        ::close(fd);
        return win::fromErrno(errno);
    }
    int result = 0;
    while (dirent* entry = ::readdir(listing)) {
        const std::string child = entry->d_name;
        if (child == "." || child == "..") continue;
        if (int rc = removeEntry(::dirfd(listing), child.c_str(), depth + 1); rc != 0) result = rc;
    }
    ::closedir(listing);
    if (::unlinkat(dir, name, AT_REMOVEDIR) != 0 && errno != ENOENT && result == 0) {
        result = win::fromErrno(errno);
    }
    return result;
}

}  // namespace

int ensureFolder(const std::filesystem::path& folder, mode_t mode, std::optional<uid_t> owner,
                 std::optional<gid_t> group) {
    std::error_code ec;
    std::filesystem::create_directories(folder.parent_path(), ec);
    if (::mkdir(folder.c_str(), mode) != 0 && errno != EEXIST) {
        return win::fromErrno(errno, folder.c_str());
    }
    UniqueFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid())
        return errno == ELOOP || errno == ENOTDIR ? win::kAccessDenied : win::fromErrno(errno);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return win::fromErrno(errno);
    const bool privileged = ::geteuid() == 0;
    if (privileged && ((owner && st.st_uid != *owner) || (group && st.st_gid != *group))) {
        if (::fchown(fd.get(), owner ? *owner : static_cast<uid_t>(-1),
                     group ? *group : static_cast<gid_t>(-1)) != 0) {
            return win::fromErrno(errno);
        }
    }
    // The mode is set on purpose, not left to the creating process's umask.
    if ((privileged || st.st_uid == ::geteuid()) && (st.st_mode & 07777) != mode &&
        ::fchmod(fd.get(), mode) != 0) {
        return win::fromErrno(errno);
    }
    return 0;
}

int removeTree(const std::filesystem::path& path) {
    const std::filesystem::path parent = path.parent_path().empty() ? "." : path.parent_path();
    UniqueFd dir(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return errno == ENOENT ? 0 : win::fromErrno(errno);
    return removeEntry(dir.get(), path.filename().c_str(), 0);
}

}  // namespace ombrix::platform
