// Walks arbitrary bytes as the file system of a data track and reads from every file found, as
// the mounted units and the contents reader do. The bytes are the disc from sector 16 on (the
// volume descriptors); sectors 0 to 15 read as zeros.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "manager/iso_filesystem.h"

namespace {

namespace oc = ombrix::contents;

class FuzzDisc : public oc::SectorSource {
  public:
    FuzzDisc(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    int readSector(uint32_t sector, uint8_t* out) override {
        if (sector >= endSector()) return oc::kReadPastEnd;
        std::memset(out, 0, oc::kSectorBytes);
        if (sector < 16) return 0;
        const size_t at = size_t(sector - 16) * oc::kSectorBytes;
        std::memcpy(out, data_ + at, std::min<size_t>(oc::kSectorBytes, size_ - at));
        return 0;
    }
    uint32_t firstSector() const override { return 0; }
    uint32_t endSector() const override {
        return 16 + static_cast<uint32_t>((size_ + oc::kSectorBytes - 1) / oc::kSectorBytes);
    }

  private:
    const uint8_t* data_;
    size_t size_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzDisc disc(data, size);
    oc::FileSystem files;
    oc::walkFileSystem(disc, files);
    std::vector<uint8_t> buffer(3 * oc::kSectorBytes);
    for (uint32_t i = 0; i < files.nodes.size(); ++i) {
        const oc::Node& node = files.nodes[i];
        // Names never leave their folder.
        if (i != 0 && (node.name.empty() || node.name == "." || node.name == ".." ||
                       node.name.find('/') != std::string::npos)) {
            __builtin_trap();
        }
        if (files.find(files.path(i)) < 0) __builtin_trap();
        if (node.directory) continue;
        size_t got = 0;
        oc::readFileBytes(disc, node.data, 0, buffer.size(), buffer.data(), got);
        if (node.size > 100)
            oc::readFileBytes(disc, node.data, node.size - 100, buffer.size(), buffer.data(), got);
    }
    return 0;
}
