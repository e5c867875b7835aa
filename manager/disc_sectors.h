#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "manager/iso_filesystem.h"

// One data track as a file system sees it on a disc of several sessions: its own sectors bound
// where its file system starts, but a file or folder of a later session may lie in an earlier
// track, so every sector of the disc's data tracks can be read through it.
namespace ombrix::contents {

class DiscSectors : public SectorSource {
  public:
    // `own` is one of `tracks` (the data tracks of the disc, each with its own sectors).
    DiscSectors(SectorSource& own, std::vector<SectorSource*> tracks)
        : own_(own), tracks_(std::move(tracks)) {}

    int readSector(uint32_t sector, uint8_t* out) override;
    uint32_t firstSector() const override { return own_.firstSector(); }
    uint32_t endSector() const override { return own_.endSector(); }
    // Across tracks: each run is read from the track that holds it.
    int read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got) override;

  private:
    // The track holding disc sector `sector`; null when none does.
    SectorSource* holder(uint64_t sector) const;

    SectorSource& own_;
    std::vector<SectorSource*> tracks_;
};

}  // namespace ombrix::contents
