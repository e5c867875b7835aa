#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_pipe.h"
#include "service/mountrequest.h"
#include "support/temp_root.h"

// Programs of the build and stand-in pipe servers for cross-process tests.
namespace ombrix::test {

// A program of the build in the background; killed at the end.
class Program {
  public:
    Program(const std::string& name, std::vector<std::string> args,
            const std::filesystem::path& output, const char* session = nullptr) {
        pid_ = fork();
        if (pid_ == 0) {
            if (std::freopen(output.c_str(), "w", stdout) == nullptr) _exit(126);
            if (session != nullptr) setenv("OMBRIX_SESSION", session, 1);
            std::string path = (ombrix::test::systemDir() / name).string();
            std::vector<char*> argv{path.data()};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(path.c_str(), argv.data());
            _exit(127);
        }
    }
    ~Program() { stop(SIGKILL); }
    int stop(int signal = SIGTERM) {
        if (pid_ <= 0) return -1;
        kill(pid_, signal);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

  private:
    pid_t pid_ = -1;
};

// A pipe server in a thread that answers every record unchanged (the network access service's
// password check, or a session's helper) and keeps what it received.
class EchoPipe {
  public:
    explicit EchoPipe(const std::string& name) {
        int error = 0;
        server_ = ombrix::platform::NamedPipeServer::create(name, 5, error);
        thread_ = std::thread([this] {
            while (!stop_) {
                int error = 0;
                auto connection = server_ ? server_->accept(100, error) : nullptr;
                if (!connection) continue;
                CMountRequest r;
                size_t size = 0;
                if (connection->read(r.bytes(), sizeof r, size, 1000) != 0) continue;
                {
                    std::lock_guard guard(lock_);
                    received_.push_back(r);
                }
                connection->write(r.bytes(), sizeof r);
            }
        });
    }
    ~EchoPipe() {
        stop_ = true;
        thread_.join();
    }
    std::vector<CMountRequest> received() {
        std::lock_guard guard(lock_);
        return received_;
    }

  private:
    std::unique_ptr<ombrix::platform::NamedPipeServer> server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<CMountRequest> received_;
};

}  // namespace ombrix::test
