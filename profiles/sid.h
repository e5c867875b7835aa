#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix::profiles {

// An account id in the form security descriptors carry: an identifier authority (48 bits) and
// up to 15 sub-authorities. Linux accounts are S-1-22-1-<uid> (users) and S-1-22-2-<gid>
// (groups); Everyone is S-1-1-0, Administrators S-1-5-32-544.
//
// Binary form: revision 1, sub-authority count, the authority as 6 big-endian bytes, then each
// sub-authority as 32-bit little-endian.
class Sid {
  public:
    static constexpr size_t kMaxSubAuthorities = 15;
    static constexpr uint64_t kMaxAuthority = (uint64_t{1} << 48) - 1;

    // nullopt for an authority above 48 bits or more than 15 sub-authorities.
    static std::optional<Sid> Make(uint64_t authority, std::vector<uint32_t> subAuthorities);
    // "S-1-<authority>-<sub>-…"; the authority in decimal or as 0x and hexadecimal digits.
    static std::optional<Sid> Parse(std::string_view text);
    // A binary SID at the start of `bytes` (more may follow); nullopt when it is malformed or
    // does not fit.
    static std::optional<Sid> FromBinary(std::string_view bytes);

    static Sid Everyone();
    static Sid Administrators();
    static Sid User(uid_t uid);
    static Sid Group(gid_t gid);

    // Authorities from 2^32 on are written in hexadecimal, as the usual text form has it.
    std::string ToString() const;
    std::string ToBinary() const;
    size_t BinarySize() const { return 8 + 4 * subAuthorities_.size(); }

    uint64_t Authority() const { return authority_; }
    const std::vector<uint32_t>& SubAuthorities() const { return subAuthorities_; }

    friend bool operator==(const Sid&, const Sid&) = default;

  private:
    Sid(uint64_t authority, std::vector<uint32_t> subAuthorities)
        : authority_(authority), subAuthorities_(std::move(subAuthorities)) {}

    uint64_t authority_ = 0;
    std::vector<uint32_t> subAuthorities_;
};

}  // namespace ombrix::profiles
