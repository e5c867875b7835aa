#pragma once

#include <sys/types.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/omx_image_types.h"
#include "platform/locked_file.h"

// Reading image containers and their track part files. Every offset and length taken from a file
// is checked against that file; a corrupt image fails with a code and is never read out of bounds.
namespace ombrix::image {

constexpr size_t kTrackRecordSize = 282;
constexpr size_t kMaxTracks = 100;
constexpr size_t kSessionBlockSize = 2216;
constexpr size_t kTrackHeaderSize = 47;
constexpr size_t kBlockSectors = 16;
constexpr size_t kMaxBlockBytes = 0x9300;
constexpr size_t kUserDataSize = 2048;
constexpr size_t kRawSectorSize = 2352;

enum Storage : uint8_t { kPlain = 0, kLz = 1, kDeflate = 2 };

enum TrackKind : uint8_t { kAudioTrack = 1, kDataTrack = 0x40, kPartFileTrack = 0x80 };

struct TrackRecord {
    uint8_t kind = 0;
    uint8_t compressed = 0;
    uint32_t firstSector = 0;
    uint32_t endSector = 0;  // exclusive
    std::string dataPath;
};

// One entry of the header's track list (READ TOC format 0 descriptors).
struct TocEntry {
    uint8_t control = 0;  // ADR/control byte; bit value 4 = data track
    uint8_t number = 0;
    uint32_t address = 0;
};

struct Container {
    OmxImageHeader header{};
    std::vector<uint8_t> trackTable;  // the raw records, 282 bytes each
    std::vector<TrackRecord> tracks;
    std::optional<std::array<uint8_t, kSessionBlockSize>> sessionBlock;

    // Tracks of session `number` from the full TOC of the session block; false when missing.
    bool sessionTracks(int number, int& first, int& last) const;
    int sessionCount() const { return sessionBlock ? (*sessionBlock)[3] : 1; }
};

// Reads header, track table and (when `withSessionBlock` and present) the session block. 0, 13
// when the file is not a container, 38 when the table or session block lies past the end, or
// the file's error.
int readContainer(const std::string& path, Container& out, bool withSessionBlock = true);

TrackRecord parseTrackRecord(const uint8_t* record);

// Whether one of the (at most 100) track records is an audio track.
bool hasAudioTrack(const Container& c);

// The header's track list up to the lead-out entry.
std::vector<TocEntry> trackList(const OmxImageHeader& header);

// A track has at most this many part files: their number is one digit of the name.
constexpr uint32_t kMaxPartFiles = 10;

// The name of a track part file: the container's extension replaced by ".%.2d%d".
std::string partFileName(const std::string& containerPath, int trackIndex, int part);
// The existing file of that name: the exact name first, then a name differing only in case.
std::optional<std::string> findPartFile(const std::string& containerPath, int trackIndex, int part);

// The 47-byte header of a track part file.
struct TrackHeader {
    uint8_t lengthStyle = 0;
    uint8_t storage = 0;
    uint16_t sectorSize = 0;
    uint32_t blockTableOffset = 0;
    uint32_t firstSectorOffset = 0;
};

// Where one block of a compressed track part file is stored.
struct BlockLocation {
    uint64_t offset = 0;  // of the block's data (after the record's two leading bytes)
    uint32_t length = 0;  // equal to 16 sectors: stored uncompressed
};

// One opened track part file.
class TrackFile {
  public:
    int open(const std::string& path, platform::FileAccess access = platform::FileAccess::Read);
    const TrackHeader& header() const { return header_; }
    const std::string& path() const { return path_; }
    const platform::LockedFile& file() const { return file_; }
    uint32_t blockBytes() const { return uint32_t(header_.sectorSize) * kBlockSectors; }

    // Reads the 2048 bytes of user data of sector `n`; `fromCompressed` tells whether they came
    // from a compressed block. 0, 38 past the end of the track, 13 for corrupt data, or the file's
    // error.
    int readUserData(uint32_t n, uint8_t* out, bool& fromCompressed);
    // Reads the whole stored sector (sectorSize bytes).
    int readSector(uint32_t n, uint8_t* out, bool& fromCompressed);

    // The stored record of block `b` (compressed storages).
    int locateBlock(uint32_t b, BlockLocation& out) const;

  private:
    int readBlock(uint32_t b, uint32_t k, uint8_t* out, bool& fromCompressed);

    std::string path_;
    platform::LockedFile file_;
    off_t size_ = 0;
    TrackHeader header_;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    int64_t modified_ = 0;
};

// The user data of a stored sector: 2048-byte sectors as they are, raw sectors by their mode.
void userData(const uint8_t* sector, uint16_t sectorSize, uint8_t* out);

// Reads sectors of one track across its part files, keeping the current part open.
class TrackReader {
  public:
    TrackReader(std::string containerPath, int trackIndex, uint32_t sectorsPerPart)
        : containerPath_(std::move(containerPath)),
          trackIndex_(trackIndex),
          sectorsPerPart_(sectorsPerPart) {}

    // Sector `n` counted from the start of the track.
    int readUserData(uint32_t n, uint8_t* out, bool& fromCompressed);
    int readSector(uint32_t n, uint8_t* out, bool& fromCompressed);
    // The part file and the sector in it that hold sector `n`.
    int select(uint32_t n, TrackFile*& file, uint32_t& inPart);

  private:
    std::string containerPath_;
    int trackIndex_;
    uint32_t sectorsPerPart_;
    int openPart_ = -1;
    TrackFile file_;
};

// Forgets the decoded block kept for the next read.
void dropCachedBlock();

// The disc's ISO 9660 identity as the label functions read it.
struct VolumeInfo {
    std::string label;  // the 32 identifier characters as stored (Joliet: converted to UTF-8)
    std::string date;   // empty when the creation year is outside 2..2037
    bool changeable = false;
};

// The track the label functions look at: after the session block's last-session first track,
// the first track of data kind; without a session block, the first track whose kind is exactly
// data. False when there is none.
bool findDataTrack(const Container& c, size_t& index);

// Reads the volume descriptors of track `index` (whose start address is the record's first
// sector). 0, or a code when no descriptor could be read or it lacks "CD001".
int readVolumeInfo(const std::string& containerPath, const Container& c, size_t index,
                   VolumeInfo& out);

std::string creationDateText(const uint8_t* digits17);

}  // namespace ombrix::image
