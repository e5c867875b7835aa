// OMXTSHasRight: a user holds a right when a profile that includes them, and does not exclude
// them, carries the right's bit. The bits of several profiles add up.
#include "rights.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>

#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/export.h"
#include "profiles/profile.h"

namespace ombrix::help {

namespace {

using profiles::Sid;

size_t lookupBufferSize() {
    const long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    return size > 0 ? static_cast<size_t>(size) : 16384;
}

std::optional<gid_t> groupByName(const std::string& name) {
    std::vector<char> buffer(lookupBufferSize());
    for (int tries = 0; tries < 8; ++tries) {
        group entry{};
        group* found = nullptr;
        const int err = ::getgrnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (err == 0 && found != nullptr) return found->gr_gid;
        break;
    }
    return std::nullopt;
}

// Supplementary groups of `uid`'s entry in the database (they may be newer than the
// process's own list).
void appendDatabaseGroups(uid_t uid, std::vector<gid_t>& groups) {
    std::vector<char> buffer(lookupBufferSize());
    passwd entry{};
    passwd* found = nullptr;
    for (int tries = 0; tries < 8; ++tries) {
        const int err = ::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (err != ERANGE) break;
        buffer.resize(buffer.size() * 2);
    }
    if (found == nullptr) return;
    int count = 64;
    std::vector<gid_t> list;
    for (int tries = 0; tries < 8; ++tries) {
        list.resize(static_cast<size_t>(count));
        const int previous = count;
        if (::getgrouplist(found->pw_name, found->pw_gid, list.data(), &count) >= 0) {
            list.resize(static_cast<size_t>(count));
            groups.insert(groups.end(), list.begin(), list.end());
            return;
        }
        if (count <= previous) count = previous * 2;
    }
}

}  // namespace

uint32_t profileBitOfRight(int right) {
    switch (right) {
        case 2: return CProfile::kInsertEject;
        case 4: return CProfile::kEditDrives;
        case 8: return CProfile::kAdministrator;
        case 16: return CProfile::kCentralAdminClient;
        default: return 0;
    }
}

std::vector<Sid> accountSids(uid_t uid, const std::vector<gid_t>& groups,
                             std::optional<gid_t> adminGroup) {
    std::vector<Sid> sids{Sid::User(uid), Sid::Everyone()};
    bool admin = uid == 0;
    for (gid_t gid : groups) {
        Sid sid = Sid::Group(gid);
        if (std::find(sids.begin(), sids.end(), sid) == sids.end()) sids.push_back(std::move(sid));
        if (adminGroup && gid == *adminGroup) admin = true;
    }
    if (admin) sids.push_back(Sid::Administrators());
    return sids;
}

uint32_t rightsFromProfiles(std::string_view bytes, const std::vector<Sid>& sids) {
    CProfileList list;
    if (list.Load(bytes) != 0) return 0;
    return list.RightsFor(sids);
}

bool hasRight(int right, std::string_view profileBytes, uid_t uid, const std::vector<gid_t>& groups,
              std::optional<gid_t> adminGroup) {
    const uint32_t bit = profileBitOfRight(right);
    if (bit == 0) return false;
    return (rightsFromProfiles(profileBytes, accountSids(uid, groups, adminGroup)) & bit) != 0;
}

std::vector<gid_t> callerGroups(uid_t uid) {
    std::vector<gid_t> groups{::getgid(), ::getegid()};
    const int count = ::getgroups(0, nullptr);
    if (count > 0) {
        std::vector<gid_t> own(static_cast<size_t>(count));
        const int got = ::getgroups(count, own.data());
        if (got > 0) groups.insert(groups.end(), own.begin(), own.begin() + got);
    }
    appendDatabaseGroups(uid, groups);
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    return groups;
}

std::optional<gid_t> adminGroupId() {
    char value[256] = {};
    if (EnvGetGlobalValue(kAdminGroupKey, value, sizeof value) != 0 && value[0] != '\0') {
        const std::string name(value);
        if (std::optional<gid_t> gid = groupByName(name)) return gid;
        unsigned long number = 0;
        const char* end = name.data() + name.size();
        auto [ptr, ec] = std::from_chars(name.data(), end, number);
        if (ec == std::errc() && ptr == end && number <= static_cast<gid_t>(-1))
            return static_cast<gid_t>(number);
        return std::nullopt;
    }
    if (std::optional<gid_t> gid = groupByName("sudo")) return gid;
    return groupByName("wheel");
}

std::string publishedProfiles() {
    std::string bytes;
    // The data may be replaced between asking for the length and copying; ask again then.
    for (int tries = 0; tries < 4; ++tries) {
        const int length = EnvGetSecurity(nullptr, 0);
        if (length <= 0) return {};
        bytes.resize(static_cast<size_t>(length));
        const int again = EnvGetSecurity(bytes.data(), length);
        if (again == length) return bytes;
    }
    return {};
}

}  // namespace ombrix::help

OMX_EXPORT int OMXTSHasRight(int right) {
    try {
        const uid_t uid = ::getuid();
        return ombrix::help::hasRight(right, ombrix::help::publishedProfiles(), uid,
                                      ombrix::help::callerGroups(uid), ombrix::help::adminGroupId())
                   ? 1
                   : 0;
    } catch (...) {
        return 0;  // out of memory: no rights rather than an exception through the C call
    }
}
