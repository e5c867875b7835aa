#include "common/raw_sector.h"

#include <array>
#include <cstddef>
#include <cstring>

#include "common/image_container.h"

namespace ombrix::image {
namespace {

// Tables of the CD-ROM error detection (CRC) and correction (Reed-Solomon product code).
struct EccTables {
    std::array<uint32_t, 256> edc{};
    std::array<uint8_t, 256> forward{};
    std::array<uint8_t, 256> backward{};
    EccTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t e = i;
            for (int k = 0; k < 8; ++k)
                e = (e >> 1) ^ ((e & 1) ? 0xD8018001u : 0);
            edc[i] = e;
            uint32_t j = (i << 1) ^ ((i & 0x80) ? 0x11D : 0);
            forward[i] = static_cast<uint8_t>(j);
            backward[i ^ j] = static_cast<uint8_t>(i);
        }
    }
};

const EccTables& tables() {
    static const EccTables t;
    return t;
}

void eccPart(const uint8_t* src, uint32_t majorCount, uint32_t minorCount, uint32_t majorMult,
             uint32_t minorInc, uint8_t* dest) {
    const EccTables& t = tables();
    uint32_t size = majorCount * minorCount;
    for (uint32_t major = 0; major < majorCount; ++major) {
        uint32_t index = (major >> 1) * majorMult + (major & 1);
        uint8_t a = 0, b = 0;
        for (uint32_t minor = 0; minor < minorCount; ++minor) {
            uint8_t v = src[index];
            index += minorInc;
            if (index >= size) index -= size;
            a ^= v;
            b ^= v;
            a = t.forward[a];
        }
        a = t.backward[t.forward[a] ^ b];
        dest[major] = a;
        dest[major + majorCount] = a ^ b;
    }
}

uint8_t bcd(uint32_t v) {
    return static_cast<uint8_t>((v / 10) << 4 | (v % 10));
}

}  // namespace

void updateSectorChecks(uint8_t* out) {
    if (out[15] != 1) return;
    uint32_t edc = 0;
    for (size_t i = 0; i < 2064; ++i)
        edc = (edc >> 8) ^ tables().edc[(edc ^ out[i]) & 0xFF];
    for (int i = 0; i < 4; ++i)
        out[2064 + i] = static_cast<uint8_t>(edc >> (8 * i));
    std::memset(out + 2068, 0, 8);
    eccPart(out + 12, 86, 24, 2, 86, out + 2076);   // P parity
    eccPart(out + 12, 52, 43, 86, 88, out + 2248);  // Q parity
}

void makeRawSector(const uint8_t* userData, uint32_t lba, uint8_t* out) {
    std::memset(out, 0, kRawSectorSize);
    std::memset(out + 1, 0xFF, 10);
    uint32_t frames = lba + 150;
    out[12] = bcd(frames / (60 * 75));
    out[13] = bcd((frames / 75) % 60);
    out[14] = bcd(frames % 75);
    out[15] = 1;
    std::memcpy(out + 16, userData, kUserDataSize);
    updateSectorChecks(out);
}

}  // namespace ombrix::image
