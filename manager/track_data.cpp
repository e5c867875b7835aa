#include "manager/track_data.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "platform/win_error.h"

namespace ombrix::contents {

TrackData::TrackData(std::string containerPath, int trackIndex, const image::TrackRecord& record,
                     uint32_t sectorsPerPart,
                     std::shared_ptr<const platform::FileIdentity> identity)
    : containerPath_(std::move(containerPath)),
      trackIndex_(trackIndex),
      first_(record.firstSector),
      end_(std::max(record.firstSector, record.endSector)),
      sectorsPerPart_(sectorsPerPart),
      identity_(std::move(identity)) {}

int TrackData::locate(uint32_t n, image::TrackFile*& file, uint32_t& inPart, uint32_t& leftInPart) {
    const uint32_t part = sectorsPerPart_ ? n / sectorsPerPart_ : 0;
    inPart = sectorsPerPart_ ? n % sectorsPerPart_ : n;
    leftInPart = sectorsPerPart_ ? sectorsPerPart_ - inPart : end_ - first_ - n;
    // Part numbers are one digit in the files' names: a sector beyond the tenth part lies in no
    // file, whatever numbers the disc gives.
    if (part >= image::kMaxPartFiles) return win::kHandleEof;
    std::lock_guard<std::mutex> guard(lock_);
    if (parts_.size() <= part) {
        parts_.resize(part + 1);
        partErrors_.resize(part + 1, 0);
    }
    if (!parts_[part] && partErrors_[part] == 0) {
        std::optional<platform::ActingAs> as;
        if (identity_) as.emplace(*identity_);
        auto opened = std::make_unique<image::TrackFile>();
        auto path = image::findPartFile(containerPath_, trackIndex_, static_cast<int>(part));
        int err = as && !as->ok() ? win::kAccessDenied
                  : path          ? opened->open(*path)
                                  : win::kFileNotFound;
        if (err != 0) {
            partErrors_[part] = err;
        } else {
            parts_[part] = std::move(opened);
        }
    }
    if (!parts_[part]) return partErrors_[part];
    file = parts_[part].get();
    return win::kSuccess;
}

int TrackData::readSector(uint32_t sector, uint8_t* out) {
    if (sector < first_ || sector >= end_) return win::kHandleEof;
    image::TrackFile* file = nullptr;
    uint32_t inPart = 0, left = 0;
    if (int err = locate(sector - first_, file, inPart, left)) return err;
    bool compressed = false;
    return file->readUserData(inPart, out, compressed);
}

int TrackData::read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got) {
    got = 0;
    uint64_t s = uint64_t(sector) + offset / kSectorBytes;
    size_t within = static_cast<size_t>(offset % kSectorBytes);
    uint8_t buffer[kSectorBytes];
    while (got < length) {
        if (s < first_ || s >= end_) return win::kHandleEof;
        image::TrackFile* file = nullptr;
        uint32_t inPart = 0, left = 0;
        if (int err = locate(static_cast<uint32_t>(s - first_), file, inPart, left)) return err;
        const auto& h = file->header();
        if (h.storage == image::kPlain && h.sectorSize == kSectorBytes) {
            // Plain user-data sectors lie one after another: one read for the run in this part.
            uint64_t inTrack = uint64_t(end_) - s;
            uint64_t run = std::min<uint64_t>(left, inTrack) * kSectorBytes - within;
            size_t n = static_cast<size_t>(std::min<uint64_t>(run, length - got));
            size_t read = 0;
            off_t at =
                static_cast<off_t>(h.firstSectorOffset + uint64_t(inPart) * kSectorBytes + within);
            if (int err = file->file().readAt(out + got, n, at, read)) return err;
            got += read;
            if (read < n) return win::kHandleEof;
            s += (within + n) / kSectorBytes;
            within = (within + n) % kSectorBytes;
            continue;
        }
        bool compressed = false;
        if (int err = file->readUserData(inPart, buffer, compressed)) return err;
        size_t n = std::min(kSectorBytes - within, length - got);
        std::memcpy(out + got, buffer + within, n);
        got += n;
        within = 0;
        ++s;
    }
    return win::kSuccess;
}

}  // namespace ombrix::contents
