#include "manager/iso_filesystem.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <unordered_set>

namespace ombrix::contents {
namespace {

constexpr uint8_t kTerminator = 255;
constexpr uint8_t kSupplementary = 2;
constexpr size_t kDescriptorsAfterPrimary = 6;
constexpr size_t kRecordHead = 33;  // fixed part of a directory record before the name
constexpr size_t kPathRecordHead = 8;

constexpr uint8_t kFlagDirectory = 0x02;
constexpr uint8_t kFlagAssociated = 0x04;
constexpr uint8_t kFlagMoreExtents = 0x80;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

bool isJolietEscape(const uint8_t* d) {
    return d[88] == '%' && d[89] == '/' && (d[90] == '@' || d[90] == 'C' || d[90] == 'E');
}

void appendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Reads `length` bytes from `sector` on, within the track. Returns the bytes read, which end
// early at the track's end or at the first sector that cannot be read.
std::vector<uint8_t> readBytes(SectorSource& source, uint32_t sector, uint32_t length) {
    std::vector<uint8_t> out;
    if (sector < source.firstSector() || sector >= source.endSector()) return out;
    uint64_t available = uint64_t(source.endSector() - sector) * kSectorBytes;
    const size_t wanted = static_cast<size_t>(std::min<uint64_t>(length, available));
    // Grown as sectors arrive: a length read off a hostile disc reserves nothing it cannot fill.
    out.reserve(std::min<size_t>(wanted, 1u << 20));
    uint8_t buffer[kSectorBytes];
    for (uint32_t s = sector; out.size() < wanted; ++s) {
        if (source.readSector(s, buffer) != 0) break;
        const size_t n = std::min<size_t>(kSectorBytes, wanted - out.size());
        out.insert(out.end(), buffer, buffer + n);
    }
    return out;
}

}  // namespace

// Reads one track's tree: the folders from the path table, then each folder's files, all at once
// (run) or folder by folder as asked (runFolders, then readFiles).
class Walker {
  public:
    Walker(SectorSource& source, FileSystem& out, const std::atomic<bool>* stop, uint64_t budget)
        : source_(source), out_(out), stop_(stop), budget_(budget), initialBudget_(budget) {}

    int run();
    int runFolders();
    // Reads the files of folder `index` once; whether the folder then holds all of them.
    bool readFiles(uint32_t index);
    std::optional<bool> filesRead(uint32_t index) const {
        if (index >= files_.size() || files_[index] == kNotRead) return std::nullopt;
        return files_[index] == kComplete;
    }

  private:
    enum FilesState : uint8_t { kNotRead, kComplete, kIncomplete };

    // Starts the tree from the descriptor and reads the path table.
    int begin(const uint8_t* descriptor);
    // Reads the tree from the chosen descriptor, and again from the primary one when the
    // Joliet tree shows nothing or cannot be read; `rest` reads what follows the path table.
    int fromDescriptors(int (Walker::*rest)());
    int readAllFiles();
    int readRootFiles();
    bool stopped() const { return stop_ != nullptr && stop_->load(std::memory_order_relaxed); }
    bool chooseDescriptor(uint8_t* taken);
    void readPathTable(const uint8_t* descriptor);
    void readDirectory(uint32_t node);
    bool addChild(uint32_t parent, Node&& child);
    void dropRepeatedNames(uint32_t folder);

    SectorSource& source_;
    FileSystem& out_;
    const std::atomic<bool>* stop_;
    std::vector<uint32_t> byName_;  // room for sorting a folder's children, kept between folders
    std::vector<uint16_t> depths_;  // of each node, the root's 0
    std::vector<uint8_t> files_;    // of each node: FilesState
    uint64_t nameBytes_ = 0;
    bool tooLarge_ = false;    // a bound of the tree was reached
    bool unreadable_ = false;  // the path table could not be read
    bool joliet_ = false;
    uint64_t budget_;  // bytes the walk may still read
    uint64_t initialBudget_;
};

bool Walker::chooseDescriptor(uint8_t* taken) {
    const uint32_t first = source_.firstSector();
    const uint32_t primary = first < 16 ? 16 : first + 16;
    if (source_.readSector(primary, taken) != 0) return false;
    for (uint32_t k = 1; k <= kDescriptorsAfterPrimary; ++k) {
        uint8_t d[kSectorBytes];
        if (source_.readSector(primary + k, d) != 0) break;
        if (d[0] == kTerminator) break;
        if (d[0] == kSupplementary && isJolietEscape(d) && std::memcmp(d + 1, "CD001", 5) == 0) {
            std::memcpy(taken, d, kSectorBytes);
            joliet_ = true;
            break;
        }
    }
    if (std::memcmp(taken + 1, "CD001", 5) != 0) return false;
    // Every address of the file system counts blocks of 2048 bytes.
    return le16(taken + 128) == kSectorBytes;
}

bool Walker::addChild(uint32_t parent, Node&& child) {
    if (child.name.empty()) return false;
    // Deeper than any path a program can name, or more than one tree may hold: a hostile disc
    // ends here.
    const uint16_t depth = static_cast<uint16_t>(depths_[parent] + 1);
    if (out_.nodes.size() >= kMaxNodes || depth > kMaxDepth ||
        nameBytes_ + child.name.size() > kMaxNameBytes) {
        tooLarge_ = true;
        return false;
    }
    nameBytes_ += child.name.size();
    child.parent = parent;
    const uint32_t index = static_cast<uint32_t>(out_.nodes.size());
    out_.nodes.push_back(std::move(child));
    out_.nodes[parent].children.push_back(index);
    depths_.push_back(depth);
    files_.push_back(kNotRead);
    return true;
}

// Of a folder's children sharing a name only the first is kept (its folders, which come from the
// path table, before its files; files in record order), so a lookup by name finds one node. The
// others stay in the tree unreachable: a disc that repeats names is a broken one.
void Walker::dropRepeatedNames(uint32_t folder) {
    auto& children = out_.nodes[folder].children;
    if (children.size() < 2) return;
    const auto& nodes = out_.nodes;
    byName_.assign(children.begin(), children.end());
    std::sort(byName_.begin(), byName_.end(), [&nodes](uint32_t a, uint32_t b) {
        const int order = nodes[a].name.compare(nodes[b].name);
        return order != 0 ? order < 0 : a < b;
    });
    size_t kept = 0;  // the repeats gather at the front of byName_
    for (size_t i = 1; i < byName_.size(); ++i) {
        if (nodes[byName_[i]].name == nodes[byName_[i - 1]].name) byName_[kept++] = byName_[i];
    }
    if (kept == 0) return;
    byName_.resize(kept);
    std::sort(byName_.begin(), byName_.end());
    std::erase_if(children, [this](uint32_t child) {
        return std::binary_search(byName_.begin(), byName_.end(), child);
    });
}

// Folders in path-table order. A record's parent must come before it, which makes the tree free
// of loops; records naming another parent, and their descendants, are left out.
void Walker::readPathTable(const uint8_t* d) {
    const uint32_t declared = le32(d + 132);
    if (declared > kMaxPathTableBytes) tooLarge_ = true;
    const uint32_t size =
        static_cast<uint32_t>(std::min<uint64_t>(std::min(declared, kMaxPathTableBytes), budget_));
    std::vector<uint8_t> table = readBytes(source_, le32(d + 140), size);
    budget_ -= table.size();
    if (table.size() < size) unreadable_ = true;
    std::vector<long> nodeOfNumber;  // path-table number - 1 -> node, -1 when left out
    // The folders' names so far, each after its parent's number: a repeated name is left out
    // with what lies below it, so a lookup by name finds one folder.
    std::unordered_set<std::string> named;
    size_t at = 0;
    while (at < table.size() && !stopped()) {
        const uint8_t nameLength = table[at];
        if (nameLength == 0) {
            // Zero-length records pad to the next block.
            at = (at / kSectorBytes + 1) * kSectorBytes;
            continue;
        }
        const size_t recordLength = kPathRecordHead + nameLength + (nameLength & 1);
        if (at + kPathRecordHead + nameLength > table.size()) break;
        const uint8_t* r = table.data() + at;
        const uint32_t extent = le32(r + 2) + r[1];
        const uint16_t parentNumber = le16(r + 6);
        const size_t number = nodeOfNumber.size() + 1;
        long node = -1;
        if (number == 1) {
            out_.nodes[0].data = {{extent, 0}};
            node = 0;
        } else if (parentNumber >= 1 && parentNumber < number &&
                   nodeOfNumber[parentNumber - 1] >= 0) {
            Node dir;
            dir.directory = true;
            dir.name = discName(r + kPathRecordHead, nameLength, joliet_);
            dir.data = {{extent, 0}};
            const uint32_t parent = static_cast<uint32_t>(nodeOfNumber[parentNumber - 1]);
            std::string key = std::to_string(parent);
            key += '/';
            key += dir.name;
            if (!named.contains(key) && addChild(parent, std::move(dir))) {
                named.insert(std::move(key));
                node = long(out_.nodes.size() - 1);
            }
        }
        nodeOfNumber.push_back(node);
        at += recordLength;
    }
}

// The files of one folder from its directory records. The folder's own "." record gives the
// length of the records; its subfolders come from the path table.
void Walker::readDirectory(uint32_t index) {
    const uint32_t extent = out_.nodes[index].data.front().sector;
    if (budget_ < kSectorBytes) return;
    std::vector<uint8_t> head = readBytes(source_, extent, kSectorBytes);
    budget_ -= head.size();
    if (head.size() < kRecordHead + 1 || head[0] < kRecordHead + 1) return;
    const uint32_t length = std::min(le32(head.data() + 10), kMaxDirectoryBytes);
    out_.nodes[index].size = length;
    out_.nodes[index].modified = recordTime(head.data() + 18);
    std::vector<uint8_t> records;
    if (length <= kSectorBytes) {
        records = std::move(head);
    } else {
        const uint64_t more = std::min<uint64_t>(length - kSectorBytes, budget_);
        records = readBytes(source_, extent, static_cast<uint32_t>(kSectorBytes + more));
        budget_ -= records.size() - std::min<size_t>(records.size(), kSectorBytes);
    }
    records.resize(std::min<size_t>(records.size(), length));

    size_t at = 0;
    long continuing = -1;  // the file whose next extent the following record may carry
    std::string continuingName;
    while (at < records.size()) {
        const uint8_t recordLength = records[at];
        if (recordLength == 0) {
            // No record crosses a block: the rest of this block is padding.
            at = (at / kSectorBytes + 1) * kSectorBytes;
            continue;
        }
        const uint8_t* r = records.data() + at;
        const size_t inBlock = kSectorBytes - at % kSectorBytes;
        if (recordLength < kRecordHead + 1 || recordLength > records.size() - at ||
            recordLength > inBlock || size_t(kRecordHead) + r[32] > recordLength) {
            at = (at / kSectorBytes + 1) * kSectorBytes;
            continuing = -1;
            continue;
        }
        at += recordLength;
        const uint8_t flags = r[25];
        const uint8_t nameLength = r[32];
        const uint8_t* rawName = r + kRecordHead;
        if (nameLength == 1 && (rawName[0] == 0 || rawName[0] == 1)) continue;  // "." and ".."
        if (flags & (kFlagDirectory | kFlagAssociated)) {
            continuing = -1;
            continue;
        }
        const Extent piece{le32(r + 2) + r[1], le32(r + 10)};
        std::string name = discName(rawName, nameLength, joliet_);
        if (continuing >= 0 && name == continuingName) {
            Node& file = out_.nodes[static_cast<size_t>(continuing)];
            file.data.push_back(piece);
            file.size += piece.bytes;
        } else {
            Node file;
            file.name = name;
            file.size = piece.bytes;
            file.modified = recordTime(r + 18);
            file.data = {piece};
            continuing = -1;
            if (addChild(index, std::move(file))) continuing = long(out_.nodes.size() - 1);
            continuingName = std::move(name);
        }
        if (!(flags & kFlagMoreExtents)) continuing = -1;
        if (tooLarge_) return;
    }
}

int Walker::begin(const uint8_t* descriptor) {
    out_ = FileSystem{};
    budget_ = initialBudget_;
    depths_.clear();
    files_.clear();
    nameBytes_ = 0;
    tooLarge_ = false;
    unreadable_ = false;
    out_.joliet = joliet_;
    out_.label = discName(descriptor + 40, 32, joliet_);
    while (!out_.label.empty() && out_.label.back() == ' ')
        out_.label.pop_back();
    Node root;
    root.directory = true;
    // Without a usable path table the root still comes from the descriptor's root record.
    root.data = {{le32(descriptor + 156 + 2) + descriptor[156 + 1], 0}};
    out_.nodes.push_back(std::move(root));
    depths_.push_back(0);
    files_.push_back(kNotRead);
    readPathTable(descriptor);
    if (unreadable_) return kWalkUnreadable;
    return tooLarge_ ? kWalkTooLarge : kWalkDone;
}

bool Walker::readFiles(uint32_t index) {
    if (index >= files_.size() || !out_.nodes[index].directory) return false;
    if (files_[index] == kNotRead) {
        readDirectory(index);
        dropRepeatedNames(index);
        files_[index] = tooLarge_ ? kIncomplete : kComplete;
    }
    return files_[index] == kComplete;
}

int Walker::readAllFiles() {
    // Folders are added only through the path table, so their count is fixed by now.
    const size_t folders = out_.nodes.size();
    for (size_t i = 0; i < folders && !tooLarge_; ++i) {
        if (stopped()) return kWalkStopped;
        if (out_.nodes[i].directory) readFiles(static_cast<uint32_t>(i));
    }
    if (stopped()) return kWalkStopped;
    return tooLarge_ ? kWalkTooLarge : kWalkDone;
}

int Walker::readRootFiles() {
    readFiles(0);
    return tooLarge_ ? kWalkTooLarge : kWalkDone;
}

int Walker::fromDescriptors(int (Walker::*rest)()) {
    out_ = FileSystem{};
    uint8_t descriptor[kSectorBytes];
    if (!chooseDescriptor(descriptor)) return kWalkNoDescriptor;
    int result = begin(descriptor);
    if (result == kWalkDone) result = (this->*rest)();
    if (joliet_ && ((result == kWalkDone && out_.empty()) || result == kWalkUnreadable)) {
        // A Joliet tree that shows nothing: the disc's ISO names may still be readable.
        uint8_t primary[kSectorBytes];
        const uint32_t first = source_.firstSector();
        if (source_.readSector(first < 16 ? 16 : first + 16, primary) == 0 &&
            std::memcmp(primary + 1, "CD001", 5) == 0 && le16(primary + 128) == kSectorBytes) {
            joliet_ = false;
            result = begin(primary);
            if (result == kWalkDone) result = (this->*rest)();
        }
    }
    return result;
}

int Walker::run() {
    return fromDescriptors(&Walker::readAllFiles);
}

int Walker::runFolders() {
    return fromDescriptors(&Walker::readRootFiles);
}

int walkFileSystem(SectorSource& source, FileSystem& out, const std::atomic<bool>* stop,
                   uint64_t readBudget) {
    return Walker(source, out, stop, readBudget).run();
}

FolderReader::FolderReader(SectorSource& source, uint64_t readBudget)
    : walker_(std::make_unique<Walker>(source, tree_, nullptr, readBudget)) {}

FolderReader::~FolderReader() = default;

int FolderReader::readFolders() {
    return walker_->runFolders();
}

bool FolderReader::readFiles(uint32_t folder) {
    return walker_->readFiles(folder);
}

std::optional<bool> FolderReader::filesRead(uint32_t folder) const {
    return walker_->filesRead(folder);
}

std::string discName(const uint8_t* bytes, size_t length, bool joliet) {
    std::string name;
    if (joliet) {
        for (size_t i = 0; i + 1 < length; i += 2) {
            uint32_t c = uint32_t(bytes[i]) << 8 | bytes[i + 1];
            if (c >= 0xD800 && c < 0xDC00 && i + 3 < length) {
                uint32_t low = uint32_t(bytes[i + 2]) << 8 | bytes[i + 3];
                if (low >= 0xDC00 && low < 0xE000) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
            }
            if (c == 0) break;
            if (c >= 0xD800 && c < 0xE000) c = 0xFFFD;  // a lone surrogate
            appendUtf8(name, c);
        }
    } else {
        name.assign(reinterpret_cast<const char*>(bytes),
                    strnlen(reinterpret_cast<const char*>(bytes), length));
    }
    // The version: ";" and digits at the end.
    size_t semicolon = name.rfind(';');
    if (semicolon != std::string::npos &&
        name.find_first_not_of("0123456789", semicolon + 1) == std::string::npos) {
        name.resize(semicolon);
        // "NAME." is how a name without extension is stored.
        if (name.size() > 1 && name.back() == '.') name.pop_back();
    }
    for (char& c : name) {
        if (c == '/' || (static_cast<unsigned char>(c) < 0x20)) c = '_';
    }
    if (name == "." || name == "..") return {};
    return name;
}

int64_t recordTime(const uint8_t* d) {
    std::tm tm{};
    tm.tm_year = d[0];
    tm.tm_mon = std::clamp<int>(d[1], 1, 12) - 1;
    tm.tm_mday = std::clamp<int>(d[2], 1, 31);
    tm.tm_hour = std::min<int>(d[3], 23);
    tm.tm_min = std::min<int>(d[4], 59);
    tm.tm_sec = std::min<int>(d[5], 59);
    const int offset = static_cast<int8_t>(d[6]);  // 15-minute steps east of UTC
    return int64_t(::timegm(&tm)) - int64_t(offset) * 15 * 60;
}

int SectorSource::read(uint32_t sector, uint64_t offset, size_t length, uint8_t* out, size_t& got) {
    got = 0;
    uint64_t s = uint64_t(sector) + offset / kSectorBytes;
    size_t within = static_cast<size_t>(offset % kSectorBytes);
    uint8_t buffer[kSectorBytes];
    while (got < length) {
        if (s < firstSector() || s >= endSector()) return kReadPastEnd;
        if (int err = readSector(static_cast<uint32_t>(s), buffer)) return err;
        size_t n = std::min(kSectorBytes - within, length - got);
        std::memcpy(out + got, buffer + within, n);
        got += n;
        within = 0;
        ++s;
    }
    return 0;
}

int readFileBytes(SectorSource& track, const std::vector<Extent>& extents, uint64_t offset,
                  size_t length, uint8_t* out, size_t& got) {
    got = 0;
    uint64_t start = 0;  // of the current extent within the file
    for (const Extent& e : extents) {
        if (got == length) break;
        const uint64_t end = start + e.bytes;
        if (offset + got < end) {
            const uint64_t inExtent = offset + got - start;
            const size_t n =
                static_cast<size_t>(std::min<uint64_t>(end - (offset + got), length - got));
            size_t read = 0;
            int err = track.read(e.sector, inExtent, n, out + got, read);
            got += read;
            if (err != 0) return err;
        }
        start = end;
    }
    return 0;
}

std::string FileSystem::path(uint32_t index) const {
    std::vector<const std::string*> parts;
    for (size_t guard = 0; index != 0 && index < nodes.size() && guard < nodes.size(); ++guard) {
        parts.push_back(&nodes[index].name);
        index = nodes[index].parent;
    }
    std::string out;
    for (auto it = parts.rbegin(); it != parts.rend(); ++it) {
        if (!out.empty()) out += '/';
        out += **it;
    }
    return out;
}

long FileSystem::find(const std::string& path) const {
    if (nodes.empty()) return -1;
    uint32_t at = 0;
    size_t pos = 0;
    while (pos < path.size()) {
        size_t slash = path.find('/', pos);
        if (slash == std::string::npos) slash = path.size();
        if (slash > pos) {
            const std::string part = path.substr(pos, slash - pos);
            const Node& node = nodes[at];
            if (!node.directory) return -1;
            long next = -1;
            for (uint32_t child : node.children) {
                if (nodes[child].name == part) {
                    next = child;
                    break;
                }
            }
            if (next < 0) return -1;
            at = static_cast<uint32_t>(next);
        }
        pos = slash + 1;
    }
    return at;
}

}  // namespace ombrix::contents
