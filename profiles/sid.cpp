#include "profiles/sid.h"

#include <charconv>
#include <cstdio>
#include <utility>

namespace ombrix::profiles {

namespace {

constexpr uint8_t kRevision = 1;
constexpr uint64_t kNtAuthority = 5;
constexpr uint64_t kWorldAuthority = 1;
constexpr uint64_t kUnixAuthority = 22;
constexpr uint32_t kUnixUsers = 1;
constexpr uint32_t kUnixGroups = 2;
constexpr uint32_t kBuiltinDomain = 32;
constexpr uint32_t kAdministratorsAlias = 544;

// A whole run of digits in `base` that fits `limit`; no sign, no blanks.
bool parseNumber(std::string_view text, int base, uint64_t limit, uint64_t& out) {
    if (text.empty()) return false;
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, out, base);
    return ec == std::errc() && ptr == end && out <= limit;
}

}  // namespace

std::optional<Sid> Sid::Make(uint64_t authority, std::vector<uint32_t> subAuthorities) {
    if (authority > kMaxAuthority || subAuthorities.size() > kMaxSubAuthorities)
        return std::nullopt;
    return Sid(authority, std::move(subAuthorities));
}

std::optional<Sid> Sid::Parse(std::string_view text) {
    if (text.size() < 4 || (text[0] != 'S' && text[0] != 's') || text.substr(1, 3) != "-1-")
        return std::nullopt;
    text.remove_prefix(4);
    std::vector<std::string_view> parts;
    for (;;) {
        const size_t dash = text.find('-');
        parts.push_back(text.substr(0, dash));
        if (dash == std::string_view::npos) break;
        text.remove_prefix(dash + 1);
    }
    if (parts.size() - 1 > kMaxSubAuthorities) return std::nullopt;

    uint64_t authority = 0;
    std::string_view first = parts[0];
    const bool hex = first.size() > 2 && first[0] == '0' && (first[1] == 'x' || first[1] == 'X');
    if (!parseNumber(hex ? first.substr(2) : first, hex ? 16 : 10, kMaxAuthority, authority))
        return std::nullopt;
    std::vector<uint32_t> subs;
    for (size_t i = 1; i < parts.size(); ++i) {
        uint64_t sub = 0;
        if (!parseNumber(parts[i], 10, UINT32_MAX, sub)) return std::nullopt;
        subs.push_back(static_cast<uint32_t>(sub));
    }
    return Sid(authority, std::move(subs));
}

std::optional<Sid> Sid::FromBinary(std::string_view bytes) {
    if (bytes.size() < 8 || static_cast<uint8_t>(bytes[0]) != kRevision) return std::nullopt;
    const size_t count = static_cast<uint8_t>(bytes[1]);
    if (count > kMaxSubAuthorities || bytes.size() < 8 + 4 * count) return std::nullopt;
    uint64_t authority = 0;
    for (size_t i = 2; i < 8; ++i)
        authority = authority << 8 | static_cast<uint8_t>(bytes[i]);
    std::vector<uint32_t> subs(count);
    for (size_t i = 0; i < count; ++i) {
        const size_t at = 8 + 4 * i;
        uint32_t sub = 0;
        for (size_t b = 4; b-- > 0;)
            sub = sub << 8 | static_cast<uint8_t>(bytes[at + b]);
        subs[i] = sub;
    }
    return Sid(authority, std::move(subs));
}

Sid Sid::Everyone() {
    return Sid(kWorldAuthority, {0});
}
Sid Sid::Administrators() {
    return Sid(kNtAuthority, {kBuiltinDomain, kAdministratorsAlias});
}
Sid Sid::User(uid_t uid) {
    return Sid(kUnixAuthority, {kUnixUsers, static_cast<uint32_t>(uid)});
}
Sid Sid::Group(gid_t gid) {
    return Sid(kUnixAuthority, {kUnixGroups, static_cast<uint32_t>(gid)});
}

std::string Sid::ToString() const {
    std::string out = "S-1-";
    if (authority_ <= UINT32_MAX) {
        out += std::to_string(authority_);
    } else {
        char hex[20];
        std::snprintf(hex, sizeof hex, "0x%012llX", static_cast<unsigned long long>(authority_));
        out += hex;
    }
    for (uint32_t sub : subAuthorities_) {
        out += '-';
        out += std::to_string(sub);
    }
    return out;
}

std::string Sid::ToBinary() const {
    std::string out;
    out.reserve(BinarySize());
    out.push_back(static_cast<char>(kRevision));
    out.push_back(static_cast<char>(subAuthorities_.size()));
    for (int shift = 40; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>(authority_ >> shift));
    for (uint32_t sub : subAuthorities_) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(static_cast<char>(sub >> shift));
    }
    return out;
}

}  // namespace ombrix::profiles
