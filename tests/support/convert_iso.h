#pragma once

#include <filesystem>
#include <string>

#include "omxcvt.h"

namespace ombrix::test {

// Converts `iso` into the image `target` with the converter's library, making the target's
// folder on the way; the converter's result (0 on success). `sectorsPerPart` 0 puts as many
// sectors as fit into one part file.
inline int convertIso(const std::filesystem::path& iso, const std::filesystem::path& target,
                      int storage, int sectorSize = 2048, unsigned sectorsPerPart = 0) {
    std::filesystem::create_directories(target.parent_path());
    OmxCvtOptions o{};
    o.storage = storage;
    o.sectorSize = sectorSize;
    o.sectorsPerPart = sectorsPerPart;
    std::string path = target.string();
    o.target = path.c_str();
    return OMXConvertISO2OM4Ex(iso.c_str(), &o);
}

}  // namespace ombrix::test
