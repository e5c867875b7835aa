#include "profiles/profile_editing.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/host_name.h"
#include "platform/locked_file.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::profiles {
namespace {

constexpr const char* kBuiltin = "BUILTIN";

std::string lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

bool isLinuxAccount(const Sid& sid, uint32_t kind) {
    const auto& sub = sid.SubAuthorities();
    return sid.Authority() == 22 && sub.size() == 2 && sub[0] == kind;
}

// Writes all of `bytes` to `fd`; 0 or the errno.
int writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        done += static_cast<size_t>(n);
    }
    return 0;
}

}  // namespace

std::vector<Account> machineAccounts() {
    const std::string domain = platform::hostName();
    std::vector<Account> users, groups;
    // The enumeration is process-wide state of the C library; nobody else walks it here.
    ::setpwent();
    while (const passwd* pw = ::getpwent()) {
        users.push_back({Sid::User(pw->pw_uid), pw->pw_name, domain, true});
    }
    ::endpwent();
    ::setgrent();
    while (const group* gr = ::getgrent()) {
        groups.push_back({Sid::Group(gr->gr_gid), gr->gr_name, domain, false});
    }
    ::endgrent();
    auto byName = [](const Account& a, const Account& b) { return a.name < b.name; };
    std::sort(users.begin(), users.end(), byName);
    std::sort(groups.begin(), groups.end(), byName);
    // Name services may list an account twice (files and a directory): the first one stays.
    auto unique = [](std::vector<Account>& list) {
        std::vector<Account> out;
        for (auto& a : list) {
            if (std::none_of(out.begin(), out.end(),
                             [&](const Account& o) { return o.sid == a.sid; }))
                out.push_back(std::move(a));
        }
        list = std::move(out);
    };
    unique(users);
    unique(groups);
    users.insert(users.end(), groups.begin(), groups.end());
    users.push_back({Sid::Everyone(), "Everyone", kBuiltin, false});
    users.push_back({Sid::Administrators(), "Administrators", kBuiltin, false});
    return users;
}

Account accountOf(const Sid& sid) {
    const std::string domain = platform::hostName();
    if (sid == Sid::Everyone()) return {sid, "Everyone", kBuiltin, false};
    if (sid == Sid::Administrators()) return {sid, "Administrators", kBuiltin, false};
    std::vector<char> buffer(16384);
    if (isLinuxAccount(sid, 1)) {
        passwd pw{};
        passwd* found = nullptr;
        const uid_t uid = sid.SubAuthorities()[1];
        if (::getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
            return {sid, found->pw_name, domain, true};
        return {sid, sid.ToString(), domain, true};
    }
    if (isLinuxAccount(sid, 2)) {
        group gr{};
        group* found = nullptr;
        const gid_t gid = sid.SubAuthorities()[1];
        if (::getgrgid_r(gid, &gr, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
            return {sid, found->gr_name, domain, false};
        return {sid, sid.ToString(), domain, false};
    }
    return {sid, sid.ToString(), std::string(), false};
}

ProfileForm formOf(const CProfile& profile) {
    ProfileForm form;
    form.name = profile.name;
    form.rights = profile.rights;
    for (const auto& [letter, image] : profile.driveImages) {
        if (letter.size() != 1) continue;
        const char c = static_cast<char>(letter[0] & ~0x20);
        if (c < 'A' || c > 'Z') continue;
        form.drives[static_cast<size_t>(c - 'A')] = {true, image};
    }
    for (const CSecMember& member : profile.security.GetMembers())
        form.members.push_back({accountOf(member.sid), member.excluded});
    return form;
}

bool applyForm(const ProfileForm& form, CProfile& profile) {
    std::vector<CSecMember> members;
    for (const MemberRow& row : form.members)
        members.push_back({row.account.sid, row.excluded});
    CSecDescriptor security;
    if (members.empty()) {
        security.Clear();
    } else if (!security.BuildFromMembers(members)) {
        return false;
    }
    profile.name = form.name;
    profile.rights = form.rights;
    profile.driveImages.clear();
    for (size_t i = 0; i < form.drives.size(); ++i) {
        if (form.drives[i].checked)
            profile.driveImages[std::string(1, static_cast<char>('A' + i))] = form.drives[i].image;
    }
    profile.security = std::move(security);
    return true;
}

std::optional<std::string> nameProblem(std::string_view name, const CProfileList& list,
                                       std::optional<std::string_view> ownName) {
    if (name.empty()) return std::string("Please enter a name for the profile");
    if (ownName && name == *ownName) return std::nullopt;
    for (const CProfile& profile : list.Profiles()) {
        if (profile.name == name) {
            return "A profile named '" + std::string(name) +
                   "' already exists,\nplease enter a different name.";
        }
    }
    return std::nullopt;
}

size_t addMembers(std::vector<MemberRow>& members, const std::vector<Account>& picked) {
    size_t added = 0;
    for (const Account& account : picked) {
        const bool known = std::any_of(members.begin(), members.end(), [&](const MemberRow& m) {
            return m.account.sid == account.sid;
        });
        if (known) continue;
        members.push_back({account, false});
        ++added;
    }
    return added;
}

int findRow(const std::vector<std::vector<std::string>>& rows, std::string_view text, int from,
            bool down) {
    const std::string wanted = lower(text);
    const int count = static_cast<int>(rows.size());
    auto matches = [&](int row) {
        return std::any_of(
            rows[static_cast<size_t>(row)].begin(), rows[static_cast<size_t>(row)].end(),
            [&](const std::string& cell) { return lower(cell).find(wanted) != std::string::npos; });
    };
    if (down) {
        for (int row = std::max(from + 1, 0); row < count; ++row) {
            if (matches(row)) return row;
        }
    } else {
        for (int row = (from < 0 ? count : from) - 1; row >= 0; --row) {
            if (matches(row)) return row;
        }
    }
    return -1;
}

std::string notFoundText(std::string_view text) {
    return "'" + std::string(text) + "' konnte nicht gefunden werden!";
}

bool moveProfile(std::vector<CProfile>& profiles, size_t index, bool up) {
    if (index >= profiles.size()) return false;
    if (up && index == 0) return false;
    if (!up && index + 1 >= profiles.size()) return false;
    std::swap(profiles[index], profiles[up ? index - 1 : index + 1]);
    return true;
}

int saveProfileFile(const CProfileList& list, const std::string& path, int attempts) {
    std::string bytes;
    if (int err = list.Save(bytes)) return err;
    // The old file, held so no other editor writes meanwhile; created when missing.
    platform::LockedFile old;
    if (int err = old.openRetrying(path, platform::FileAccess::Write, attempts, false)) return err;
    struct stat info {};
    if (::fstat(old.fd(), &info) != 0) return win::fromErrno(errno, path.c_str());

    std::string temp = path + ".XXXXXX";
    platform::UniqueFd fd(::mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return win::fromErrno(errno, path.c_str());
    auto fail = [&](int code) {
        ::unlink(temp.c_str());
        return code;
    };
    if (int err = writeAll(fd.get(), bytes)) return fail(win::fromErrno(err, path.c_str()));
    if (::fchmod(fd.get(), info.st_mode & 07777) != 0)
        return fail(win::fromErrno(errno, path.c_str()));
    // Only root can give the file away; another owner keeps the file as the writer's.
    if (::geteuid() == 0 && ::fchown(fd.get(), info.st_uid, info.st_gid) != 0)
        return fail(win::fromErrno(errno, path.c_str()));
    if (::fsync(fd.get()) != 0) return fail(win::fromErrno(errno, path.c_str()));
    if (::rename(temp.c_str(), path.c_str()) != 0) return fail(win::fromErrno(errno, path.c_str()));
    // The rename itself reaches the disk with the folder.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    platform::UniqueFd dir(
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.valid()) ::fsync(dir.get());
    return 0;
}

}  // namespace ombrix::profiles
