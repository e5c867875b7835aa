#include "common/image_container.h"

#include "common/image_header.h"

#include <dirent.h>
#include <sys/stat.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <mutex>

#include "common/lz_codec.h"
#include "platform/ascii.h"
#include "platform/win_error.h"

namespace ombrix::image {
namespace {

constexpr size_t kTrackListEntries = 100;
constexpr size_t kTrackListFirst = 4;  // descriptors start 4 bytes into the track list
constexpr uint8_t kLeadOut = 0xAA;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t be32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Reads exactly `length` bytes at `offset`; 38 when the file ends before.
int readExact(const platform::LockedFile& file, void* out, size_t length, uint64_t offset) {
    size_t got = 0;
    if (int err = file.readAt(out, length, static_cast<off_t>(offset), got)) return err;
    return got == length ? win::kSuccess : win::kHandleEof;
}

// The one decoded block kept per process, keyed by the file's name and identity and the block.
struct CachedBlock {
    std::mutex lock;
    bool valid = false;
    std::string path;
    dev_t device = 0;
    ino_t inode = 0;
    int64_t modified = 0;
    off_t size = 0;
    uint32_t block = 0;
    bool compressed = false;
    std::vector<uint8_t> data;
};

CachedBlock& cache() {
    static CachedBlock block;
    return block;
}

int inflateBlock(const uint8_t* in, size_t inLength, uint8_t* out, size_t capacity,
                 size_t& produced) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return win::kNotEnoughMemory;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(inLength);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(capacity);
    int rc = inflate(&z, Z_FINISH);
    produced = capacity - z.avail_out;
    inflateEnd(&z);
    return rc == Z_STREAM_END ? win::kSuccess : win::kInvalidData;
}

std::string utf8FromUcs2(const uint8_t* p, size_t chars) {
    std::string out;
    for (size_t i = 0; i < chars; ++i) {
        uint32_t c = uint32_t(p[2 * i]) << 8 | p[2 * i + 1];
        if (c == 0) break;
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | c >> 6);
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | c >> 12);
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

bool isJolietEscape(const uint8_t* d) {
    return d[88] == '%' && d[89] == '/' && (d[90] == '@' || d[90] == 'C' || d[90] == 'E');
}

int digitsValue(const uint8_t* p, size_t count) {
    int v = 0;
    for (size_t i = 0; i < count; ++i) {
        if (p[i] < '0' || p[i] > '9') break;
        v = v * 10 + (p[i] - '0');
    }
    return v;
}

}  // namespace

TrackRecord parseTrackRecord(const uint8_t* r) {
    TrackRecord t;
    t.kind = r[0];
    t.compressed = r[1];
    t.firstSector = le32(r + 2);
    t.endSector = le32(r + 6);
    const char* text = reinterpret_cast<const char*>(r + 22);
    t.dataPath.assign(text, strnlen(text, 259));
    return t;
}

int readContainer(const std::string& path, Container& out, bool withSessionBlock) {
    platform::LockedFile file;
    if (int err = file.open(path, platform::FileAccess::Read)) return err;
    if (int err = readExact(file, &out.header, sizeof out.header, 0)) return err;
    if (!header::hasContainerMark(out.header)) return win::kInvalidData;
    size_t count = std::min<size_t>(out.header.trackCount, kMaxTracks);
    out.trackTable.assign(count * kTrackRecordSize, 0);
    if (int err =
            readExact(file, out.trackTable.data(), out.trackTable.size(), sizeof(OmxImageHeader)))
        return err;
    out.tracks.clear();
    for (size_t i = 0; i < count; ++i)
        out.tracks.push_back(parseTrackRecord(out.trackTable.data() + i * kTrackRecordSize));
    out.sessionBlock.reset();
    if (withSessionBlock && out.header.sessionBlockOffset != 0) {
        std::array<uint8_t, kSessionBlockSize> block;
        if (int err = readExact(file, block.data(), block.size(), out.header.sessionBlockOffset))
            return err;
        out.sessionBlock = block;
    }
    return win::kSuccess;
}

bool Container::sessionTracks(int number, int& first, int& last) const {
    if (!sessionBlock) return false;
    const uint8_t* b = sessionBlock->data();
    size_t dataLength = size_t(b[12]) << 8 | b[13];
    size_t count = dataLength >= 2 ? (dataLength - 2) / 11 : 0;
    count = std::min(count, (kSessionBlockSize - 16) / 11);
    bool haveFirst = false, haveLast = false;
    for (size_t k = 0; k < count; ++k) {
        const uint8_t* d = b + 16 + 11 * k;
        if (d[0] != number) continue;
        if (d[3] == 0xA0 && !haveFirst) {
            first = d[8];
            haveFirst = true;
        } else if (d[3] == 0xA1 && !haveLast) {
            last = d[8];
            haveLast = true;
        }
    }
    return haveFirst && haveLast;
}

bool hasAudioTrack(const Container& c) {
    for (const TrackRecord& t : c.tracks) {
        if (t.kind == kAudioTrack) return true;
    }
    return false;
}

std::vector<TocEntry> trackList(const OmxImageHeader& header) {
    std::vector<TocEntry> list;
    for (size_t i = 0; i < kTrackListEntries; ++i) {
        size_t at = kTrackListFirst + 8 * i;
        if (at + 8 > sizeof header.trackList) break;
        const uint8_t* d = header.trackList + at;
        if (d[2] == kLeadOut) break;
        list.push_back(TocEntry{d[1], d[2], be32(d + 4)});
    }
    return list;
}

std::string partFileName(const std::string& containerPath, int trackIndex, int part) {
    size_t slash = containerPath.rfind('/');
    size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    size_t dot = containerPath.rfind('.');
    std::string base = (dot != std::string::npos && dot >= nameStart) ? containerPath.substr(0, dot)
                                                                      : containerPath;
    char suffix[32];
    std::snprintf(suffix, sizeof suffix, ".%.2d%d", trackIndex, part);
    return base + suffix;
}

std::optional<std::string> findPartFile(const std::string& containerPath, int trackIndex,
                                        int part) {
    std::string exact = partFileName(containerPath, trackIndex, part);
    struct stat st;
    if (::stat(exact.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return exact;
    size_t slash = exact.rfind('/');
    std::string folder = slash == std::string::npos ? "." : exact.substr(0, slash + 1);
    std::string name = slash == std::string::npos ? exact : exact.substr(slash + 1);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return std::nullopt;
    std::optional<std::string> found;
    while (dirent* e = ::readdir(dir)) {
        if (ascii::equalsIgnoreCase(e->d_name, name)) {
            found = (slash == std::string::npos ? std::string() : folder) + e->d_name;
            break;
        }
    }
    ::closedir(dir);
    return found;
}

void userData(const uint8_t* sector, uint16_t sectorSize, uint8_t* out) {
    if (sectorSize != kRawSectorSize) {
        std::memcpy(out, sector, kUserDataSize);
        return;
    }
    switch (sector[15]) {
        case 1: std::memcpy(out, sector + 16, kUserDataSize); break;
        case 2: std::memcpy(out, sector + 24, kUserDataSize); break;
        default: std::memset(out, 0, kUserDataSize); break;
    }
}

int TrackFile::open(const std::string& path, platform::FileAccess access) {
    path_ = path;
    if (int err = file_.open(path, access)) return err;
    struct stat st;
    if (::fstat(file_.fd(), &st) != 0) return win::fromErrno(errno, path.c_str());
    size_ = st.st_size;
    device_ = st.st_dev;
    inode_ = st.st_ino;
    modified_ = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    uint8_t h[kTrackHeaderSize];
    if (int err = readExact(file_, h, sizeof h, 0)) return err;
    header_.lengthStyle = h[9];
    header_.storage = h[22];
    header_.sectorSize = le16(h + 25);
    header_.blockTableOffset = le32(h + 31);
    header_.firstSectorOffset = le32(h + 43);
    if (header_.storage > kDeflate) return win::kInvalidData;
    if (header_.sectorSize != kUserDataSize && header_.sectorSize != kRawSectorSize)
        return win::kInvalidData;
    return win::kSuccess;
}

int TrackFile::locateBlock(uint32_t b, BlockLocation& out) const {
    uint64_t entry = uint64_t(header_.blockTableOffset) + 4 * uint64_t(b);
    uint8_t offsets[8];
    if (int err = readExact(file_, offsets, sizeof offsets, entry)) return err;
    uint32_t start = le32(offsets);
    uint32_t end = le32(offsets + 4);
    if (end < start || end - start < 2) return win::kInvalidData;
    uint32_t length = end - start - 2;
    if (length > blockBytes()) {
        // Long records carry the length in the 16-bit word after the two table entries.
        uint8_t word[2];
        if (int err = readExact(file_, word, sizeof word, entry + 8)) return err;
        uint16_t w = le16(word);
        if (header_.lengthStyle != 0)
            length = (w & 0x8000) ? (w & 0x7FFF) : 0x8000;
        else
            length = w;
    }
    if (length > kMaxBlockBytes) return win::kInvalidData;
    if (uint64_t(start) + 2 + length > uint64_t(size_)) return win::kHandleEof;
    out.offset = uint64_t(start) + 2;
    out.length = length;
    return win::kSuccess;
}

int TrackFile::readBlock(uint32_t b, uint32_t k, uint8_t* out, bool& fromCompressed) {
    const size_t sectorSize = header_.sectorSize;
    CachedBlock& c = cache();
    {
        std::lock_guard<std::mutex> guard(c.lock);
        if (c.valid && c.block == b && c.path == path_ && c.device == device_ &&
            c.inode == inode_ && c.modified == modified_ && c.size == size_) {
            if ((k + 1) * sectorSize > c.data.size()) return win::kHandleEof;
            std::memcpy(out, c.data.data() + k * sectorSize, sectorSize);
            fromCompressed = c.compressed;
            return win::kSuccess;
        }
    }
    BlockLocation where;
    if (int err = locateBlock(b, where)) return err;
    std::vector<uint8_t> stored(where.length);
    if (int err = readExact(file_, stored.data(), stored.size(), where.offset)) return err;
    std::vector<uint8_t> data;
    bool compressed = where.length != blockBytes();
    if (!compressed) {
        data = std::move(stored);
    } else {
        data.assign(blockBytes(), 0);
        size_t produced = 0;
        if (header_.storage == kLz) {
            long n = lz::decode(stored, data);
            if (n < 0) return win::kInvalidData;
            produced = static_cast<size_t>(n);
        } else if (header_.storage == kDeflate) {
            if (int err =
                    inflateBlock(stored.data(), stored.size(), data.data(), data.size(), produced))
                return err;
        } else {
            return win::kInvalidData;
        }
        data.resize(produced);
    }
    int result = win::kSuccess;
    if ((k + 1) * sectorSize > data.size()) {
        result = win::kHandleEof;
    } else {
        std::memcpy(out, data.data() + k * sectorSize, sectorSize);
        fromCompressed = compressed;
    }
    std::lock_guard<std::mutex> guard(c.lock);
    c.valid = true;
    c.path = path_;
    c.device = device_;
    c.inode = inode_;
    c.modified = modified_;
    c.size = size_;
    c.block = b;
    c.compressed = compressed;
    c.data = std::move(data);
    return result;
}

int TrackFile::readSector(uint32_t n, uint8_t* out, bool& fromCompressed) {
    const uint64_t sectorSize = header_.sectorSize;
    if (header_.storage == kPlain) {
        fromCompressed = false;
        uint64_t at = header_.firstSectorOffset + uint64_t(n) * sectorSize;
        if (at + sectorSize > uint64_t(size_)) return win::kHandleEof;
        return readExact(file_, out, sectorSize, at);
    }
    if (header_.storage != kLz && header_.storage != kDeflate) return win::kInvalidData;
    return readBlock(n / kBlockSectors, n % kBlockSectors, out, fromCompressed);
}

int TrackFile::readUserData(uint32_t n, uint8_t* out, bool& fromCompressed) {
    uint8_t sector[kRawSectorSize];
    if (int err = readSector(n, sector, fromCompressed)) return err;
    userData(sector, header_.sectorSize, out);
    return win::kSuccess;
}

void dropCachedBlock() {
    CachedBlock& c = cache();
    std::lock_guard<std::mutex> guard(c.lock);
    c.valid = false;
    c.data.clear();
}

int TrackReader::select(uint32_t n, TrackFile*& file, uint32_t& inPart) {
    int part = sectorsPerPart_ ? static_cast<int>(n / sectorsPerPart_) : 0;
    inPart = sectorsPerPart_ ? n % sectorsPerPart_ : n;
    if (part != openPart_) {
        openPart_ = -1;
        auto path = findPartFile(containerPath_, trackIndex_, part);
        if (!path) return win::kFileNotFound;
        if (int err = file_.open(*path)) return err;
        openPart_ = part;
    }
    file = &file_;
    return win::kSuccess;
}

int TrackReader::readSector(uint32_t n, uint8_t* out, bool& fromCompressed) {
    TrackFile* file = nullptr;
    uint32_t inPart = 0;
    if (int err = select(n, file, inPart)) return err;
    return file->readSector(inPart, out, fromCompressed);
}

int TrackReader::readUserData(uint32_t n, uint8_t* out, bool& fromCompressed) {
    TrackFile* file = nullptr;
    uint32_t inPart = 0;
    if (int err = select(n, file, inPart)) return err;
    return file->readUserData(inPart, out, fromCompressed);
}

bool findDataTrack(const Container& c, size_t& index) {
    if (c.sessionBlock) {
        size_t firstOfLast = (*c.sessionBlock)[6];
        for (size_t i = firstOfLast > 0 ? firstOfLast - 1 : 0; i < c.tracks.size(); ++i) {
            if (c.tracks[i].kind & kDataTrack) {
                index = i;
                return true;
            }
        }
        return false;
    }
    for (size_t i = 0; i < c.tracks.size(); ++i) {
        if (c.tracks[i].kind == kDataTrack) {
            index = i;
            return true;
        }
    }
    return false;
}

std::string creationDateText(const uint8_t* d) {
    int year = digitsValue(d, 4);
    if (year < 2 || year > 2037) return {};
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = digitsValue(d + 4, 2) - 1;
    tm.tm_mday = digitsValue(d + 6, 2);
    tm.tm_hour = digitsValue(d + 8, 2);
    tm.tm_min = digitsValue(d + 10, 2);
    tm.tm_sec = digitsValue(d + 12, 2);
    ::timegm(&tm);  // fills in the weekday
    char text[128];
    size_t n = std::strftime(text, sizeof text, "%c", &tm);
    return std::string(text, n);
}

int readVolumeInfo(const std::string& containerPath, const Container& c, size_t index,
                   VolumeInfo& out) {
    if (index >= c.tracks.size()) return win::kInvalidData;
    uint32_t start = c.tracks[index].firstSector;
    uint32_t first = start <= 15 ? 16 - start : 16;
    TrackReader reader(containerPath, static_cast<int>(index), c.header.sectorsPerPartFile);
    uint8_t taken[kUserDataSize];
    bool compressed = false;
    if (int err = reader.readUserData(first, taken, compressed)) return err;
    for (uint32_t k = 1; k <= 6; ++k) {
        uint8_t d[kUserDataSize];
        bool more = false;
        if (reader.readUserData(first + k, d, more) != win::kSuccess) break;
        if (d[0] == 255) break;
        if (d[0] == 2 && isJolietEscape(d)) {
            std::memcpy(taken, d, sizeof d);
            compressed = more;
            break;
        }
    }
    if (std::memcmp(taken + 1, "CD001", 5) != 0) return win::kInvalidData;
    if (taken[0] == 2 && isJolietEscape(taken))
        out.label = utf8FromUcs2(taken + 40, 16);
    else
        out.label.assign(reinterpret_cast<const char*>(taken + 40),
                         strnlen(reinterpret_cast<const char*>(taken + 40), 32));
    out.date = creationDateText(taken + 813);
    out.changeable = !compressed;
    return win::kSuccess;
}

}  // namespace ombrix::image
