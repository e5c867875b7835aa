#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/archive.h"
#include "profiles/sid.h"

// One member of a profile: an account or group that the profile includes, or excludes.
struct CSecMember {
    ombrix::profiles::Sid sid;
    bool excluded = false;

    friend bool operator==(const CSecMember&, const CSecMember&) = default;
};

// Who belongs to a profile, kept as a security descriptor in self-relative form: a 20-byte
// header (revision 1, control, offsets of owner, group, system list and access list) followed by
// the parts it points to. Each access-allowed entry of the access list includes its SID, each
// access-denied entry excludes it; entries of other kinds are kept but mean nothing here.
//
// The descriptor's bytes are stored as read, so a file written elsewhere is written back
// unchanged. Bytes are only taken after a full bounds check of every offset and length in them.
class CSecDescriptor {
  public:
    // Access mask of every entry the builders write.
    static constexpr uint32_t kMemberMask = 0xFFFF;

    // No descriptor at all.
    void Clear() { bytes_.clear(); }
    bool HasDescriptor() const { return !bytes_.empty(); }
    const std::string& Bytes() const { return bytes_; }
    // False (and nothing changes) when `bytes` is not a well-formed descriptor; empty bytes
    // mean no descriptor.
    bool SetBytes(std::string_view bytes);

    // Owner Administrators, group Everyone; the builders differ in the access list only.
    void BuildEmpty();                  // no access list
    void BuildAdministratorsDefault();  // Administrators included
    void BuildUsersDefault();           // Everyone included
    // One entry per member: the excluded ones first, then the included ones, each in list
    // order. No members: BuildEmpty. False (and nothing changes) when the entries do not fit
    // the 64 KiB an access list can hold.
    bool BuildFromMembers(const std::vector<CSecMember>& members);

    // One member per allowed or denied entry, in access-list order; none without a descriptor.
    std::vector<CSecMember> GetMembers() const;
    std::optional<ombrix::profiles::Sid> Owner() const;
    std::optional<ombrix::profiles::Sid> Group() const;

    // True when a member entry includes one of `sids` and none excludes one.
    bool Includes(const std::vector<ombrix::profiles::Sid>& sids) const;

    // The record in the file: the 32-bit length, then the bytes. Reading fails on a length
    // beyond the data or on a malformed descriptor.
    bool Read(ombrix::profiles::ArchiveReader& in);
    bool Write(ombrix::profiles::ArchiveWriter& out) const;

  private:
    std::string bytes_;
};
