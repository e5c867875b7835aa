#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "manager/iso_filesystem.h"

// Hand-made ISO 9660 discs for tests: every structure written byte by byte, so tests can make
// the damaged and hostile discs no mastering tool writes.
namespace ombrix::contents::testing {

class MemoryDisc : public SectorSource {
  public:
    explicit MemoryDisc(uint32_t sectors, uint32_t first = 0)
        : bytes(size_t(sectors) * kSectorBytes), first_(first), end_(first + sectors) {}

    int readSector(uint32_t sector, uint8_t* out) override {
        if (sector < first_ || sector >= end_) return kReadPastEnd;
        ++reads;
        std::memcpy(out, bytes.data() + size_t(sector - first_) * kSectorBytes, kSectorBytes);
        return 0;
    }
    uint32_t firstSector() const override { return first_; }
    uint32_t endSector() const override { return end_; }

    uint8_t* at(uint32_t sector) { return bytes.data() + size_t(sector - first_) * kSectorBytes; }

    std::vector<uint8_t> bytes;
    size_t reads = 0;

  private:
    uint32_t first_;
    uint32_t end_;
};

inline void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void putBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}
inline void putBoth32(uint8_t* p, uint32_t v) {
    putLe32(p, v);
    putBe32(p + 4, v);
}

// Names for Joliet descriptors: UCS-2 big-endian.
inline std::string ucs2(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        out += static_cast<char>(c >> 8);
        out += static_cast<char>(c & 0xFF);
    }
    return out;
}

// A volume descriptor of `type` (1 primary, 2 supplementary, 255 terminator).
inline void descriptor(uint8_t* d, uint8_t type, uint32_t pathTable, uint32_t pathTableSize,
                       uint32_t rootExtent, bool joliet = false) {
    std::memset(d, 0, kSectorBytes);
    d[0] = type;
    std::memcpy(d + 1, "CD001", 5);
    d[6] = 1;
    if (type == 255) return;
    std::memset(d + 40, ' ', 32);
    std::memcpy(d + 40, "TEST", 4);
    d[128] = 0x00;
    d[129] = 0x08;  // block size 2048
    putBoth32(d + 132, pathTableSize);
    putLe32(d + 140, pathTable);
    uint8_t* root = d + 156;
    root[0] = 34;
    putBoth32(root + 2, rootExtent);
    putBoth32(root + 10, kSectorBytes);
    root[25] = 2;
    root[32] = 1;
    if (joliet) {
        d[88] = '%';
        d[89] = '/';
        d[90] = 'E';
    }
}

// One path-table record (L type), padded to an even length.
inline void pathRecord(std::string& table, const std::string& name, uint32_t extent,
                       uint16_t parent) {
    std::string r(8, '\0');
    r[0] = static_cast<char>(name.size());
    putLe32(reinterpret_cast<uint8_t*>(r.data()) + 2, extent);
    r[6] = static_cast<char>(parent & 0xFF);
    r[7] = static_cast<char>(parent >> 8);
    r += name;
    if (name.size() & 1) r += '\0';
    table += r;
}

// One directory record.
inline void dirRecord(std::string& records, const std::string& name, uint32_t extent, uint32_t size,
                      uint8_t flags = 0) {
    std::string r(33, '\0');
    auto* p = reinterpret_cast<uint8_t*>(r.data());
    putBoth32(p + 2, extent);
    putBoth32(p + 10, size);
    p[18] = 124;  // 2024
    p[19] = 1;
    p[20] = 2;
    p[25] = flags;
    r[32] = static_cast<char>(name.size());
    r += name;
    if (r.size() & 1) r += '\0';
    r[0] = static_cast<char>(r.size());
    records += r;
}

// The "." and ".." records that begin every folder; "." carries the folder's length.
inline std::string folderStart(uint32_t extent, uint32_t length) {
    std::string records;
    dirRecord(records, std::string(1, '\0'), extent, length, 2);
    dirRecord(records, std::string(1, '\1'), extent, length, 2);
    return records;
}

inline void put(MemoryDisc& disc, uint32_t sector, const std::string& data) {
    std::memcpy(disc.at(sector), data.data(), data.size());
}

}  // namespace ombrix::contents::testing
