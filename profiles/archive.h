#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The byte encoding of the profile file: little-endian integers and length-prefixed texts. A
// text's length is one byte below 255; else 0xFF and a 16-bit length below 0xFFFE; else 0xFF,
// 0xFFFF and a 32-bit length. A reader also takes the 16-bit marker 0xFFFE before the length of
// a text stored with 16-bit characters; texts are always written with 8-bit characters.
namespace ombrix::profiles {

// Reads from a byte range it does not own. Every read checks what is left first: a read that
// would pass the end fails, takes nothing and leaves the position where it was.
class ArchiveReader {
  public:
    explicit ArchiveReader(std::string_view bytes) : data_(bytes) {}
    explicit ArchiveReader(std::string&&) = delete;  // would outlive the bytes

    bool ReadU8(uint8_t& out);
    bool ReadU16(uint16_t& out);
    bool ReadU32(uint32_t& out);
    bool ReadBytes(size_t length, std::string_view& out);
    // A text of either character size; 16-bit texts are turned into UTF-8 (an unpaired
    // surrogate becomes U+FFFD).
    bool ReadText(std::string& out);

    size_t Position() const { return pos_; }
    size_t Remaining() const { return data_.size() - pos_; }

  private:
    std::string_view data_;
    size_t pos_ = 0;
};

// Appends to a string owned by the caller.
class ArchiveWriter {
  public:
    explicit ArchiveWriter(std::string& out) : out_(out) {}

    void WriteU8(uint8_t value);
    void WriteU16(uint16_t value);
    void WriteU32(uint32_t value);
    void WriteBytes(std::string_view bytes) { out_.append(bytes); }
    // False (nothing written) for a text longer than a 32-bit length can say.
    bool WriteText(std::string_view text);

  private:
    std::string& out_;
};

}  // namespace ombrix::profiles
