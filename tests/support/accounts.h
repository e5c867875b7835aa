#pragma once

#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

// Ordinary accounts for the tests that run the user side as the users it is for: the services
// run as root, the sessions' programs as these accounts.
namespace ombrix::test {

struct TestAccount {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
};

// The account `name`, created on this machine when it does not exist yet (tests run as root).
// Fails the calling test when it cannot be had.
TestAccount testAccount(const std::string& name);

// Whether this process can create accounts and act as them; tests that need it skip otherwise.
bool canUseAccounts();

// Drops the calling process to `account` for good: its groups, group and user. For a child
// between fork and exec.
void becomeInChild(const TestAccount& account);

// Runs `work` in a child process as `account` and returns what it returned (-1 when the child
// did not get to return). The child's standard output is returned in `output` when given.
int runAs(const TestAccount& account, const std::function<int()>& work,
          std::string* output = nullptr);

// A folder below `parent` owned by `account`, to be its home in a test.
std::filesystem::path homeFor(const std::filesystem::path& parent, const TestAccount& account);

}  // namespace ombrix::test
