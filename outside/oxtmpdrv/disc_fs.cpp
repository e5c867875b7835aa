#include "outside/oxtmpdrv/disc_fs.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <shared_mutex>

#include "platform/win_error.h"

namespace oxtmpdrv {

namespace oc = ombrix::contents;

int DiscFs::load(const std::string& imagePath,
                 std::shared_ptr<const ombrix::platform::FileIdentity> identity) {
    std::unique_lock<std::shared_mutex> tree(treeLock_);
    track_ = nullptr;
    tree_.reset();
    fileSystemError_ = 0;
    {
        std::lock_guard<std::mutex> guard(indexLock_);
        index_.clear();
    }
    if (int err = image_.open(imagePath, std::move(identity), oc::Walks::none)) return err;
    const auto& tracks = image_.tracks();
    int result = oc::kWalkNoDescriptor;
    for (auto t = tracks.rbegin(); t != tracks.rend() && result == oc::kWalkNoDescriptor; ++t) {
        if (!(*t)->data) continue;
        auto reader = std::make_unique<oc::FolderReader>(*(*t)->sectors);
        result = reader->readFolders();
        if (result == oc::kWalkDone) {
            track_ = t->get();
            tree_ = std::move(reader);
        }
    }
    if (result == oc::kWalkTooLarge) fileSystemError_ = ombrix::win::kOutOfMemory;
    if (result == oc::kWalkUnreadable) fileSystemError_ = ombrix::win::kInvalidData;
    if (fileSystemError_ != 0) image_.close();
    return 0;
}

void DiscFs::setReaders(std::vector<uid_t> readers) {
    std::lock_guard<std::mutex> guard(readersLock_);
    readers_ = std::move(readers);
}

bool DiscFs::mayRead(uid_t uid) const {
    if (uid == 0) return true;
    std::lock_guard<std::mutex> guard(readersLock_);
    return !readers_ || std::find(readers_->begin(), readers_->end(), uid) != readers_->end();
}

const std::string& DiscFs::label() const {
    return tree_ ? tree_->tree().label : emptyLabel_;
}

bool DiscFs::filesOf(uint32_t folder) const {
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (auto read = tree_->filesRead(folder)) return *read;
    }
    std::unique_lock<std::shared_mutex> alone(treeLock_);
    return tree_->readFiles(folder);
}

long DiscFs::childNamed(uint32_t folder, std::string_view name) const {
    const auto& nodes = tree_->tree().nodes;
    std::lock_guard<std::mutex> guard(indexLock_);
    auto [it, added] = index_.try_emplace(folder);
    auto& sorted = it->second;
    auto byName = [&nodes](uint32_t a, uint32_t b) { return nodes[a].name < nodes[b].name; };
    if (added) {
        sorted = nodes[folder].children;
        std::sort(sorted.begin(), sorted.end(), byName);
    }
    auto found = std::lower_bound(
        sorted.begin(), sorted.end(), name,
        [&nodes](uint32_t a, std::string_view n) { return std::string_view(nodes[a].name) < n; });
    return found != sorted.end() && nodes[*found].name == name ? long(*found) : -1;
}

bool DiscFs::exists(uint32_t node) const {
    return tree_ != nullptr ? node < tree_->tree().nodes.size() : node == 0;
}

bool DiscFs::isFolder(uint32_t node) const {
    return tree_ == nullptr || tree_->tree().nodes[node].directory;
}

long DiscFs::child(uint32_t folder, std::string_view name) const {
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (tree_ == nullptr || !exists(folder) || !isFolder(folder)) return -ENOENT;
    }
    const bool whole = filesOf(folder);
    std::shared_lock<std::shared_mutex> shared(treeLock_);
    const long found = childNamed(folder, name);
    if (found < 0) return whole ? -ENOENT : -ENOMEM;
    return found;
}

long DiscFs::lookup(const char* path) const {
    long at = 0;
    std::string_view rest(path);
    while (!rest.empty() && at >= 0) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (!part.empty()) at = child(static_cast<uint32_t>(at), part);
    }
    return at;
}

// The caller holds treeLock_ shared.
void DiscFs::fill(uint32_t node, struct stat* st) const {
    std::memset(st, 0, sizeof *st);
    st->st_ino = node + 1;
    if (tree_ == nullptr) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return;
    }
    const oc::Node& n = tree_->tree().nodes[node];
    st->st_mode = n.directory ? (S_IFDIR | 0555) : (S_IFREG | 0444);
    st->st_nlink = n.directory ? 2 : 1;
    st->st_size = n.directory ? oc::kSectorBytes : static_cast<off_t>(n.size);
    st->st_blksize = oc::kSectorBytes;
    st->st_blocks = (st->st_size + 511) / 512;
    st->st_mtim.tv_sec = st->st_atim.tv_sec = st->st_ctim.tv_sec = n.modified;
}

void DiscFs::noteAccess(pid_t caller) const {
    if (onAccess_ && caller > 0) onAccess_(caller);
}

int DiscFs::getattr(uint32_t node, struct stat* st) const {
    std::shared_lock<std::shared_mutex> shared(treeLock_);
    if (!exists(node)) return -ENOENT;
    fill(node, st);
    return 0;
}

int DiscFs::readdir(uint32_t folder, size_t from, const AddEntry& add) const {
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (!exists(folder)) return -ENOENT;
        if (!isFolder(folder)) return -ENOTDIR;
        if (tree_ == nullptr) return 0;
    }
    if (!filesOf(folder)) return -ENOMEM;
    std::shared_lock<std::shared_mutex> shared(treeLock_);
    const auto& nodes = tree_->tree().nodes;
    const auto& children = nodes[folder].children;
    struct stat st;
    for (size_t i = from; i < children.size(); ++i) {
        fill(children[i], &st);
        if (!add(nodes[children[i]].name.c_str(), st)) break;
    }
    return 0;
}

int DiscFs::open(uint32_t node, int flags, pid_t caller) const {
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC)) return -EROFS;
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (!exists(node)) return -ENOENT;
        if (isFolder(node)) return -EISDIR;
    }
    noteAccess(caller);
    return 0;
}

int DiscFs::opendir(uint32_t node, pid_t caller) const {
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (!exists(node)) return -ENOENT;
        if (!isFolder(node)) return -ENOTDIR;
    }
    noteAccess(caller);
    return 0;
}

int DiscFs::getattr(const char* path, struct stat* st) const {
    const long node = lookup(path);
    return node < 0 ? static_cast<int>(node) : getattr(static_cast<uint32_t>(node), st);
}

int DiscFs::readdir(const char* path,
                    const std::function<void(const char*, const struct stat&)>& add) const {
    const long node = lookup(path);
    if (node < 0) return static_cast<int>(node);
    return readdir(static_cast<uint32_t>(node), 0, [&add](const char* name, const struct stat& st) {
        add(name, st);
        return true;
    });
}

int DiscFs::open(const char* path, int flags, pid_t caller, uint64_t& handle) const {
    const long node = lookup(path);
    if (node < 0) return static_cast<int>(node);
    const int rc = open(static_cast<uint32_t>(node), flags, caller);
    if (rc == 0) handle = static_cast<uint64_t>(node);
    return rc;
}

int DiscFs::opendir(const char* path, pid_t caller) const {
    const long node = lookup(path);
    return node < 0 ? static_cast<int>(node) : opendir(static_cast<uint32_t>(node), caller);
}

long DiscFs::read(uint64_t handle, char* buffer, size_t size, off_t offset) const {
    if (offset < 0) return -EBADF;
    std::vector<oc::Extent> extents;
    uint64_t fileSize = 0;
    {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        if (tree_ == nullptr || handle >= tree_->tree().nodes.size()) return -EBADF;
        const oc::Node& file = tree_->tree().nodes[handle];
        if (file.directory) return -EISDIR;
        extents = file.data;
        fileSize = file.size;
    }
    if (uint64_t(offset) >= fileSize) return 0;
    size = static_cast<size_t>(std::min<uint64_t>(size, fileSize - uint64_t(offset)));
    size_t got = 0;
    int err = oc::readFileBytes(*track_->sectors, extents, uint64_t(offset), size,
                                reinterpret_cast<uint8_t*>(buffer), got);
    // A read that reaches a damaged sector fails whole: the kernel takes a short answer for the
    // file's end and would show the file cut there. What lies before the sector reads in
    // smaller pieces, which the kernel asks for after the failure.
    if (err != 0) return -EIO;
    return static_cast<long>(got);
}

int DiscFs::statfs(struct statvfs* st) const {
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = oc::kSectorBytes;
    if (track_ != nullptr) {
        std::shared_lock<std::shared_mutex> shared(treeLock_);
        st->f_blocks = track_->record.endSector - track_->record.firstSector;
        st->f_files = tree_->tree().nodes.size();
    }
    st->f_namemax = 255;
    st->f_flag = ST_RDONLY;
    return 0;
}

}  // namespace oxtmpdrv
