#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The ISO 9660 file system of one data track, with Joliet names when the disc carries them.
// Every number taken from the disc is checked: a hostile or damaged disc yields the part of its
// tree that can be read, never a read outside the track, a loop, or a name that leaves its folder.
namespace ombrix::contents {

constexpr uint32_t kSectorBytes = 2048;
// The code of a read that reaches the end of the track.
constexpr int kReadPastEnd = 38;

// Reads the 2048 bytes of user data of one disc sector (a disc address, not counted from the
// track). 0 or an error code. Implementations may be called from several threads.
class SectorSource {
  public:
    virtual ~SectorSource() = default;
    virtual int readSector(uint32_t sector, uint8_t* out) = 0;
    // The track's sectors: first and end (exclusive), as disc addresses.
    virtual uint32_t firstSector() const = 0;
    virtual uint32_t endSector() const = 0;
    // Reads `length` bytes from `offset` bytes past the start of `sector`, across sectors. `got`
    // is the number read; the track's end or a sector that cannot be read stops the read early.
    // 0 when all were read, else the error that stopped it.
    virtual int read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got);
};

// A run of consecutive sectors holding `bytes` bytes of a file.
struct Extent {
    uint32_t sector = 0;
    uint32_t bytes = 0;
};

struct Node {
    std::string name;  // UTF-8; the root's is empty
    uint32_t parent = 0;
    bool directory = false;
    uint64_t size = 0;         // files: the sum of their extents; folders: their records' length
    int64_t modified = 0;      // seconds since 1970, UTC
    std::vector<Extent> data;  // files: their extents in order; folders: where their records are
    std::vector<uint32_t> children;  // folders: node indexes
};

struct FileSystem {
    bool joliet = false;
    std::string label;
    // nodes[0] is the root once a descriptor was found. A deque grows without copying or
    // leaving spare room, and a node stays where it is while folders are read.
    std::deque<Node> nodes;

    bool empty() const { return nodes.size() <= 1; }
    // The path of node `index` below the root, parts joined by "/".
    std::string path(uint32_t index) const;
    // The node of a path below the root ("" or "/" is the root); -1 when there is none.
    long find(const std::string& path) const;
};

// Reads `length` bytes at `offset` of a file whose extents are `extents` (files stored in several
// extents read as one). Same results as SectorSource::read; nothing is read at or past the end.
int readFileBytes(SectorSource& track, const std::vector<Extent>& extents, uint64_t offset,
                  size_t length, uint8_t* out, size_t& got);

// Limits that keep a hostile disc from exhausting memory or time.
constexpr size_t kMaxNodes = 1u << 21;
// Folders deeper than this are left out: no program could name their paths anyway.
constexpr uint16_t kMaxDepth = 255;
// Bytes of names one tree holds at most (a node's name is at most a few hundred bytes).
constexpr uint64_t kMaxNameBytes = 64ull << 20;
constexpr uint32_t kMaxPathTableBytes = 64u << 20;
constexpr uint32_t kMaxDirectoryBytes = 64u << 20;
// Bytes of path table and directory records one walk reads at most; folders beyond show no files.
constexpr uint64_t kMaxWalkBytes = 512ull << 20;

// Results of the walk.
enum WalkResult : int {
    kWalkDone = 0,
    kWalkNoDescriptor = 1,  // no "CD001" volume descriptor: the track shows no files
    kWalkStopped = 2,       // the stop flag ended the walk; `out` holds what was found so far
    // More files, deeper folders, longer names or a longer path table than one tree may hold:
    // the disc is not shown, as showing part of it would pass for all of it.
    kWalkTooLarge = 3,
    kWalkUnreadable = 4,  // the path table lies outside the track or cannot be read
};

// Walks the file system of the track behind `source`. `stop` (may be null) is looked at between
// folders. Folders come from the path table, their files from their directory records; folders
// whose records cannot be read, or lie beyond `readBudget`, show without files.
int walkFileSystem(SectorSource& source, FileSystem& out, const std::atomic<bool>* stop = nullptr,
                   uint64_t readBudget = kMaxWalkBytes);

class Walker;

// A track's file system read as it is visited: the label, every folder and the root's files at
// once, another folder's files when they are first asked for, so memory follows what is looked
// at. Results and bounds as for walkFileSystem. Not safe for concurrent use: callers lock.
class FolderReader {
  public:
    explicit FolderReader(SectorSource& source, uint64_t readBudget = kMaxWalkBytes);
    ~FolderReader();
    FolderReader(const FolderReader&) = delete;
    FolderReader& operator=(const FolderReader&) = delete;

    // Reads the descriptors, the path table and the root's files: a WalkResult.
    int readFolders();
    // Adds the files of `folder` to the tree once; whether the folder then shows all of them
    // (false when a bound of the tree was reached, or for a node that is no folder).
    bool readFiles(uint32_t folder);
    // Whether the files of `folder` were read (readFiles' answer then), nothing before.
    std::optional<bool> filesRead(uint32_t folder) const;
    const FileSystem& tree() const { return tree_; }

  private:
    FileSystem tree_;
    std::unique_ptr<Walker> walker_;
};

// Names as stored on disc, made fit for a folder listing: Joliet names from UCS-2 (UTF-16), ISO
// names as they are; the version suffix ";n" and a trailing "." of a name without extension are
// dropped. "/" and control bytes become "_"; empty names and "." or ".." give "".
std::string discName(const uint8_t* bytes, size_t length, bool joliet);

// Seconds since 1970 (UTC) of a 7-byte directory-record date.
int64_t recordTime(const uint8_t* date7);

}  // namespace ombrix::contents
