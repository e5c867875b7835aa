#include "profiles/secdescriptor.h"

#include <algorithm>
#include <cstdint>
#include <limits>

using ombrix::profiles::ArchiveReader;
using ombrix::profiles::ArchiveWriter;
using ombrix::profiles::Sid;

namespace {

constexpr uint8_t kDescriptorRevision = 1;
constexpr uint8_t kAclRevision = 2;
constexpr uint8_t kAclRevisionMax = 4;  // the revision of lists with object entries
constexpr uint16_t kSelfRelative = 0x8000;
constexpr uint16_t kDaclPresent = 0x0004;
constexpr uint16_t kSaclPresent = 0x0010;
constexpr size_t kHeaderSize = 20;
constexpr size_t kAclHeaderSize = 8;
constexpr size_t kAceHeaderSize = 4;
constexpr size_t kMemberAceFixedSize = 8;  // header and mask, before the SID
constexpr size_t kMinSidSize = 8;
constexpr uint8_t kAccessAllowedAce = 0;
constexpr uint8_t kAccessDeniedAce = 1;

uint16_t u16At(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<uint8_t>(bytes[at]) |
                                 static_cast<uint8_t>(bytes[at + 1]) << 8);
}

uint32_t u32At(std::string_view bytes, size_t at) {
    return static_cast<uint32_t>(u16At(bytes, at)) | static_cast<uint32_t>(u16At(bytes, at + 2))
                                                         << 16;
}

void putU16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value));
    out.push_back(static_cast<char>(value >> 8));
}

void putU32(std::string& out, uint32_t value) {
    putU16(out, static_cast<uint16_t>(value));
    putU16(out, static_cast<uint16_t>(value >> 16));
}

struct Parsed {
    std::optional<Sid> owner;
    std::optional<Sid> group;
    std::vector<CSecMember> members;
};

// The SID a header offset points to; offset 0 means none.
bool parseSidAt(std::string_view sd, uint32_t offset, std::optional<Sid>& out) {
    if (offset == 0) return true;
    if (offset < kHeaderSize || offset >= sd.size()) return false;
    out = Sid::FromBinary(sd.substr(offset));
    return out.has_value();
}

// Checks the list at `offset` and every entry in it; the SIDs of allowed and denied entries
// must be whole. Collects those entries into `members` when given.
bool parseAcl(std::string_view sd, uint32_t offset, std::vector<CSecMember>* members) {
    if (offset < kHeaderSize || offset > sd.size() || sd.size() - offset < kAclHeaderSize)
        return false;
    const uint8_t revision = static_cast<uint8_t>(sd[offset]);
    const size_t aclSize = u16At(sd, offset + 2);
    const size_t count = u16At(sd, offset + 4);
    if (revision < kAclRevision || revision > kAclRevisionMax || aclSize < kAclHeaderSize ||
        aclSize > sd.size() - offset)
        return false;
    const std::string_view acl = sd.substr(offset, aclSize);
    size_t at = kAclHeaderSize;
    for (size_t i = 0; i < count; ++i) {
        if (acl.size() - at < kAceHeaderSize) return false;
        const uint8_t type = static_cast<uint8_t>(acl[at]);
        const size_t aceSize = u16At(acl, at + 2);
        if (aceSize < kAceHeaderSize || aceSize > acl.size() - at) return false;
        if (type == kAccessAllowedAce || type == kAccessDeniedAce) {
            if (aceSize < kMemberAceFixedSize + kMinSidSize) return false;
            const std::string_view sidBytes =
                acl.substr(at + kMemberAceFixedSize, aceSize - kMemberAceFixedSize);
            std::optional<Sid> sid = Sid::FromBinary(sidBytes);
            if (!sid) return false;
            if (members != nullptr) members->push_back({std::move(*sid), type == kAccessDeniedAce});
        }
        at += aceSize;
    }
    return true;
}

// A descriptor that names no access list has no members.
bool parseDescriptor(std::string_view sd, Parsed* out) {
    if (sd.size() < kHeaderSize || static_cast<uint8_t>(sd[0]) != kDescriptorRevision) return false;
    const uint16_t control = u16At(sd, 2);
    if ((control & kSelfRelative) == 0) return false;
    Parsed scratch;
    Parsed& parsed = out != nullptr ? *out : scratch;
    const uint32_t sacl = u32At(sd, 12);
    const uint32_t dacl = u32At(sd, 16);
    if (!parseSidAt(sd, u32At(sd, 4), parsed.owner) || !parseSidAt(sd, u32At(sd, 8), parsed.group))
        return false;
    if ((control & kSaclPresent) != 0 && sacl != 0 && !parseAcl(sd, sacl, nullptr)) return false;
    if ((control & kDaclPresent) != 0 && dacl != 0 &&
        !parseAcl(sd, dacl, out != nullptr ? &parsed.members : nullptr))
        return false;
    return true;
}

// Header, access list (when `entries` is given), owner Administrators, group Everyone. Empty
// when the list would pass its 16-bit size.
std::string buildDescriptor(const std::vector<const CSecMember*>* entries) {
    std::string acl;
    if (entries != nullptr) {
        size_t aclSize = kAclHeaderSize;
        for (const CSecMember* member : *entries)
            aclSize += kMemberAceFixedSize + member->sid.BinarySize();
        if (aclSize > std::numeric_limits<uint16_t>::max()) return {};
        acl.push_back(static_cast<char>(kAclRevision));
        acl.push_back(0);
        putU16(acl, static_cast<uint16_t>(aclSize));
        putU16(acl, static_cast<uint16_t>(entries->size()));
        putU16(acl, 0);
        for (const CSecMember* member : *entries) {
            const std::string sid = member->sid.ToBinary();
            acl.push_back(
                static_cast<char>(member->excluded ? kAccessDeniedAce : kAccessAllowedAce));
            acl.push_back(0);  // no inheritance
            putU16(acl, static_cast<uint16_t>(kMemberAceFixedSize + sid.size()));
            putU32(acl, CSecDescriptor::kMemberMask);
            acl += sid;
        }
    }
    const std::string owner = Sid::Administrators().ToBinary();
    const std::string group = Sid::Everyone().ToBinary();
    const uint32_t daclOffset = acl.empty() ? 0 : kHeaderSize;
    const uint32_t ownerOffset = static_cast<uint32_t>(kHeaderSize + acl.size());
    const uint32_t groupOffset = static_cast<uint32_t>(ownerOffset + owner.size());

    std::string sd;
    sd.push_back(static_cast<char>(kDescriptorRevision));
    sd.push_back(0);
    putU16(sd, acl.empty() ? kSelfRelative : kSelfRelative | kDaclPresent);
    putU32(sd, ownerOffset);
    putU32(sd, groupOffset);
    putU32(sd, 0);  // no system list
    putU32(sd, daclOffset);
    sd += acl;
    sd += owner;
    sd += group;
    return sd;
}

}  // namespace

bool CSecDescriptor::SetBytes(std::string_view bytes) {
    if (!bytes.empty() && !parseDescriptor(bytes, nullptr)) return false;
    bytes_.assign(bytes);
    return true;
}

void CSecDescriptor::BuildEmpty() {
    bytes_ = buildDescriptor(nullptr);
}

void CSecDescriptor::BuildAdministratorsDefault() {
    BuildFromMembers({CSecMember{Sid::Administrators(), false}});
}

void CSecDescriptor::BuildUsersDefault() {
    BuildFromMembers({CSecMember{Sid::Everyone(), false}});
}

bool CSecDescriptor::BuildFromMembers(const std::vector<CSecMember>& members) {
    if (members.empty()) {
        BuildEmpty();
        return true;
    }
    std::vector<const CSecMember*> ordered;
    ordered.reserve(members.size());
    for (const CSecMember& member : members) {
        if (member.excluded) ordered.push_back(&member);
    }
    for (const CSecMember& member : members) {
        if (!member.excluded) ordered.push_back(&member);
    }
    std::string built = buildDescriptor(&ordered);
    if (built.empty()) return false;
    bytes_ = std::move(built);
    return true;
}

std::vector<CSecMember> CSecDescriptor::GetMembers() const {
    Parsed parsed;
    if (bytes_.empty() || !parseDescriptor(bytes_, &parsed)) return {};
    return std::move(parsed.members);
}

std::optional<Sid> CSecDescriptor::Owner() const {
    Parsed parsed;
    if (bytes_.empty() || !parseDescriptor(bytes_, &parsed)) return std::nullopt;
    return parsed.owner;
}

std::optional<Sid> CSecDescriptor::Group() const {
    Parsed parsed;
    if (bytes_.empty() || !parseDescriptor(bytes_, &parsed)) return std::nullopt;
    return parsed.group;
}

bool CSecDescriptor::Includes(const std::vector<Sid>& sids) const {
    bool included = false;
    for (const CSecMember& member : GetMembers()) {
        if (std::find(sids.begin(), sids.end(), member.sid) == sids.end()) continue;
        if (member.excluded) return false;
        included = true;
    }
    return included;
}

bool CSecDescriptor::Read(ArchiveReader& in) {
    uint32_t length = 0;
    std::string_view bytes;
    return in.ReadU32(length) && in.ReadBytes(length, bytes) && SetBytes(bytes);
}

bool CSecDescriptor::Write(ArchiveWriter& out) const {
    if (bytes_.size() > std::numeric_limits<uint32_t>::max()) return false;
    out.WriteU32(static_cast<uint32_t>(bytes_.size()));
    out.WriteBytes(bytes_);
    return true;
}
