// Insert + eject round trips of one session through the whole chain (client library, helper
// library, management service, driver stand-in), against the bare round trip of the service
// pipe (request 7, answered from memory) and an echo pipe, all in the same run.
#include <benchmark/benchmark.h>
#include <signal.h>

#include <cstdlib>
#include <memory>

#include "common/names.h"
#include "common/oxtcomm_drives.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "platform/terminal_sessions.h"
#include "profiles/profile.h"
#include "service/miniport_client.h"
#include "service/pipe_call.h"
#include "support/echo_pipe.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::Program;

struct Chain {
    ombrix::test::TempRoot root;
    std::unique_ptr<Program> driver, service;
    std::unique_ptr<ombrix::test::EchoPipe> echo;
    std::unique_ptr<ombrix::test::EchoPipe> net;
    std::string image;

    Chain() {
        image = (root / "bench.om4").string();
        ombrix::samples::writeImage(image, ombrix::samples::makeHeader("bench"));
        CProfileList list;
        CProfile profile;
        profile.name = "all";
        profile.rights = 4;
        profile.security.BuildFromMembers({{ombrix::profiles::Sid::Everyone(), false}});
        list.Profiles().push_back(std::move(profile));
        std::string bytes;
        list.Save(bytes);
        EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size()));

        driver = std::make_unique<Program>(
            "oxtmpdrv", std::vector<std::string>{"--units", "4", "--no-fuse"}, "/dev/null");
        ombrix::test::waitFor([] { return CMiniport::FindPort() >= 0; });
        service = std::make_unique<Program>("Oxtserv", std::vector<std::string>{"-d"}, "/dev/null");
        ombrix::test::waitFor([] {
            CMountRequest r;
            r.m_request = CMountRequest::kUnitCount;
            return CallPipe(ombrix::names::kServicePipe, r, 500, 1) && r.m_dwData > 0;
        });
        echo = std::make_unique<ombrix::test::EchoPipe>("Bench_Echo");
        net = std::make_unique<ombrix::test::EchoPipe>(ombrix::names::kNetPipe);
        ombrix::wts::logOn(1, "bench");
        setenv("OMBRIX_SESSION", "1", 1);
        CMountRequest logon;
        logon.m_request = CMountRequest::kLogOn;
        logon.m_sessionId = 1;
        logon.setText("bench");
        CallPipe(ombrix::names::kServicePipe, logon, 1500, 3);
    }
    ~Chain() { service->stop(SIGINT); }
};

Chain& chain() {
    static Chain instance;
    return instance;
}

void BM_EchoPipe(benchmark::State& state) {
    chain();
    for (auto _ : state) {
        CMountRequest r;
        if (!CallPipe("Bench_Echo", r, 1500, 3)) state.SkipWithError("echo failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_ServicePipeBare(benchmark::State& state) {
    chain();
    for (auto _ : state) {
        CMountRequest r;
        r.m_request = CMountRequest::kUnitCount;
        if (!CallPipe(ombrix::names::kServicePipe, r, 1500, 3)) state.SkipWithError("call failed");
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_InsertEjectRoundTrip(benchmark::State& state) {
    Chain& c = chain();
    for (auto _ : state) {
        if (OMXInsert('E', c.image.c_str(), "", 1, 5, 0) != 0 || OMXEject('E') != 0) {
            state.SkipWithError("insert or eject failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_EchoPipe);
BENCHMARK(BM_ServicePipeBare);
BENCHMARK(BM_InsertEjectRoundTrip);

}  // namespace

BENCHMARK_MAIN();
