#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Linux accounts as the system's principals: who a name or a user id is, the groups an account
// belongs to, and acting with an account's file rights on one thread.
namespace ombrix::platform {

struct Account {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
};

std::optional<Account> accountByName(std::string_view name);
std::optional<Account> accountById(uid_t uid);
std::optional<gid_t> groupByName(std::string_view name);

// The account's primary group and the groups of the group database that list it.
std::vector<gid_t> accountGroups(const Account& account);

// The ids a file is opened with.
struct FileIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups;
};
// The identity of user `uid` with the groups of its account (its primary group `gid` when the
// account is unknown).
FileIdentity identityOf(uid_t uid, gid_t gid);

// Makes the whole process that account for good (user, group and groups). 0, or the errno.
int becomeAccount(const Account& account);

// While it lives, the calling thread opens files with the rights of `account` (its file-system
// user and group ids and supplementary groups), and gets the process's own back at the end.
// Only a process with the right to change identities (root) can act as another account; for
// anyone else acting as themselves is a no-op and acting as another account fails (`ok()`).
class ActingAs {
  public:
    explicit ActingAs(const FileIdentity& identity);
    ~ActingAs();
    ActingAs(const ActingAs&) = delete;
    ActingAs& operator=(const ActingAs&) = delete;

    bool ok() const { return ok_; }

  private:
    bool ok_ = false;
    bool switched_ = false;
    uid_t savedUid_ = 0;
    gid_t savedGid_ = 0;
    std::vector<gid_t> savedGroups_;
};

}  // namespace ombrix::platform
