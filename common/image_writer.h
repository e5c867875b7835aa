#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "common/raw_sector.h"
#include "platform/locked_file.h"

// Writing image containers and track part files, for the converter and for test images.
namespace ombrix::image {

struct PartOptions {
    uint8_t storage = kPlain;
    uint16_t sectorSize = kUserDataSize;  // 2352: mode 1 raw sectors with sync, header, EDC, ECC
    uint8_t lengthStyle = 1;
};

// Streams the sectors of one track part file: the header, then plain sectors or 16-sector
// blocks behind a block table.
class PartWriter {
  public:
    // `sectors` is the number of sectors the part will hold; `firstAddress` the disc address of
    // its first sector (written into raw sector headers).
    int open(const std::string& path, const PartOptions& options, uint32_t sectors,
             uint32_t firstAddress);
    // Adds sectors of 2048 bytes of user data each.
    int add(const uint8_t* userData, size_t count);
    int finish();
    uint64_t storedBytes() const { return written_; }

  private:
    int flushBlock();

    platform::LockedFile file_;
    PartOptions options_;
    uint32_t sectors_ = 0;
    uint32_t added_ = 0;
    uint32_t address_ = 0;
    std::vector<uint8_t> block_;  // stored sectors of the block being filled
    std::vector<uint32_t> table_;
    uint64_t written_ = 0;  // where the next byte goes
};

// Compresses one block for `storage`; empty when the stored form would not be smaller.
std::vector<uint8_t> compressBlock(uint8_t storage, const uint8_t* data, size_t length);

struct ContainerSpec {
    uint32_t discType = 0;
    uint32_t sectorsPerPart = 0;
    uint32_t contentSize = 0;
    std::string description;
    std::string password;
    std::string comment;
    std::vector<TrackRecord> tracks;
    std::vector<TocEntry> trackList;  // without the lead-out
    uint32_t leadOut = 0;
    std::optional<std::array<uint8_t, kSessionBlockSize>> sessionBlock;
    uint32_t trailingBlockOffset = 0;
};

// Writes the container: header, track table, comment, session block. 0 or the file's error.
int writeContainer(const std::string& path, const ContainerSpec& spec);

}  // namespace ombrix::image
