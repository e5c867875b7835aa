#include "platform/account.h"

#include <grp.h>
#include <pwd.h>
#include <sys/fsuid.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace ombrix::platform {
namespace {

size_t lookupBufferSize() {
    const long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    return size > 0 ? static_cast<size_t>(size) : 16384;
}

template <typename Lookup>
std::optional<Account> findAccount(Lookup lookup) {
    std::vector<char> buffer(lookupBufferSize());
    for (int tries = 0; tries < 8; ++tries) {
        passwd entry{};
        passwd* found = nullptr;
        const int err = lookup(&entry, buffer, &found);
        if (err == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (err != 0 || found == nullptr) return std::nullopt;
        return Account{found->pw_uid, found->pw_gid, found->pw_name,
                       found->pw_dir != nullptr ? found->pw_dir : ""};
    }
    return std::nullopt;
}

// The supplementary groups of the calling thread, read from the kernel directly: the C
// library's calls speak for the whole process.
std::vector<gid_t> threadGroups() {
    long count = ::syscall(SYS_getgroups, 0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
    if (count > 0) {
        count = ::syscall(SYS_getgroups, groups.size(), groups.data());
        groups.resize(count > 0 ? static_cast<size_t>(count) : 0);
    }
    return groups;
}

bool setThreadGroups(const std::vector<gid_t>& groups) {
    return ::syscall(SYS_setgroups, groups.size(), groups.data()) == 0;
}

}  // namespace

std::optional<Account> accountByName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string key(name);
    return findAccount([&](passwd* entry, std::vector<char>& buffer, passwd** found) {
        return ::getpwnam_r(key.c_str(), entry, buffer.data(), buffer.size(), found);
    });
}

std::optional<Account> accountById(uid_t uid) {
    return findAccount([&](passwd* entry, std::vector<char>& buffer, passwd** found) {
        return ::getpwuid_r(uid, entry, buffer.data(), buffer.size(), found);
    });
}

std::optional<gid_t> groupByName(std::string_view name) {
    if (name.empty() || name.find('\0') != std::string_view::npos) return std::nullopt;
    const std::string key(name);
    std::vector<char> buffer(lookupBufferSize());
    for (int tries = 0; tries < 8; ++tries) {
        group entry{};
        group* found = nullptr;
        const int err = ::getgrnam_r(key.c_str(), &entry, buffer.data(), buffer.size(), &found);
        if (err == ERANGE) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (err == 0 && found != nullptr) return found->gr_gid;
        break;
    }
    return std::nullopt;
}

std::vector<gid_t> accountGroups(const Account& account) {
    int count = 64;
    std::vector<gid_t> list;
    for (int tries = 0; tries < 8; ++tries) {
        list.resize(static_cast<size_t>(count));
        const int previous = count;
        if (::getgrouplist(account.name.c_str(), account.gid, list.data(), &count) >= 0) {
            list.resize(static_cast<size_t>(count));
            std::sort(list.begin(), list.end());
            list.erase(std::unique(list.begin(), list.end()), list.end());
            return list;
        }
        if (count <= previous) count = previous * 2;
    }
    return {account.gid};
}

FileIdentity identityOf(uid_t uid, gid_t gid) {
    FileIdentity identity{uid, gid, {gid}};
    if (std::optional<Account> account = accountById(uid)) {
        identity.groups = accountGroups(*account);
        if (std::find(identity.groups.begin(), identity.groups.end(), gid) == identity.groups.end())
            identity.groups.push_back(gid);
    }
    return identity;
}

int becomeAccount(const Account& account) {
    std::vector<gid_t> groups = accountGroups(account);
    if (::setgroups(groups.size(), groups.data()) != 0) return errno;
    if (::setresgid(account.gid, account.gid, account.gid) != 0) return errno;
    if (::setresuid(account.uid, account.uid, account.uid) != 0) return errno;
    return 0;
}

ActingAs::ActingAs(const FileIdentity& identity) {
    const uid_t uid = identity.uid;
    const gid_t gid = identity.gid;
    if (::geteuid() != 0) {
        // Without the right to change identities a process can only be itself.
        ok_ = uid == ::geteuid();
        return;
    }
    if (uid == 0) {
        ok_ = true;
        return;
    }
    savedUid_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1)));
    savedGid_ = static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1)));
    savedGroups_ = threadGroups();
    switched_ = true;
    // The supplementary groups count for opening files as much as the ids do.
    if (!setThreadGroups(identity.groups)) return;
    ::setfsgid(gid);
    ::setfsuid(uid);
    ok_ = static_cast<uid_t>(::setfsuid(static_cast<uid_t>(-1))) == uid &&
          static_cast<gid_t>(::setfsgid(static_cast<gid_t>(-1))) == gid;
}

ActingAs::~ActingAs() {
    if (!switched_) return;
    ::setfsuid(savedUid_);
    ::setfsgid(savedGid_);
    setThreadGroups(savedGroups_);
}

}  // namespace ombrix::platform
