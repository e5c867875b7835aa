#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "manager/iso_filesystem.h"
#include "platform/account.h"

// The sectors of one track of an image, read across its track part files. Part files are opened
// on first use and stay open; reads may come from several threads at once. Compressed blocks go
// through the one decoded block the process keeps.
namespace ombrix::contents {

class TrackData : public SectorSource {
  public:
    // With `identity`, part files are opened with that account's rights.
    TrackData(std::string containerPath, int trackIndex, const image::TrackRecord& record,
              uint32_t sectorsPerPart,
              std::shared_ptr<const platform::FileIdentity> identity = nullptr);

    int readSector(uint32_t sector, uint8_t* out) override;
    uint32_t firstSector() const override { return first_; }
    uint32_t endSector() const override { return end_; }

    // Across part files; plain user-data sectors are read in one piece per part.
    int read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got) override;

  private:
    // The part file holding track sector `n`, and the sector in it.
    int locate(uint32_t n, image::TrackFile*& file, uint32_t& inPart, uint32_t& leftInPart);

    std::string containerPath_;
    int trackIndex_;
    uint32_t first_;
    uint32_t end_;
    uint32_t sectorsPerPart_;
    std::shared_ptr<const platform::FileIdentity> identity_;
    std::mutex lock_;  // guards opening part files
    std::vector<std::unique_ptr<image::TrackFile>> parts_;
    std::vector<int> partErrors_;
};

}  // namespace ombrix::contents
