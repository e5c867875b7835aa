#include "manager/disc_sectors.h"

#include <algorithm>

#include "platform/win_error.h"

namespace ombrix::contents {

SectorSource* DiscSectors::holder(uint64_t sector) const {
    if (sector >= own_.firstSector() && sector < own_.endSector()) return &own_;
    for (SectorSource* track : tracks_) {
        if (sector >= track->firstSector() && sector < track->endSector()) return track;
    }
    return nullptr;
}

int DiscSectors::readSector(uint32_t sector, uint8_t* out) {
    SectorSource* track = holder(sector);
    return track != nullptr ? track->readSector(sector, out) : win::kHandleEof;
}

int DiscSectors::read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got) {
    got = 0;
    uint64_t next = uint64_t(sector) + offset / kSectorBytes;
    uint64_t within = offset % kSectorBytes;
    while (got < length) {
        SectorSource* track = next <= UINT32_MAX ? holder(next) : nullptr;
        if (track == nullptr) return win::kHandleEof;
        // This track's part of the run, then the next track's.
        const uint64_t room = (uint64_t(track->endSector()) - next) * kSectorBytes - within;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(room, length - got));
        size_t read = 0;
        int err = track->read(static_cast<uint32_t>(next), within, want, out + got, read);
        got += read;
        if (err != 0) return err;
        if (read < want) return win::kHandleEof;
        next = track->endSector();
        within = 0;
    }
    return win::kSuccess;
}

}  // namespace ombrix::contents
