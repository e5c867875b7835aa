#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/image_container.h"
#include "fuzz/fuzz_work_folder.h"

// Lays arbitrary bytes out as an image: a container and its track part files in the work
// folder. The bytes are: a 4-byte length and the container, then pieces of a track number byte,
// a part number byte, a 4-byte length and the part file's bytes. Part files of an earlier input
// are removed first. Returns the container's path.
namespace ombrix::fuzz {

inline std::string layOutImage(const uint8_t* data, size_t size) {
    const std::string container = workFile("disc.om4");
    for (int track = 0; track < 4; ++track) {
        for (uint32_t part = 0; part < image::kMaxPartFiles; ++part)
            std::remove(image::partFileName(container, track, static_cast<int>(part)).c_str());
    }
    auto take32 = [&](uint32_t& value) {
        if (size < 4) return false;
        std::memcpy(&value, data, 4);
        data += 4;
        size -= 4;
        return true;
    };
    uint32_t length = 0;
    if (!take32(length)) length = 0;
    size_t n = std::min<size_t>(length, size);
    writeWorkFile(container, data, n);
    data += n;
    size -= n;
    while (size >= 2) {
        const int track = data[0] % 4;
        const int part = data[1] % image::kMaxPartFiles;
        data += 2;
        size -= 2;
        if (!take32(length)) length = static_cast<uint32_t>(size);
        n = std::min<size_t>(length, size);
        writeWorkFile(image::partFileName(container, track, part), data, n);
        data += n;
        size -= n;
    }
    return container;
}

}  // namespace ombrix::fuzz
