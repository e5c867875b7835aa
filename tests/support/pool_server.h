#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "common/names.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/blocking_socket.h"
#include "platform/network_config.h"
#include "platform/registry.h"
#include "service/ip_data.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/free_port.h"
#include "support/global_value.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

extern char** environ;

namespace ombrix::test {

inline constexpr const char* kGlobalSettings =
    "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";

// Runs `body` with OMBRIX_ROOT pointing at `root`, so that the stores, pipes and sessions of
// that machine root are the ones used; the previous root is restored afterwards.
template <typename F>
auto inRoot(const std::filesystem::path& root, F body) {
    std::string previous = std::getenv("OMBRIX_ROOT") ? std::getenv("OMBRIX_ROOT") : "";
    ::setenv("OMBRIX_ROOT", root.c_str(), 1);
    struct Restore {
        std::string previous;
        ~Restore() { ::setenv("OMBRIX_ROOT", previous.c_str(), 1); }
    } restore{previous};
    return body();
}

// One server of a pool on this host: a machine root of its own, a host name and a loopback
// address (OMBRIX_HOST, OMBRIX_IP), a free TCP port, and the programs of the build that run
// for it in the background. They are stopped in the reverse order of their start.
class PoolServer {
  public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // The root's network configuration: mailslots on `mailslotPort`, one domain "POOL" of
    // `domainHosts`; with `withHosts` the host names SRVA, SRVB and SRVC resolve to 127.0.0.1
    // to 127.0.0.3.
    PoolServer(std::string serverName, std::string address, int mailslotPort,
               const std::string& domainHosts, bool withHosts = true)
        : root(holder_.path()), name(std::move(serverName)), ip(std::move(address)) {
        namespace net = ombrix::platform::network;
        port = freePort(ip.c_str(), SOCK_STREAM);
        inRoot(root, [&] {
            namespace reg = ombrix::registry;
            reg::setString(kGlobalSettings, "OmxServerPort", std::to_string(port));
            reg::setString(kGlobalSettings, "OXTLogLevel", "0");
            reg::setString(kGlobalSettings, "OMXHomePath", (root / "home").string() + "/");
            reg::setString(net::kNetworkKey, "MailslotPort", std::to_string(mailslotPort));
            reg::setString(net::kDomainsKey, "POOL", domainHosts);
            if (withHosts) {
                reg::setString(net::kHostsKey, "SRVA", "127.0.0.1");
                reg::setString(net::kHostsKey, "SRVB", "127.0.0.2");
                reg::setString(net::kHostsKey, "SRVC", "127.0.0.3");
            }
            return 0;
        });
        std::filesystem::create_directories(root / "home");
    }
    ~PoolServer() {
        for (auto it = running_.rbegin(); it != running_.rend(); ++it) {
            kill(it->pid, it->stopSignal);
            bool ended = waitFor([&] { return waitpid(it->pid, nullptr, WNOHANG) == it->pid; },
                                 std::chrono::seconds(15));
            if (!ended) {
                kill(it->pid, SIGKILL);
                waitpid(it->pid, nullptr, 0);
            }
            EXPECT_TRUE(ended) << name << ": " << it->program << " did not stop";
        }
    }
    PoolServer(const PoolServer&) = delete;
    PoolServer& operator=(const PoolServer&) = delete;

    // A value of the settings key that the management service publishes at start.
    void SetSetting(const std::string& key, const std::string& value) {
        inRoot(root, [&] { return ombrix::registry::setString(kGlobalSettings, key, value); });
    }

    // Starts `program` of the build for this server, standard output in the root's
    // "<output>.txt"; `stopSignal` ends it at the end of the test.
    pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
                const std::string& output, int stopSignal = SIGINT, const Environment& extra = {},
                const TestAccount* account = nullptr) {
        // Everything the child needs is made before the fork: it only redirects and executes.
        Environment values{
            {"OMBRIX_ROOT", root.string()}, {"OMBRIX_HOST", name}, {"OMBRIX_IP", ip}};
        values.insert(values.end(), extra.begin(), extra.end());
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            std::string text = *entry;
            bool replaced = false;
            for (const auto& [key, value] : values)
                replaced |= text.compare(0, key.size() + 1, key + "=") == 0;
            if (!replaced) environment.push_back(text);
        }
        for (const auto& [key, value] : values)
            environment.push_back(key + "=" + value);
        std::string path = (systemDir() / program).string();
        std::vector<std::string> words{path};
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv, envp;
        for (auto& w : words)
            argv.push_back(w.data());
        argv.push_back(nullptr);
        for (auto& e : environment)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        std::string out = (root / (output + ".txt")).string();

        pid_t pid = fork();
        if (pid == 0) {
            int fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0) ::dup2(fd, STDOUT_FILENO);
            if (account != nullptr) becomeInChild(*account);
            execve(path.c_str(), argv.data(), envp.data());
            _exit(127);
        }
        if (pid > 0) running_.push_back({program, pid, stopSignal});
        return pid;
    }

    // The driver stand-in with two units on SCSI port 3; true once it has registered its port.
    bool StartDriver() {
        Spawn("oxtmpdrv", {"--port", "3", "--units", "2", "--no-fuse"}, "oxtmpdrv", SIGTERM);
        return waitFor([&] { return inRoot(root, [] { return CMiniport::FindPort() == 3; }); });
    }
    // The management service; waits until its pipe answers.
    void Start() {
        Spawn("Oxtserv", {"-d"}, "console");
        EXPECT_TRUE(waitFor([&] { return Call(7).m_request == 7; })) << name;
    }
    // The network access service; true once its pipe answers.
    bool StartNetService() {
        Spawn("OXTNet", {"-d"}, "oxtnet");
        return waitFor([&] {
            CMountRequest r;
            return inRoot(root, [&] { return CallPipe(ombrix::names::kNetPipe, r, 500, 1); });
        });
    }

    CMountRequest Call(int32_t code, uint32_t data = 0, const char* text = "",
                       uint32_t session = 0xFFFFFFFFu) {
        CMountRequest r;
        r.m_request = code;
        r.m_dwData = data;
        r.m_sessionId = session;
        r.setText(text);
        if (!inRoot(root, [&] { return CallPipe(ombrix::names::kServicePipe, r, 1500, 1); })) {
            r.m_request = -1000;
        }
        return r;
    }
    std::string Global(const char* key) {
        return inRoot(root, [&] { return globalValue(key); });
    }
    void SetGlobal(const char* key, const std::string& value) {
        inRoot(root, [&] { return EnvSetGlobalValue(key, value.c_str()); });
    }
    // The log that both services of this server write.
    std::string Log() { return readFile(root / "home" / "OXTLog.log"); }
    int Logged(const std::string& text) {
        std::string log = Log();
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    // One administration record over TCP; false when the connection closed without a reply.
    bool Send(const CIPData& record, CIPData& reply, int toPort = 0) {
        CBlockingSocket socket;
        socket.Create();
        socket.Connect(CBlockingSocket::GetHostByName(ip, toPort ? toPort : port), 2000);
        WriteIPData(socket, record, 2000);
        try {
            return ReadIPData(socket, reply, 5000) == IPHeaderCheck::kGood;
        } catch (const CBlockingSocketException&) {
            return false;
        }
    }

  private:
    TempRoot holder_;  // removes the folder at the end

  public:
    std::filesystem::path root;
    std::string name, ip;
    int port = 0;

  private:
    struct Running {
        std::string program;
        pid_t pid;
        int stopSignal;
    };
    std::vector<Running> running_;
};

}  // namespace ombrix::test
