#include "outside/oxtmpdrv/disc_fs.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/win_error.h"

namespace oxtmpdrv {

namespace oc = ombrix::contents;

int DiscFs::load(const std::string& imagePath,
                 std::shared_ptr<const ombrix::platform::FileIdentity> identity) {
    track_ = nullptr;
    fileSystemError_ = 0;
    {
        std::lock_guard<std::mutex> guard(indexLock_);
        index_.clear();
    }
    if (int err = image_.open(imagePath, std::move(identity), oc::Walks::lastFileSystem)) {
        return err;
    }
    image_.wait();
    const oc::TrackContents* shown = nullptr;
    for (const auto& t : image_.tracks()) {
        if (t->data && t->walkResult != oc::kWalkNoDescriptor) shown = t.get();
    }
    if (shown == nullptr) return 0;
    switch (shown->walkResult) {
        case oc::kWalkDone: track_ = shown; break;
        case oc::kWalkTooLarge: fileSystemError_ = ombrix::win::kOutOfMemory; break;
        default: fileSystemError_ = ombrix::win::kInvalidData; break;
    }
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
    return track_ ? track_->files.label : emptyLabel_;
}

long DiscFs::childNamed(uint32_t folder, std::string_view name) const {
    const auto& nodes = track_->files.nodes;
    std::lock_guard<std::mutex> guard(indexLock_);
    auto [it, added] = index_.try_emplace(folder);
    if (added) {
        it->second.reserve(nodes[folder].children.size());
        for (uint32_t child : nodes[folder].children)
            it->second.emplace(nodes[child].name, child);
    }
    auto found = it->second.find(name);
    return found == it->second.end() ? -1 : long(found->second);
}

long DiscFs::lookup(const char* path) const {
    if (track_ == nullptr) return std::strcmp(path, "/") == 0 ? 0 : -1;
    const auto& nodes = track_->files.nodes;
    uint32_t at = 0;
    std::string_view rest(path);
    while (!rest.empty()) {
        const size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty()) continue;
        if (!nodes[at].directory) return -1;
        const long child = childNamed(at, part);
        if (child < 0) return -1;
        at = static_cast<uint32_t>(child);
    }
    return at;
}

void DiscFs::fill(uint32_t node, struct stat* st) const {
    std::memset(st, 0, sizeof *st);
    st->st_ino = node + 1;
    if (track_ == nullptr) {
        st->st_mode = S_IFDIR | 0555;
        st->st_nlink = 2;
        return;
    }
    const oc::Node& n = track_->files.nodes[node];
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

int DiscFs::getattr(const char* path, struct stat* st) const {
    long node = lookup(path);
    if (node < 0) return -ENOENT;
    fill(static_cast<uint32_t>(node), st);
    return 0;
}

int DiscFs::readdir(const char* path,
                    const std::function<void(const char*, const struct stat&)>& add) const {
    long node = lookup(path);
    if (node < 0) return -ENOENT;
    if (track_ == nullptr) return 0;
    const oc::Node& dir = track_->files.nodes[static_cast<size_t>(node)];
    if (!dir.directory) return -ENOTDIR;
    struct stat st;
    for (uint32_t child : dir.children) {
        fill(child, &st);
        add(track_->files.nodes[child].name.c_str(), st);
    }
    return 0;
}

int DiscFs::open(const char* path, int flags, pid_t caller, uint64_t& handle) const {
    long node = lookup(path);
    if (node < 0) return -ENOENT;
    if ((flags & O_ACCMODE) != O_RDONLY || (flags & O_TRUNC)) return -EROFS;
    if (track_ == nullptr || track_->files.nodes[static_cast<size_t>(node)].directory)
        return -EISDIR;
    handle = static_cast<uint64_t>(node);
    noteAccess(caller);
    return 0;
}

int DiscFs::opendir(const char* path, pid_t caller) const {
    long node = lookup(path);
    if (node < 0) return -ENOENT;
    if (track_ != nullptr && !track_->files.nodes[static_cast<size_t>(node)].directory)
        return -ENOTDIR;
    noteAccess(caller);
    return 0;
}

long DiscFs::read(uint64_t handle, char* buffer, size_t size, off_t offset) const {
    if (track_ == nullptr || offset < 0 || handle >= track_->files.nodes.size()) return -EBADF;
    size_t got = 0;
    int err = image_.read(track_->index, static_cast<uint32_t>(handle), uint64_t(offset), size,
                          reinterpret_cast<uint8_t*>(buffer), got);
    // What was read before a damaged sector is given; the damaged sector itself is an error.
    if (err != 0 && got == 0) return -EIO;
    return static_cast<long>(got);
}

int DiscFs::statfs(struct statvfs* st) const {
    std::memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = oc::kSectorBytes;
    if (track_ != nullptr) {
        st->f_blocks = track_->record.endSector - track_->record.firstSector;
        st->f_files = track_->files.nodes.size();
    }
    st->f_namemax = 255;
    st->f_flag = ST_RDONLY;
    return 0;
}

}  // namespace oxtmpdrv
