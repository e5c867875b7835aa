#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// The byte-and-nibble LZ method of compressed track files. A stream mixes bytes, nibbles and
// bits read from one cursor; matches name their source by counting items (literal bytes or
// matches) back from the current one.
namespace ombrix::lz {

// Decodes `in` into `out` (whose size is the block capacity, at most 0x9300 bytes). Returns the
// decoded length, or -1 when the stream is corrupt: a match source before the first item, output
// past the capacity, or input past its end or past the capacity.
long decode(std::span<const uint8_t> in, std::span<uint8_t> out);

// Encodes `in` (at most 0x9300 bytes) into a stream `decode` reads back, ending with the end code.
std::vector<uint8_t> encode(std::span<const uint8_t> in);

}  // namespace ombrix::lz
