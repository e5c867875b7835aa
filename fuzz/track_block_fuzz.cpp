// Reads arbitrary bytes as a track part file: its header, block table and blocks.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "common/image_container.h"
#include "fuzz/fuzz_work_folder.h"

namespace {

const std::string& workFile() {
    static const std::string path = ombrix::fuzz::workFile("disc.000");
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ombrix::fuzz::writeWorkFile(workFile(), data, size);
    ombrix::image::dropCachedBlock();
    ombrix::image::TrackFile file;
    if (file.open(workFile()) != 0) return 0;
    uint8_t sector[ombrix::image::kRawSectorSize];
    for (uint32_t n : {0u, 1u, 15u, 16u, 17u, 31u, 32u, 100u, 0x7FFFFFFFu}) {
        bool compressed = false;
        file.readUserData(n, sector, compressed);
        file.readUserData(n, sector, compressed);  // from the kept block
    }
    ombrix::image::BlockLocation where;
    for (uint32_t b : {0u, 1u, 2u, 0xFFFFFFFFu})
        file.locateBlock(b, where);
    return 0;
}
