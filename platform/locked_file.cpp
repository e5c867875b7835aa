#include "platform/locked_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/win_error.h"

namespace ombrix::platform {

int LockedFile::openRetrying(const std::string& path, FileAccess access, int attempts,
                             bool followLinks) {
    int err = win::kSharingViolation;
    for (int attempt = 0; attempt < std::max(attempts, 1); ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(std::chrono::milliseconds(kRetryDelayMs));
        err = open(path, access, followLinks);
        if (err != win::kSharingViolation) break;
    }
    return err;
}

int LockedFile::open(const std::string& path, FileAccess access, bool followLinks) {
    close();
    int flags = O_CLOEXEC | (followLinks ? 0 : O_NOFOLLOW);
    if (access == FileAccess::Read) flags |= O_RDONLY;
    if (access == FileAccess::Write) flags |= O_RDWR | O_CREAT;
    if (access == FileAccess::Update) flags |= O_RDWR;
    // Opened without waiting: a FIFO or a device would otherwise block the caller for good.
    UniqueFd fd(::open(path.c_str(), flags | O_NONBLOCK, 0666));
    if (!fd.valid() && errno == ELOOP && !followLinks) return win::kAccessDenied;
    if (!fd.valid()) return win::fromErrno(errno, path.c_str());

    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return win::fromErrno(errno, path.c_str());
    // Data files are plain files; anything else is refused as a folder is.
    if (!S_ISREG(st.st_mode)) return win::kAccessDenied;
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

    struct flock lock {};
    lock.l_type = access == FileAccess::Read ? F_RDLCK : F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // the whole file, however long it grows
    if (::fcntl(fd.get(), F_OFD_SETLK, &lock) != 0) {
        if (errno == EAGAIN || errno == EACCES) return win::kSharingViolation;
        return win::fromErrno(errno, path.c_str());
    }
    fd_ = std::move(fd);
    return win::kSuccess;
}

int LockedFile::readAt(void* buffer, size_t length, off_t offset, size_t& got) const {
    got = 0;
    if (!isOpen()) return win::kInvalidHandle;
    auto* out = static_cast<char*>(buffer);
    while (got < length) {
        ssize_t n = ::pread(fd_.get(), out + got, length - got, offset + static_cast<off_t>(got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return win::fromErrno(errno);
        }
        if (n == 0) break;
        got += static_cast<size_t>(n);
    }
    return win::kSuccess;
}

int LockedFile::writeAt(const void* buffer, size_t length, off_t offset) const {
    if (!isOpen()) return win::kInvalidHandle;
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < length) {
        ssize_t n =
            ::pwrite(fd_.get(), in + done, length - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return win::fromErrno(errno);
        }
        done += static_cast<size_t>(n);
    }
    return win::kSuccess;
}

int LockedFile::size(off_t& out) const {
    struct stat st {};
    if (!isOpen()) return win::kInvalidHandle;
    if (::fstat(fd_.get(), &st) != 0) return win::fromErrno(errno);
    out = st.st_size;
    return win::kSuccess;
}

int LockedFile::readAll(std::string& out) const {
    off_t length = 0;
    if (int err = size(length)) return err;
    out.resize(static_cast<size_t>(length));
    size_t got = 0;
    if (int err = readAt(out.data(), out.size(), 0, got)) return err;
    out.resize(got);
    return win::kSuccess;
}

int LockedFile::readAll(std::unique_ptr<char[]>& out, size_t& length) const {
    off_t size = 0;
    if (int err = this->size(size)) return err;
    out = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(size));
    return readAt(out.get(), static_cast<size_t>(size), 0, length);
}

int LockedFile::truncate(off_t length) const {
    if (!isOpen()) return win::kInvalidHandle;
    if (::ftruncate(fd_.get(), length) != 0) return win::fromErrno(errno);
    return win::kSuccess;
}

int LockedFile::reserve(off_t length) const {
    off_t current = 0;
    if (int err = size(current)) return err;
    if (length <= current) return win::kSuccess;
    const int rc = ::posix_fallocate(fd_.get(), 0, length);
    if (rc == ENOSPC || rc == EDQUOT || rc == EFBIG) return win::fromErrno(rc);
    return win::kSuccess;  // no preallocation on this file system: write as usual
}

int LockedFile::sync() const {
    if (!isOpen()) return win::kInvalidHandle;
    if (::fdatasync(fd_.get()) != 0) return win::fromErrno(errno);
    return win::kSuccess;
}

}  // namespace ombrix::platform
