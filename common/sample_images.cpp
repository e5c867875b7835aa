#include "common/sample_images.h"

#include <cstring>
#include <fstream>

#include "common/image_header.h"
#include "common/md5_digest.h"

namespace ombrix::samples {

OmxImageHeader makeHeader(const std::string& description, const std::string& password) {
    OmxImageHeader h;
    std::memset(&h, 0, sizeof h);
    h.discType = 1;
    h.trackCount = 1;
    h.formatMark = kOmxFormatMark;
    std::memcpy(h.containerMark, "OMXContainer", 13);
    description.copy(h.description, sizeof h.description);
    if (!password.empty()) std::memcpy(h.passwordDigest, md5Hex(password)->c_str(), 33);
    header::setChecksum(h);
    return h;
}

void writeImage(const std::filesystem::path& path, const OmxImageHeader& header) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(&header), sizeof header);
    out << std::string(282, '\0');
}

}  // namespace ombrix::samples
