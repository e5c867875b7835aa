// Opens arbitrary bytes as an image with its part files (see image_files.h), walks every data
// track's file system across its tracks and lists and reads every file, as the contents tool does.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/image_files.h"
#include "manager/image_contents.h"

namespace oc = ombrix::contents;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string container = ombrix::fuzz::layOutImage(data, size);
    oc::ImageContents image;
    if (image.open(container) != 0) return 0;
    image.wait();
    std::vector<uint8_t> buffer(2 * oc::kSectorBytes);
    for (const auto& track : image.tracks()) {
        if (!track->data) continue;
        const oc::FileSystem& files = track->files;
        for (uint32_t i = 0; i < files.nodes.size(); ++i) {
            if (files.find(files.path(i)) < 0) __builtin_trap();
            if (files.nodes[i].directory) continue;
            size_t got = 0;
            image.read(track->index, i, 0, buffer.size(), buffer.data(), got);
            if (got > buffer.size()) __builtin_trap();
            if (files.nodes[i].size > 3000) {
                image.read(track->index, i, files.nodes[i].size - 3000, buffer.size(),
                           buffer.data(), got);
            }
        }
    }
    return 0;
}
