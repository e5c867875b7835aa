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
#include "fuzz/fuzz_work_folder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    uint32_t containerSize;
    std::memcpy(&containerSize, data, 4);
    size_t n = std::min<size_t>(containerSize, size - 4);
    const std::string container = ombrix::fuzz::workFile("disc.om4");
    ombrix::fuzz::writeWorkFile(container, data + 4, n);
    ombrix::fuzz::writeWorkFile(ombrix::fuzz::workFile("disc.000"), data + 4 + n, size - 4 - n);

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
