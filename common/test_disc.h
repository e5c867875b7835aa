#pragma once

// Synthetic discs for the image tests: user data with ISO 9660 volume descriptors, written as a
// container with track part files in any storage.
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/image_writer.h"

namespace ombrix::testdisc {

using Sectors = std::vector<uint8_t>;  // 2048 bytes per sector

inline void putDescriptor(uint8_t* d, uint8_t type, const std::string& label, bool joliet,
                          const std::string& date) {
    std::memset(d, 0, 2048);
    d[0] = type;
    std::memcpy(d + 1, "CD001", 5);
    d[6] = 1;
    if (type == 255) return;
    if (joliet) {
        d[88] = '%', d[89] = '/', d[90] = 'E';
        for (size_t i = 0; i < 16; ++i) {
            char c = i < label.size() ? label[i] : ' ';
            d[40 + 2 * i] = 0;
            d[40 + 2 * i + 1] = static_cast<uint8_t>(c);
        }
    } else {
        for (size_t i = 0; i < 32; ++i)
            d[40 + i] = static_cast<uint8_t>(i < label.size() ? label[i] : ' ');
    }
    std::memcpy(d + 813, date.data(), std::min<size_t>(date.size(), 16));
}

// `count` sectors of mixed content: compressible text, zeros and random bytes, with a primary
// descriptor at 16, optionally a Joliet one at 17, and the terminator after them.
inline Sectors makeSectors(size_t count, const std::string& label, bool joliet = true,
                           const std::string& date = "2026120722541600", unsigned seed = 1) {
    Sectors s(count * 2048);
    std::mt19937 rng(seed);
    for (size_t n = 0; n < count; ++n) {
        uint8_t* p = s.data() + n * 2048;
        switch (n % 4) {
            case 0:
                for (size_t i = 0; i < 2048; ++i)
                    p[i] = static_cast<uint8_t>("sector text and more text "[(i + n) % 26]);
                break;
            case 1: break;
            case 2:
                for (size_t i = 0; i < 2048; ++i)
                    p[i] = static_cast<uint8_t>(rng());
                break;
            default:
                for (size_t i = 0; i < 2048; ++i)
                    p[i] = static_cast<uint8_t>((i * n) >> 3);
        }
    }
    if (count > 19) {
        putDescriptor(s.data() + 16 * 2048, 1, label, false, date);
        size_t next = 17;
        if (joliet) putDescriptor(s.data() + next++ * 2048, 2, label, true, date);
        putDescriptor(s.data() + next * 2048, 255, "", false, "");
    }
    return s;
}

struct DiscOptions {
    uint8_t storage = image::kPlain;
    uint16_t sectorSize = 2048;
    uint32_t sectorsPerPart = 0;
    std::string comment;
};

// Writes a single data track disc; returns the container path.
inline std::string writeDisc(const std::filesystem::path& container, const Sectors& sectors,
                             const DiscOptions& o = {}) {
    std::filesystem::create_directories(container.parent_path());
    const uint32_t count = static_cast<uint32_t>(sectors.size() / 2048);
    const uint32_t perPart = o.sectorsPerPart ? o.sectorsPerPart : count;
    for (uint32_t first = 0, part = 0; first < count; first += perPart, ++part) {
        uint32_t n = std::min(perPart, count - first);
        image::PartWriter w;
        std::string path = image::partFileName(container.string(), 0, static_cast<int>(part));
        if (w.open(path, {o.storage, o.sectorSize, 1}, n, first) != 0) return {};
        if (w.add(sectors.data() + size_t(first) * 2048, n) != 0 || w.finish() != 0) return {};
    }
    image::ContainerSpec spec;
    spec.sectorsPerPart = o.sectorsPerPart;
    spec.contentSize = count * 2048;
    spec.description = "Test disc";
    spec.comment = o.comment;
    image::TrackRecord t;
    t.kind = image::kDataTrack;
    t.compressed = o.storage != image::kPlain;
    t.endSector = count;
    spec.tracks.push_back(t);
    spec.trackList.push_back({0x14, 1, 0});
    spec.leadOut = count;
    if (image::writeContainer(container.string(), spec) != 0) return {};
    return container.string();
}

}  // namespace ombrix::testdisc
