#include "profiles/archive.h"

#include <limits>

namespace ombrix::profiles {

namespace {

constexpr uint16_t kWideMarker = 0xFFFE;

void appendUtf8(std::string& out, uint32_t code) {
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

std::string utf16ToUtf8(std::string_view bytes) {
    constexpr uint32_t kReplacement = 0xFFFD;
    std::string out;
    out.reserve(bytes.size());
    const size_t count = bytes.size() / 2;
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i])) |
               static_cast<uint32_t>(static_cast<uint8_t>(bytes[2 * i + 1])) << 8;
    };
    for (size_t i = 0; i < count; ++i) {
        const uint32_t u = unit(i);
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUtf8(out, (u >= 0xD800 && u <= 0xDFFF) ? kReplacement : u);
    }
    return out;
}

}  // namespace

bool ArchiveReader::ReadU8(uint8_t& out) {
    if (Remaining() < 1) return false;
    out = static_cast<uint8_t>(data_[pos_]);
    pos_ += 1;
    return true;
}

bool ArchiveReader::ReadU16(uint16_t& out) {
    if (Remaining() < 2) return false;
    out = static_cast<uint16_t>(static_cast<uint8_t>(data_[pos_]) |
                                static_cast<uint8_t>(data_[pos_ + 1]) << 8);
    pos_ += 2;
    return true;
}

bool ArchiveReader::ReadU32(uint32_t& out) {
    if (Remaining() < 4) return false;
    out = 0;
    for (int i = 3; i >= 0; --i)
        out = out << 8 | static_cast<uint8_t>(data_[pos_ + static_cast<size_t>(i)]);
    pos_ += 4;
    return true;
}

bool ArchiveReader::ReadBytes(size_t length, std::string_view& out) {
    if (Remaining() < length) return false;
    out = data_.substr(pos_, length);
    pos_ += length;
    return true;
}

bool ArchiveReader::ReadText(std::string& out) {
    const size_t start = pos_;
    auto fail = [&] {
        pos_ = start;
        return false;
    };
    bool wide = false;
    uint64_t length = 0;
    for (;;) {
        uint8_t small = 0;
        if (!ReadU8(small)) return fail();
        if (small < 0xFF) {
            length = small;
            break;
        }
        uint16_t medium = 0;
        if (!ReadU16(medium)) return fail();
        // The marker may come once, before the length proper.
        if (medium == kWideMarker && !wide) {
            wide = true;
            continue;
        }
        if (medium < 0xFFFF) {
            length = medium;
            break;
        }
        uint32_t large = 0;
        if (!ReadU32(large)) return fail();
        length = large;
        break;
    }
    const uint64_t byteLength = wide ? length * 2 : length;
    std::string_view bytes;
    if (byteLength > Remaining() || !ReadBytes(static_cast<size_t>(byteLength), bytes))
        return fail();
    out = wide ? utf16ToUtf8(bytes) : std::string(bytes);
    return true;
}

void ArchiveWriter::WriteU8(uint8_t value) {
    out_.push_back(static_cast<char>(value));
}

void ArchiveWriter::WriteU16(uint16_t value) {
    WriteU8(static_cast<uint8_t>(value));
    WriteU8(static_cast<uint8_t>(value >> 8));
}

void ArchiveWriter::WriteU32(uint32_t value) {
    WriteU16(static_cast<uint16_t>(value));
    WriteU16(static_cast<uint16_t>(value >> 16));
}

bool ArchiveWriter::WriteText(std::string_view text) {
    const size_t length = text.size();
    if (length > std::numeric_limits<uint32_t>::max()) return false;
    if (length < 0xFF) {
        WriteU8(static_cast<uint8_t>(length));
    } else if (length < kWideMarker) {
        WriteU8(0xFF);
        WriteU16(static_cast<uint16_t>(length));
    } else {
        WriteU8(0xFF);
        WriteU16(0xFFFF);
        WriteU32(static_cast<uint32_t>(length));
    }
    out_.append(text);
    return true;
}

}  // namespace ombrix::profiles
