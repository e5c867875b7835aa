// Remote administration round trips per second: type 13 (every logged-on session's drives)
// against the management service with 50 logged-on sessions whose helpers answer from a
// process of their own. Baselines in the same run: type 12 (one session call per record) and
// the 50 session pipe calls alone, made directly by the client.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include "common/names.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/blocking_socket.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "service/ip_data.h"
#include "support/free_port.h"
#include "support/program.h"
#include "support/temp_root.h"

namespace {

constexpr int kSessions = 50;
constexpr const char* kAddress = "127.0.0.2";
int g_port = 0;

std::string pipeName(int session) {
    return ombrix::names::sessionPipe(static_cast<uint32_t>(session));
}

// Serves the session pipes of sessions 1 to 50: each holds drive E (device 1).
[[noreturn]] void serveSessions() {
    std::vector<std::thread> threads;
    for (int session = 1; session <= kSessions; ++session) {
        threads.emplace_back([session] {
            int error = 0;
            auto server = ombrix::platform::NamedPipeServer::create(pipeName(session), 5, error);
            if (!server) _exit(1);
            for (;;) {
                auto connection = server->accept(-1, error);
                if (!connection) continue;
                CMountRequest record;
                size_t size = 0;
                if (connection->read(record.bytes(), sizeof record, size, 2000) != 0) continue;
                if (record.m_request == 16) record.setText("E|1|");
                if (record.m_request == 29) record.setText("DE");
                connection->write(record.bytes(), sizeof record);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    _exit(0);
}

struct Servers {
    ombrix::test::TempRoot root;
    std::unique_ptr<ombrix::test::Program> service;
    pid_t sessions = -1;

    Servers() {
        g_port = ombrix::test::freePort(kAddress);
        const char* key = "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";
        ombrix::registry::setString(key, "OmxServerPort", std::to_string(g_port));
        sessions = fork();
        if (sessions == 0) serveSessions();
        service = std::make_unique<ombrix::test::Program>(
            "Oxtserv", std::vector<std::string>{"-d"}, "/dev/null", nullptr,
            std::vector<std::pair<std::string, std::string>>{{"OMBRIX_IP", kAddress},
                                                             {"OMBRIX_HOST", "BENCH"}});
        for (int i = 0; i < 1000; ++i) {
            CMountRequest r;
            r.m_request = CMountRequest::kUnitCount;
            CMountRequest probe;
            probe.m_request = 16;
            if (CallPipe(ombrix::names::kServicePipe, r, 500, 1) &&
                CallPipe(pipeName(kSessions), probe, 500, 1)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        for (int session = 1; session <= kSessions; ++session) {
            CMountRequest logon;
            logon.m_request = CMountRequest::kLogOn;
            logon.m_sessionId = static_cast<uint32_t>(session);
            logon.setText("user" + std::to_string(session));
            if (!CallPipe(ombrix::names::kServicePipe, logon, 1500, 3)) {
                std::fprintf(stderr, "log-on failed\n");
                std::exit(1);
            }
        }
    }
    ~Servers() {
        service->stop(SIGINT);
        kill(sessions, SIGKILL);
        waitpid(sessions, nullptr, 0);
    }
};

bool roundTrip(uint32_t type, uint32_t data, CIPData& reply) {
    try {
        CBlockingSocket socket;
        socket.Create();
        socket.Connect(CBlockingSocket::GetHostByName(kAddress, g_port), 4000);
        WriteIPData(socket, CIPData(type, data), 4000);
        return ReadIPData(socket, reply, 4000) == IPHeaderCheck::kGood;
    } catch (const CBlockingSocketException&) {
        return false;
    }
}

void BM_Type13With50Sessions(benchmark::State& state) {
    for (auto _ : state) {
        CIPData reply;
        if (!roundTrip(13, 0, reply) || reply.Texts().size() != kSessions) {
            state.SkipWithError("type 13 failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Type12OneSession(benchmark::State& state) {
    for (auto _ : state) {
        CIPData reply;
        if (!roundTrip(12, 1, reply) || reply.Data() != 0) state.SkipWithError("type 12 failed");
    }
    state.SetItemsProcessed(state.iterations());
}

// What type 13 costs at least: the 50 session pipe calls, made directly.
void BM_FiftySessionCallsDirect(benchmark::State& state) {
    for (auto _ : state) {
        for (int session = 1; session <= kSessions; ++session) {
            CMountRequest record;
            record.m_request = 16;
            if (!CallPipe(pipeName(session), record, 250, 3)) state.SkipWithError("call failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_Type13With50Sessions)->UseRealTime()->Threads(1)->Threads(4);
BENCHMARK(BM_Type12OneSession)->UseRealTime()->Threads(1);
BENCHMARK(BM_FiftySessionCallsDirect)->UseRealTime()->Threads(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Servers running;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
