// Requests per second on the service pipe: the management service answering log-on, log-off
// and list requests, against a bare SOCK_SEQPACKET echo server of the same pipe stand-in in
// its own process, with the same one-connection-per-request client.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/names.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/named_mutex.h"
#include "platform/named_pipe.h"
#include "support/program.h"
#include "support/temp_root.h"

namespace {

constexpr const char* kEchoPipe = "Bench_Echo";

// The machine root, the service (`Oxtserv -d`) and the echo server, for the whole run.
struct Servers {
    ombrix::test::TempRoot root;
    std::unique_ptr<ombrix::test::Program> service;
    pid_t echo = -1;

    Servers() {
        echo = fork();
        if (echo == 0) {
            int error = 0;
            auto server = ombrix::platform::NamedPipeServer::create(kEchoPipe, 5, error);
            if (!server) _exit(1);
            for (;;) {
                auto connection = server->accept(-1, error);
                if (!connection) continue;
                CMountRequest record;
                size_t size = 0;
                if (connection->read(record.bytes(), sizeof record, size, 2000) != 0 ||
                    size != sizeof record) {
                    continue;
                }
                connection->write(record.bytes(), sizeof record);
            }
        }
        service = std::make_unique<ombrix::test::Program>("Oxtserv", std::vector<std::string>{"-d"},
                                                          "/dev/null");
        for (int i = 0; i < 1000; ++i) {
            CMountRequest r;
            r.m_request = CMountRequest::kUnitCount;
            CMountRequest e;
            if (CallPipe(ombrix::names::kServicePipe, r, 500, 1) &&
                CallPipe(kEchoPipe, e, 500, 1)) {
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::fprintf(stderr, "servers did not come up\n");
        std::exit(1);
    }
    ~Servers() {
        service->stop(SIGINT);
        kill(echo, SIGKILL);
        waitpid(echo, nullptr, 0);
    }
};

void BM_BareEcho(benchmark::State& state) {
    CMountRequest record;
    record.m_request = CMountRequest::kListLogons;
    for (auto _ : state) {
        if (!CallPipe(kEchoPipe, record, 1500, 3)) state.SkipWithError("echo call failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ServiceList(benchmark::State& state) {
    for (auto _ : state) {
        CMountRequest record;
        record.m_request = CMountRequest::kListLogons;
        record.m_sessionId = 0;
        if (!CallPipe(ombrix::names::kServicePipe, record, 1500, 3) || record.m_request != 19) {
            state.SkipWithError("list failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

// Log-on and log-off alternate; both change the logon map and publish "OMXLogons".
void BM_ServiceLogOnOff(benchmark::State& state) {
    uint32_t session = 100000u + static_cast<uint32_t>(state.thread_index()) * 10u;
    bool on = true;
    CMountRequest reset;  // an earlier run may have left the session logged on
    reset.m_request = CMountRequest::kLogOff;
    reset.m_sessionId = session;
    CallPipe(ombrix::names::kServicePipe, reset, 1500, 3);
    for (auto _ : state) {
        CMountRequest record;
        record.m_request = on ? CMountRequest::kLogOn : CMountRequest::kLogOff;
        record.m_sessionId = session;
        record.setText("bench");
        int32_t expected = record.m_request;
        if (!CallPipe(ombrix::names::kServicePipe, record, 1500, 3) ||
            record.m_request != expected) {
            state.SkipWithError("log-on/off failed");
        }
        on = !on;
    }
    state.SetItemsProcessed(state.iterations());
}

// As the programs call it: ordered by the machine-wide pipe mutex.
void BM_ServiceListGuarded(benchmark::State& state) {
    ombrix::platform::NamedMutex mutex(ombrix::names::kServicePipeMutex);
    for (auto _ : state) {
        CMountRequest record;
        record.m_request = CMountRequest::kListLogons;
        if (!CallPipeGuarded(&mutex, ombrix::names::kServicePipe, record, 1500, 3)) {
            state.SkipWithError("guarded list failed");
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_BareEcho)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_ServiceList)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_ServiceLogOnOff)->UseRealTime()->Threads(1)->Threads(8);
BENCHMARK(BM_ServiceListGuarded)->UseRealTime()->Threads(1);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Servers running;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
