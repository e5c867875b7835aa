#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/image_container.h"
#include "common/image_writer.h"
#include "support/temp_root.h"

// Small images built by hand whose numbers would make a careless reader allocate without end:
// what a user who may insert any file can hand the drive.
namespace ombrix::test {

namespace hostile {

inline void putLe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        s[at + i] = static_cast<char>(v >> (8 * i));
}
inline void putBoth32(std::string& s, size_t at, uint32_t v) {
    putLe32(s, at, v);
    for (int i = 0; i < 4; ++i)
        s[at + 4 + i] = static_cast<char>(v >> (24 - 8 * i));
}

// A primary volume descriptor whose path table and root folder lie where it says.
inline std::string primaryDescriptor(uint32_t pathTable, uint32_t pathTableBytes, uint32_t root,
                                     uint32_t volumeSectors) {
    std::string d(2048, '\0');
    d[0] = 1;
    std::memcpy(d.data() + 1, "CD001", 5);
    d[6] = 1;
    std::memset(d.data() + 40, ' ', 32);
    std::memcpy(d.data() + 40, "HOSTILE", 7);
    putBoth32(d, 80, volumeSectors);
    d[128] = 0x00;  // 2048-byte blocks, both byte orders
    d[129] = 0x08;
    d[130] = 0x08;
    d[131] = 0x00;
    putBoth32(d, 132, pathTableBytes);
    putLe32(d, 140, pathTable);
    d[156] = 34;
    putBoth32(d, 156 + 2, root);
    putBoth32(d, 156 + 10, 2048);
    d[156 + 25] = 2;
    d[156 + 32] = 1;
    return d;
}

inline std::string terminator() {
    std::string d(2048, '\0');
    d[0] = char(255);
    std::memcpy(d.data() + 1, "CD001", 5);
    d[6] = 1;
    return d;
}

// A folder's records: only its "." entry.
inline std::string emptyFolder(uint32_t sector) {
    std::string d(2048, '\0');
    d[0] = 34;
    putBoth32(d, 2, sector);
    putBoth32(d, 10, 2048);
    d[25] = 2;
    d[32] = 1;
    return d;
}

}  // namespace hostile

// An ISO whose path table is a chain of `depth` folders, each inside the one before; every
// folder's records are the root's. 700 KB for 65,000 folders.
inline std::filesystem::path makeDeepChainIso(const std::filesystem::path& iso, uint32_t depth) {
    std::string table;
    auto record = [&table](uint32_t extent, uint16_t parent, char name) {
        const char head[8] = {1, 0, 0, 0, 0, 0, 0, 0};
        std::string r(head, 8);
        hostile::putLe32(r, 2, extent);
        r[6] = static_cast<char>(parent & 0xFF);
        r[7] = static_cast<char>(parent >> 8);
        r += name;
        r += '\0';  // names of odd length are padded
        table += r;
    };
    const uint32_t tableStart = 18;
    const uint32_t tableSectors = static_cast<uint32_t>((size_t(depth) * 10 + 2047) / 2048);
    const uint32_t root = tableStart + tableSectors;
    record(root, 1, '\0');
    for (uint32_t n = 2; n <= depth; ++n)  // path-table numbers are 16 bits: depth <= 65,535
        record(root, static_cast<uint16_t>(n - 1), 'D');
    std::string disc(size_t(16) * 2048, '\0');
    disc +=
        hostile::primaryDescriptor(tableStart, static_cast<uint32_t>(table.size()), root, root + 1);
    disc += hostile::terminator();
    table.resize(size_t(tableSectors) * 2048, '\0');
    disc += table;
    disc += hostile::emptyFolder(root);
    writeFile(iso, disc);
    return iso;
}

// A container of ten part files of two sectors each whose track claims to run to sector
// 0xFFFFFFFF, with its path table at sector 0x7FFFFFF0: the sector numbers point at part files
// that cannot exist. Returns the container's path, empty when it cannot be written.
inline std::filesystem::path makeFarPartImage(const std::filesystem::path& container) {
    namespace fs = std::filesystem;
    fs::create_directories(container.parent_path());
    constexpr uint32_t kPerPart = 2;
    constexpr uint32_t kTable = 0x7FFFFFF0;
    for (uint32_t part = 0; part < image::kMaxPartFiles; ++part) {
        std::string sectors(size_t(kPerPart) * 2048, '\0');
        if (part == 8) {  // sectors 16 and 17
            sectors = hostile::primaryDescriptor(kTable, 4096, kTable + 2, 0xFFFFFFFF) +
                      hostile::terminator();
        }
        image::PartWriter writer;
        if (writer.open(image::partFileName(container.string(), 0, static_cast<int>(part)), {},
                        kPerPart, part * kPerPart) != 0 ||
            writer.add(reinterpret_cast<const uint8_t*>(sectors.data()), kPerPart) != 0 ||
            writer.finish() != 0) {
            return {};
        }
    }
    image::ContainerSpec spec;
    spec.sectorsPerPart = kPerPart;
    spec.tracks.push_back({image::kDataTrack, 0, 0, 0xFFFFFFFF, ""});
    spec.trackList.push_back({0x14, 1, 0});
    spec.leadOut = 0xFFFFFFFF;
    if (image::writeContainer(container.string(), spec) != 0) return {};
    return container;
}

}  // namespace ombrix::test
