// Reads arbitrary bytes as an image container and its first track part file (a 4-byte length
// of the container, the container, then the part file), through the disc information calls.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "common/oxtcomm_disc.h"

namespace {

std::string g_dir;

void removeWorkFiles() {
    for (const char* name : {"/disc.om4", "/disc.000"})
        ::unlink((g_dir + name).c_str());
    ::rmdir(g_dir.c_str());
}

void write(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_dir.empty()) {
        char dir[] = "/tmp/container-fuzz-XXXXXX";
        if (::mkdtemp(dir) == nullptr) std::abort();
        g_dir = dir;
        std::atexit(removeWorkFiles);
    }
    if (size < 4) return 0;
    uint32_t containerSize;
    std::memcpy(&containerSize, data, 4);
    size_t n = std::min<size_t>(containerSize, size - 4);
    const std::string container = g_dir + "/disc.om4";
    write(container, data + 4, n);
    write(g_dir + "/disc.000", data + 4 + n, size - 4 - n);

    char text[64];
    int changeable = 0;
    OMXGetISOLabel(container.c_str(), text, sizeof text, &changeable);
    std::vector<OmxSessionInfo> sessions(256);
    int count = OMXGetSessions(container.c_str(), sessions.data(),
                               static_cast<int>(sessions.size() * sizeof(OmxSessionInfo)));
    if (count < 0 || count > 256) std::abort();
    std::vector<uint8_t> table(100 * 282);
    OMXGetTrkTable(container.c_str(), table.data(), static_cast<int>(table.size()));
    OMXIsAnyTrackCompressed(container.c_str());
    OMXGetComment(container.c_str(), text, sizeof text);
    OMXChangeIsoLabelFile(container.c_str(), "fuzzed label");
    OMXSetComment(container.c_str(), "a comment");
    OMXGetISOLabel(container.c_str(), text, sizeof text, &changeable);
    return 0;
}
