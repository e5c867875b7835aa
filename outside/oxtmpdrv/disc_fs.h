#pragma once

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "manager/image_contents.h"

// What a unit shows of its disc: the read-only folders and files of the disc's file system
// (Joliet names when present, else ISO names without their version). The operations answer like
// file-system calls (0 or a negative errno) so the mount and tests call the same code.
namespace oxtmpdrv {

class DiscFs {
  public:
    // Called with the process id of every process that opens a file or folder of the disc.
    using AccessHook = std::function<void(pid_t)>;

    explicit DiscFs(AccessHook onAccess = {}) : onAccess_(std::move(onAccess)) {}

    // Opens the image and walks its file system, opening the image's files with the rights of
    // `identity` (the process's own when null). The disc shown is the last data track whose
    // file system could be read (the latest session of a multi-session disc). Its folders and
    // the root's files are read now, another folder's files when it is first looked into.
    // 0 or the image's error (an image without a readable file system shows an empty
    // root and answers 0); fileSystemError() tells whether its file system can be shown.
    int load(const std::string& imagePath,
             std::shared_ptr<const ombrix::platform::FileIdentity> identity = nullptr);

    // After load: 0 when the disc's file system is shown (or it has none), 13 when it cannot be
    // read, 14 when it holds more than one disc may (see kMaxNodes); such a disc is not served.
    int fileSystemError() const { return fileSystemError_; }

    // The accounts that may read the disc besides root; everybody while never set.
    void setReaders(std::vector<uid_t> readers);
    bool mayRead(uid_t uid) const;

    // The operations on nodes, numbered from 0 (the root) as the kernel's node ids less one.
    // The child of `folder` named `name` (its files read first when it is first looked into):
    // the node, or -ENOENT, or -ENOMEM when the folder was cut short by the tree's bounds.
    long child(uint32_t folder, std::string_view name) const;
    int getattr(uint32_t node, struct stat* st) const;
    // Calls `add` for the entries of `folder` (without "." and "..") from the `from`th on, until
    // it answers false. A folder the tree's bounds cut short is not listed in part: -ENOMEM.
    using AddEntry = std::function<bool(const char* name, const struct stat& st)>;
    int readdir(uint32_t folder, size_t from, const AddEntry& add) const;
    // Opens a file for reading (the node is then the handle for read()), or a folder.
    int open(uint32_t node, int flags, pid_t caller) const;
    int opendir(uint32_t node, pid_t caller) const;

    // The same by path: the node `path` names, or a negative errno as child() answers.
    long lookup(const char* path) const;
    int getattr(const char* path, struct stat* st) const;
    int readdir(const char* path,
                const std::function<void(const char* name, const struct stat& st)>& add) const;
    int open(const char* path, int flags, pid_t caller, uint64_t& handle) const;
    int opendir(const char* path, pid_t caller) const;

    // Reads from an open file: the number of bytes, or -EIO.
    long read(uint64_t handle, char* buffer, size_t size, off_t offset) const;
    int statfs(struct statvfs* st) const;

    const std::string& label() const;

  private:
    // Reads the files of `folder` when it is first looked into; false when the tree reached its
    // bounds before they were all read.
    bool filesOf(uint32_t folder) const;
    // The child of `folder` named `name`, -1 when it has none; each folder's names are indexed
    // the first time it is looked into. The caller holds treeLock_ shared.
    long childNamed(uint32_t folder, std::string_view name) const;
    void fill(uint32_t node, struct stat* st) const;
    // Whether `node` exists, and whether it is a folder. The caller holds treeLock_ shared.
    bool exists(uint32_t node) const;
    bool isFolder(uint32_t node) const;
    void noteAccess(pid_t caller) const;

    AccessHook onAccess_;
    mutable std::mutex readersLock_;
    std::optional<std::vector<uid_t>> readers_;
    ombrix::contents::ImageContents image_;
    const ombrix::contents::TrackContents* track_ = nullptr;  // the track shown
    std::unique_ptr<ombrix::contents::FolderReader> tree_;
    // The tree grows while folders are first looked into: lookups share it, a reading of a
    // folder's files has it alone.
    mutable std::shared_mutex treeLock_;
    // Folders looked into so far: their children's nodes sorted by name.
    mutable std::mutex indexLock_;
    mutable std::unordered_map<uint32_t, std::vector<uint32_t>> index_;
    std::string emptyLabel_;
    int fileSystemError_ = 0;
};

}  // namespace oxtmpdrv
