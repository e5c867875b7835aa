#include "platform/root_layout.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/machine_root.h"
#include "platform/secure_files.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::platform {
namespace {

namespace fs = std::filesystem;

struct FolderRule {
    const char* relative;
    mode_t mode;
};

// Root's folders. The users' own settings files lie in one folder everybody may add to but
// nobody may list, and where only a file's owner can replace or remove it.
constexpr FolderRule kMachineFolders[] = {
    {"", 0755},         {"registry", 0755},   {"registry/HKU", 01733},
    {"env", 0755},      {"env/global", 0755}, {"env/session", 0755},
    {"pipe", 0755},     {"sync", 0755},       {"sync/Global", 0755},
    {"Sessions", 0755}, {"Device", 0755},     {"GLOBAL??", 0755},
    {"eventlog", 0755}, {"services", 0755},
};

struct SessionFolder {
    std::string relative;
    mode_t mode;
};

// A session's own folders; others may reach its pipe (the helper checks who calls) but not list
// or change anything.
std::vector<SessionFolder> sessionFolders(uint32_t session) {
    const std::string sid = std::to_string(session);
    return {
        {"Sessions/" + sid + "/DosDevices", 0755},
        {"Sessions/" + sid + "/windows", 0700},
        {"Sessions/" + sid + "/pipe", 0711},
        {"env/session/" + sid, 0700},
        {"sync/Session" + sid, 0700},
    };
}

fs::path under(const std::string& relative) {
    return relative.empty() ? machineRoot() : machineRoot() / relative;
}

// A file that must belong to `account`: anything else of that name (somebody else's file, a
// link) is removed and an empty file made in its place.
int ownFile(const fs::path& path, const Account& account, mode_t mode) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 &&
        (!S_ISREG(st.st_mode) || st.st_uid != account.uid || st.st_nlink != 1)) {
        if (::unlink(path.c_str()) != 0) return win::fromErrno(errno, path.c_str());
    }
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!fd.valid()) return win::fromErrno(errno, path.c_str());
    if (::fstat(fd.get(), &st) != 0) return win::fromErrno(errno);
    if (st.st_uid != account.uid && ::fchown(fd.get(), account.uid, account.gid) != 0) {
        return win::fromErrno(errno);
    }
    if ((st.st_mode & 07777) != mode && ::fchmod(fd.get(), mode) != 0) return win::fromErrno(errno);
    return 0;
}

}  // namespace

int prepareMachineRoot() {
    if (::geteuid() != 0) return 0;
    int first = 0;
    for (const FolderRule& rule : kMachineFolders) {
        int rc = ensureFolder(under(rule.relative), rule.mode, 0, 0);
        if (rc != 0 && first == 0) first = rc;
    }
    return first;
}

int createSessionObjects(uint32_t session, const std::optional<Account>& account) {
    const uid_t uid = account ? account->uid : 0;
    const gid_t gid = account ? account->gid : 0;
    int rc = ensureFolder(under("Sessions/" + std::to_string(session)), 0755, 0, 0);
    if (rc != 0) return rc;
    for (const SessionFolder& folder : sessionFolders(session)) {
        fs::path path = under(folder.relative);
        // What an earlier session of this id left behind is not the new session's.
        struct stat st {};
        if (::lstat(path.c_str(), &st) == 0 && (!S_ISDIR(st.st_mode) || st.st_uid != uid)) {
            removeTree(path);
        }
        rc = ensureFolder(path, folder.mode, uid, gid);
        if (rc != 0) return rc;
    }
    return account ? prepareUserHive(*account) : 0;
}

void removeSessionObjects(uint32_t session) {
    for (const SessionFolder& folder : sessionFolders(session))
        removeTree(under(folder.relative));
}

int prepareUserHive(const Account& account) {
    if (::geteuid() != 0) return 0;
    const fs::path folder = under("registry/HKU");
    if (int rc = ensureFolder(folder, 01733, 0, 0)) return rc;
    const std::string hive = "S-1-22-1-" + std::to_string(account.uid) + ".reg";
    if (int rc = ownFile(folder / hive, account, 0600)) return rc;
    return ownFile(folder / (hive + ".lock"), account, 0600);
}

}  // namespace ombrix::platform
