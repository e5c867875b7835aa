#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

// Text helpers for keys and names: upper-casing and comparing ignore case in ASCII only, so
// UTF-8 text passes through unchanged.
namespace ombrix::ascii {

inline char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string toUpper(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        c = upper(c);
    return out;
}

// Upper-cases in place the bytes before the first `stop` among `length` bytes, and returns that
// byte's offset (`length` when there is none). Works eight bytes at a time: a byte is lower case
// when it lies in 'a'..'z' with its top bit clear, and then loses the 0x20 bit; a byte is `stop`
// where the word xor `stop` in every byte has a zero byte.
inline size_t upperUntil(char* text, size_t length, char stop) {
    constexpr uint64_t kOnes = 0x0101010101010101u;
    constexpr uint64_t kTops = 0x8080808080808080u;
    const uint64_t stops = kOnes * static_cast<unsigned char>(stop);
    size_t i = 0;
    for (; i + 8 <= length; i += 8) {
        uint64_t word;
        std::memcpy(&word, text + i, 8);
        const uint64_t low7 = word & ~kTops;
        const uint64_t fromA = low7 + kOnes * (0x80 - 'a');      // top bit set where >= 'a'
        const uint64_t pastZ = low7 + kOnes * (0x80 - 'z' - 1);  // top bit set where > 'z'
        const uint64_t lower = fromA & ~pastZ & ~word & kTops;
        const uint64_t x = word ^ stops;
        if ((x - kOnes) & ~x & kTops) break;  // `stop` somewhere in these eight: bytewise below
        word ^= lower >> 2;
        std::memcpy(text + i, &word, 8);
    }
    for (; i < length && text[i] != stop; ++i)
        text[i] = upper(text[i]);
    return i;
}

// Three-way order of two texts with ASCII letters folded to upper case, other bytes unsigned.
inline int compareIgnoreCase(std::string_view a, std::string_view b) {
    const size_t common = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(upper(a[i]));
        const auto y = static_cast<unsigned char>(upper(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

inline bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper(a[i]) != upper(b[i])) return false;
    }
    return true;
}

inline bool startsWithIgnoreCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsIgnoreCase(s.substr(0, prefix.size()), prefix);
}

inline bool endsWithIgnoreCase(std::string_view s, std::string_view suffix) {
    return s.size() >= suffix.size() &&
           equalsIgnoreCase(s.substr(s.size() - suffix.size()), suffix);
}

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back()))
        s.remove_suffix(1);
    return s;
}

// The number spelt by the digits of a numbered key ("OMXImage_12" -> 12): 1 to 9 decimal
// digits and nothing else, so it always fits; nothing for any other text.
inline std::optional<long> digitsNumber(std::string_view digits) {
    if (digits.empty() || digits.size() > 9) return std::nullopt;
    long number = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

// Copies `value` into a caller's buffer of `size` bytes: cut to size - 1 and zero-terminated.
// Does nothing for a null buffer or a size below 1. Returns the number of characters copied.
inline int copyToBuffer(std::string_view value, char* buffer, long size) {
    if (buffer == nullptr || size < 1) return 0;
    size_t n = value.size() < static_cast<size_t>(size - 1) ? value.size() : size - 1;
    value.copy(buffer, n);
    buffer[n] = '\0';
    return static_cast<int>(n);
}

}  // namespace ombrix::ascii
