#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "support/accounts.h"
#include "support/temp_root.h"

namespace ombrix::test {

// A program of the build running in the background with its standard output in `output`,
// optionally in a session (OMBRIX_SESSION), with extra environment values and as another
// account; killed at the end.
class Program {
  public:
    Program(const std::string& name, std::vector<std::string> args,
            const std::filesystem::path& output, const char* session = nullptr,
            std::vector<std::pair<std::string, std::string>> environment = {},
            const TestAccount* account = nullptr) {
        pid_ = fork();
        if (pid_ == 0) {
            if (std::freopen(output.c_str(), "w", stdout) == nullptr) _exit(126);
            if (account != nullptr) becomeInChild(*account);
            if (session != nullptr) setenv("OMBRIX_SESSION", session, 1);
            for (auto& [key, value] : environment)
                setenv(key.c_str(), value.c_str(), 1);
            std::string path = (systemDir() / name).string();
            std::vector<char*> argv{path.data()};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Program() { stop(SIGKILL); }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t pid() const { return pid_; }
    // Signals the program and waits for it: its exit code, or -1 when it did not exit normally.
    int stop(int signal = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal);
        return wait();
    }
    // Waits for the program to end by itself.
    int wait() {
        if (pid_ <= 0) return -1;
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    // Waits at most `limit` for the program to end by itself: its exit code, or -1 when it did
    // not exit normally or had to be killed.
    int wait(std::chrono::milliseconds limit) {
        if (pid_ <= 0) return -1;
        auto deadline = std::chrono::steady_clock::now() + limit;
        int status = 0;
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                stop(SIGKILL);
                return -1;
            }
            usleep(10 * 1000);
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
};

}  // namespace ombrix::test
