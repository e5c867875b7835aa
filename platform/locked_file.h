#pragma once

#include <sys/types.h>

#include <cstddef>
#include <memory>
#include <string>

#include "platform/unique_fd.h"

namespace ombrix::platform {

// How a data file is opened. Reading shares the file with other readers and keeps writers out;
// writing keeps everybody else out and creates the file when it is missing; updating is writing
// to a file that must exist already.
enum class FileAccess { Read, Write, Update };

// A data file opened under an open-file-description lock, so the exclusion holds between
// processes and on network mounts, and ends when the file is closed or its process dies.
// Every operation answers with a Win32-style code: 0 success, 2 file not found, 3 path not
// found, 5 access denied, 32 sharing violation (another process holds a conflicting lock).
class LockedFile {
  public:
    LockedFile() = default;
    LockedFile(LockedFile&&) = default;
    LockedFile& operator=(LockedFile&&) = default;

    // With `followLinks` false a link in the file's place is refused (access denied) and never
    // followed: how shared data files are opened, which a privileged service may create.
    int open(const std::string& path, FileAccess access, bool followLinks = true);
    // As open, trying again kRetryDelayMs apart while another process holds the file (32), up
    // to `attempts` tries in all; any other answer ends the tries at once.
    int openRetrying(const std::string& path, FileAccess access, int attempts,
                     bool followLinks = true);
    static constexpr int kAttempts = 15;  // how every data file of the system is opened
    static constexpr int kRetryDelayMs = 50;
    void close() { fd_.reset(); }
    bool isOpen() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }

    // Reads up to `length` bytes at `offset`; `got` is the number read (short at end of file).
    int readAt(void* buffer, size_t length, off_t offset, size_t& got) const;
    int writeAt(const void* buffer, size_t length, off_t offset) const;
    int readAll(std::string& out) const;
    // The same into a buffer of exactly the file's length, not cleared first.
    int readAll(std::unique_ptr<char[]>& out, size_t& length) const;
    int size(off_t& out) const;
    int truncate(off_t length) const;
    // Makes room for `length` bytes before any old byte is overwritten, so a full disk fails a
    // rewrite with the old contents intact instead of leaving half a file.
    int reserve(off_t length) const;
    int sync() const;

  private:
    UniqueFd fd_;
};

}  // namespace ombrix::platform
