#include "manager/image_contents.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "common/image_header.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::contents {
namespace {

constexpr size_t kCopyPiece = 64 * kSectorBytes;

int writeAll(int fd, const uint8_t* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd, data, length);
        if (n < 0) {
            if (errno == EINTR) continue;
            return win::fromErrno(errno);
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
    return win::kSuccess;
}

}  // namespace

int ImageContents::open(const std::string& path,
                        std::shared_ptr<const platform::FileIdentity> identity, Walks walks) {
    close();
    stop_ = false;
    path_ = path;
    std::optional<platform::ActingAs> as;
    if (identity) {
        as.emplace(*identity);
        if (!as->ok()) return win::kAccessDenied;
    }
    OmxImageHeader header{};
    if (int err = header::read(path, header)) return err;
    description_ = header::description(header);
    if (!header::hasContainerMark(header)) return win::kInvalidData;
    image::Container container;
    if (int err = image::readContainer(path, container, false)) return err;
    // Copied out of the packed header: a reference to it could be misaligned.
    const uint32_t sectorsPerPart = container.header.sectorsPerPartFile;
    for (size_t i = 0; i < container.tracks.size(); ++i) {
        auto track = std::make_unique<TrackContents>();
        track->index = i;
        track->record = container.tracks[i];
        if (track->record.kind & image::kDataTrack) {
            track->data = std::make_unique<TrackData>(path, static_cast<int>(i), track->record,
                                                      sectorsPerPart, identity);
        } else {
            track->walked = true;
        }
        tracks_.push_back(std::move(track));
    }
    std::vector<SectorSource*> dataTracks;
    for (auto& track : tracks_) {
        if (track->data) dataTracks.push_back(track->data.get());
    }
    for (auto& track : tracks_) {
        if (track->data) track->sectors = std::make_unique<DiscSectors>(*track->data, dataTracks);
    }
    if (walks == Walks::none) return win::kSuccess;
    for (auto& track : tracks_) {
        if (!track->data) continue;
        TrackContents* t = track.get();
        workers_.emplace_back([this, t] {
            t->walkResult = walkFileSystem(*t->sectors, t->files, &stop_);
            t->walked = true;
        });
    }
    return win::kSuccess;
}

void ImageContents::wait() {
    for (auto& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
    workers_.clear();
}

void ImageContents::close() {
    stop_ = true;
    wait();
    tracks_.clear();
    path_.clear();
    description_.clear();
}

int ImageContents::read(size_t track, uint32_t node, uint64_t offset, size_t length, uint8_t* out,
                        size_t& got) const {
    got = 0;
    if (track >= tracks_.size() || !tracks_[track]->data || !tracks_[track]->walked)
        return win::kInvalidParameter;
    const TrackContents& t = *tracks_[track];
    if (node >= t.files.nodes.size() || t.files.nodes[node].directory)
        return win::kInvalidParameter;
    const Node& file = t.files.nodes[node];
    if (offset >= file.size) return win::kSuccess;
    length = static_cast<size_t>(std::min<uint64_t>(length, file.size - offset));
    return readFileBytes(*t.sectors, file.data, offset, length, out, got);
}

int ImageContents::extract(size_t track, uint32_t node, const std::string& target,
                           bool overwrite) const {
    if (track >= tracks_.size() || !tracks_[track]->walked) return win::kInvalidParameter;
    const TrackContents& t = *tracks_[track];
    if (node >= t.files.nodes.size() || t.files.nodes[node].directory)
        return win::kInvalidParameter;
    const Node& file = t.files.nodes[node];
    struct stat st;
    if (!overwrite && ::lstat(target.c_str(), &st) == 0) return kTargetExists;

    std::string temp = target + ".XXXXXX";
    platform::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return win::fromErrno(errno, target.c_str());
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd.get(), 0666 & ~mask);

    int result = win::kSuccess;
    std::vector<uint8_t> piece(kCopyPiece);
    for (uint64_t done = 0; done < file.size && result == 0;) {
        size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size(), file.size - done));
        size_t got = 0;
        result = readFileBytes(*t.sectors, file.data, done, want, piece.data(), got);
        if (result == 0 && got < want) result = win::kHandleEof;
        if (result == 0) result = writeAll(fd.get(), piece.data(), got);
        done += got;
    }
    if (result == 0) {
        const timespec times[2] = {{file.modified, 0}, {file.modified, 0}};
        ::futimens(fd.get(), times);
    }
    if (result == 0) {
        int rc = overwrite ? ::rename(temp.c_str(), target.c_str())
                           : ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(),
                                         RENAME_NOREPLACE);
        if (rc != 0)
            result = errno == EEXIST ? kTargetExists : win::fromErrno(errno, target.c_str());
    }
    if (result != 0) ::unlink(temp.c_str());
    return result;
}

}  // namespace ombrix::contents
