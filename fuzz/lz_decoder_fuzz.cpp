// Decodes arbitrary bytes as an LZ block; with the first byte odd, encodes the rest instead and
// checks that the stream decodes back to it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/lz_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool raw = data[0] & 2;
    std::vector<uint8_t> out(raw ? 0x9300 : 0x8000);
    std::span<const uint8_t> rest(data + 1, size - 1);
    if ((data[0] & 1) == 0) {
        long n = ombrix::lz::decode(rest, out);
        if (n > long(out.size())) std::abort();
        return 0;
    }
    if (rest.size() > out.size()) rest = rest.first(out.size());
    std::vector<uint8_t> stream = ombrix::lz::encode(rest);
    std::vector<uint8_t> back(0x9300);
    long n = ombrix::lz::decode(stream, back);
    if (stream.size() <= back.size()) {
        if (n != long(rest.size())) std::abort();
        if (!rest.empty() && std::memcmp(back.data(), rest.data(), rest.size()) != 0) std::abort();
    }
    return 0;
}
