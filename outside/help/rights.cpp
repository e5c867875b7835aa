// A user holds a right when a profile that includes them, and does not exclude them, carries the
// right's bit. The bits of several profiles add up.
#include "rights.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>

#include "oxtenv.h"
#include "platform/account.h"
#include "platform/registry.h"
#include "profiles/profile.h"

namespace ombrix::help {

namespace {

using profiles::Sid;

// Supplementary groups of `uid`'s entry in the database (they may be newer than the
// process's own list).
void appendDatabaseGroups(uid_t uid, std::vector<gid_t>& groups) {
    std::optional<platform::Account> account = platform::accountById(uid);
    if (!account) return;
    std::vector<gid_t> listed = platform::accountGroups(*account);
    groups.insert(groups.end(), listed.begin(), listed.end());
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
    // Administrators administer whatever the profiles say.
    if (right == 8 && (uid == 0 || (adminGroup && std::find(groups.begin(), groups.end(),
                                                            *adminGroup) != groups.end()))) {
        return true;
    }
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
    // Only root's registry names the administrators: no store or file another account can
    // change has a say in it.
    std::string name;
    if (registry::getString(kSettingsKey, kAdminGroupKey, name) == 0 && !name.empty()) {
        if (std::optional<gid_t> gid = platform::groupByName(name)) return gid;
        unsigned long number = 0;
        const char* end = name.data() + name.size();
        auto [ptr, ec] = std::from_chars(name.data(), end, number);
        if (ec == std::errc() && ptr == end && number <= static_cast<gid_t>(-1))
            return static_cast<gid_t>(number);
        return std::nullopt;
    }
    if (std::optional<gid_t> gid = platform::groupByName("sudo")) return gid;
    return platform::groupByName("wheel");
}

std::vector<gid_t> accountGroupsOf(uid_t uid) {
    std::vector<gid_t> groups;
    appendDatabaseGroups(uid, groups);
    if (std::optional<platform::Account> account = platform::accountById(uid)) {
        groups.push_back(account->gid);
    }
    std::sort(groups.begin(), groups.end());
    groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
    return groups;
}

bool accountHasRight(int right, uid_t uid) {
    return hasRight(right, publishedProfiles(), uid, accountGroupsOf(uid), adminGroupId());
}

bool isAdministrator(uid_t uid) {
    if (uid == 0) return true;
    std::optional<gid_t> admins = adminGroupId();
    if (!admins) return false;
    std::vector<gid_t> groups = accountGroupsOf(uid);
    return std::find(groups.begin(), groups.end(), *admins) != groups.end();
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
