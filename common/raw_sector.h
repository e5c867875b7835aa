#pragma once

#include <cstdint>

// Raw (2352-byte) CD-ROM sectors.
namespace ombrix::image {

// A mode 1 raw sector for disc address `lba`: sync, header, the user data, EDC and ECC.
void makeRawSector(const uint8_t* userData, uint32_t lba, uint8_t* out);

// Recomputes the error detection and correction bytes of a mode 1 raw sector after its user
// data changed; other modes are left as they are.
void updateSectorChecks(uint8_t* sector);

}  // namespace ombrix::image
