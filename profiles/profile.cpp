#include "profiles/profile.h"

#include <unistd.h>

#include <limits>

#include "platform/win_error.h"

using ombrix::platform::FileAccess;
using ombrix::platform::LockedFile;
using ombrix::profiles::ArchiveReader;
using ombrix::profiles::ArchiveWriter;
using ombrix::profiles::Sid;

namespace {

constexpr int kFormatError = -1;
constexpr uint16_t kLongCount = 0xFFFF;

}  // namespace

bool CProfile::Read(ArchiveReader& in) {
    driveImages.clear();
    if (!in.ReadText(name) || !in.ReadU32(rights)) return false;
    uint16_t shortCount = 0;
    if (!in.ReadU16(shortCount)) return false;
    uint32_t count = shortCount;
    if (shortCount == kLongCount && !in.ReadU32(count)) return false;
    // Each pair takes at least two bytes, so a count beyond the data fails on the way.
    for (uint32_t i = 0; i < count; ++i) {
        std::string drive;
        std::string path;
        if (!in.ReadText(drive) || !in.ReadText(path)) return false;
        driveImages.insert_or_assign(std::move(drive), std::move(path));
    }
    return security.Read(in);
}

bool CProfile::Write(ArchiveWriter& out) const {
    if (!out.WriteText(name)) return false;
    out.WriteU32(rights);
    if (driveImages.size() > std::numeric_limits<uint32_t>::max()) return false;
    if (driveImages.size() < kLongCount) {
        out.WriteU16(static_cast<uint16_t>(driveImages.size()));
    } else {
        out.WriteU16(kLongCount);
        out.WriteU32(static_cast<uint32_t>(driveImages.size()));
    }
    for (const auto& [drive, path] : driveImages) {
        if (!out.WriteText(drive) || !out.WriteText(path)) return false;
    }
    return security.Write(out);
}

const CProfile* CProfileList::Find(std::string_view name) const {
    for (const CProfile& profile : profiles_) {
        if (profile.name == name) return &profile;
    }
    return nullptr;
}

void CProfileList::SetDefaults() {
    profiles_.clear();
    CProfile admins;
    admins.name = kAdministratorsProfile;
    admins.rights = CProfile::kAdministrator | CProfile::kInsertEject | CProfile::kEditDrives;
    admins.security.BuildAdministratorsDefault();
    profiles_.push_back(std::move(admins));

    CProfile users;
    users.name = kUsersProfile;
    users.rights = CProfile::kCentralAdminClient | CProfile::kInsertEject;
    users.security.BuildUsersDefault();
    profiles_.push_back(std::move(users));
}

int CProfileList::Load(std::string_view bytes) {
    profiles_.clear();
    ArchiveReader in(bytes);
    std::string header;
    if (!in.ReadText(header) || header != kHeader) return kFormatError;
    uint32_t count = 0;
    if (!in.ReadU32(count)) return kFormatError;
    std::vector<CProfile> loaded;
    for (uint32_t i = 0; i < count; ++i) {
        CProfile profile;
        if (!profile.Read(in)) return kFormatError;
        loaded.push_back(std::move(profile));
    }
    profiles_ = std::move(loaded);
    return 0;
}

int CProfileList::Save(std::string& out) const {
    out.clear();
    ArchiveWriter writer(out);
    if (profiles_.size() > std::numeric_limits<uint32_t>::max()) return kFormatError;
    writer.WriteText(kHeader);
    writer.WriteU32(static_cast<uint32_t>(profiles_.size()));
    for (const CProfile& profile : profiles_) {
        if (!profile.Write(writer)) return kFormatError;
    }
    return 0;
}

int CProfileList::Load(const LockedFile& file) {
    profiles_.clear();
    std::string bytes;
    if (int err = file.readAll(bytes)) return err;
    return Load(bytes);
}

int CProfileList::Save(const LockedFile& file) const {
    std::string bytes;
    if (int err = Save(bytes)) return err;
    if (int err = file.writeAt(bytes.data(), bytes.size(), 0)) return err;
    return file.truncate(static_cast<off_t>(bytes.size()));
}

int CProfileList::LoadFile(const std::string& path) {
    profiles_.clear();
    LockedFile file;
    if (int err = file.openRetrying(path, FileAccess::Read, LockedFile::kAttempts, false))
        return err;
    return Load(file);
}

int CProfileList::SaveFile(const std::string& path) const {
    LockedFile file;
    if (int err = file.openRetrying(path, FileAccess::Write, LockedFile::kAttempts, false))
        return err;
    return Save(file);
}

uint32_t CProfileList::RightsFor(const std::vector<Sid>& sids) const {
    uint32_t rights = 0;
    for (const CProfile& profile : profiles_) {
        if (profile.security.Includes(sids)) rights |= profile.rights;
    }
    return rights;
}

int CreateDefaultProfileFile(const std::string& path, const std::string& administrators,
                             const std::string& users) {
    LockedFile file;
    if (int err = file.openRetrying(path, FileAccess::Write, LockedFile::kAttempts, false))
        return err;
    off_t size = 0;
    if (int err = file.size(size)) return err;
    if (size > 0) return 0;
    CProfileList defaults;
    defaults.SetDefaults();
    auto& profiles = defaults.Profiles();
    if (profiles.size() == 2) {
        if (!administrators.empty()) profiles[0].name = administrators;
        if (!users.empty()) profiles[1].name = users;
    }
    return defaults.Save(file);
}
