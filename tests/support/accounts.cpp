#include "support/accounts.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace ombrix::test {
namespace {

bool lookUp(const std::string& name, TestAccount& out) {
    passwd entry{};
    passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwnam_r(name.c_str(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr) {
        return false;
    }
    out = TestAccount{found->pw_uid, found->pw_gid, found->pw_name};
    return true;
}

}  // namespace

bool canUseAccounts() {
    return ::geteuid() == 0;
}

TestAccount testAccount(const std::string& name) {
    TestAccount account;
    if (lookUp(name, account)) return account;
    // Tests run in parallel: another one may hold the account database for a moment.
    const std::string command =
        "useradd --system --no-create-home --home-dir /nonexistent "
        "--shell /usr/sbin/nologin --user-group " +
        name + " >/dev/null 2>&1";
    for (int attempt = 0; attempt < 50 && !lookUp(name, account); ++attempt) {
        if (std::system(command.c_str()) != 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }
    EXPECT_TRUE(lookUp(name, account)) << "cannot create the account " << name;
    return account;
}

void becomeInChild(const TestAccount& account) {
    int count = 64;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    if (::getgrouplist(account.name.c_str(), account.gid, groups.data(), &count) < 0) count = 0;
    if (::setgroups(static_cast<size_t>(count), groups.data()) != 0 ||
        ::setresgid(account.gid, account.gid, account.gid) != 0 ||
        ::setresuid(account.uid, account.uid, account.uid) != 0) {
        _exit(126);
    }
}

int runAs(const TestAccount& account, const std::function<int()>& work, std::string* output) {
    int out[2], result[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return -1;
    if (::pipe2(result, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return -1;
    }
    pid_t child = ::fork();
    if (child == 0) {
        ::close(out[0]);
        ::close(result[0]);
        ::dup2(out[1], STDOUT_FILENO);
        becomeInChild(account);
        std::fflush(stdout);
        int rc = work();
        std::fflush(stdout);
        // The whole result, not the exit status's eight bits.
        (void)!::write(result[1], &rc, sizeof rc);
        _exit(0);
    }
    ::close(out[1]);
    ::close(result[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    int rc = -1;
    if (::read(result[0], &rc, sizeof rc) != static_cast<ssize_t>(sizeof rc)) rc = -1;
    ::close(result[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (output != nullptr) *output = text;
    return rc;
}

std::filesystem::path homeFor(const std::filesystem::path& parent, const TestAccount& account) {
    std::filesystem::path home = parent / ("home-" + account.name);
    std::filesystem::create_directories(home);
    if (::chown(home.c_str(), account.uid, account.gid) != 0) ADD_FAILURE() << "chown " << home;
    return home;
}

}  // namespace ombrix::test
