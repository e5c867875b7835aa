// Publishing a changed 5,000-entry network catalogue end to end: the catalogue file is rewritten
// with one entry changed, request 35 goes to a running network access service (`OXTNet -d`) over
// its pipe, and the reply comes once every value is published and the change is queued.
// Baselines in the same run: a request the service only echoes, and parsing the same file with
// the ini class in this process.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <thread>

#include "common/inifile.h"
#include "common/names.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "support/program.h"
#include "support/temp_root.h"

namespace {

constexpr int kEntries = 5000;

// Entry 1 carries the round number; with `all`, every entry does.
std::string catalogue(int round, bool all = false) {
    std::string text = "[Images]\r\n";
    for (int n = 1; n <= kEntries; ++n) {
        text += "OMXImage_" + std::to_string(5000 + n) + "=/srv/images/disc" + std::to_string(n) +
                (n == 1 || all ? "-" + std::to_string(round) : "") +
                ".om4|/bin/true||A disc of the pool|0|0|0|0\r\n";
    }
    return text;
}

struct Service {
    ombrix::test::TempRoot root;
    std::filesystem::path file = root / "share" / "OMXimg.dat";
    std::unique_ptr<ombrix::test::Program> program;

    Service() {
        std::filesystem::create_directories(root / "share");
        for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet",
                                "OMXServerPathNet", "OmxAdmPathNet"}) {
            EnvSetGlobalValue(key, ((root / "share").string() + "/").c_str());
        }
        ombrix::test::writeFile(file, catalogue(0));
        program = std::make_unique<ombrix::test::Program>("OXTNet", std::vector<std::string>{"-d"},
                                                          "/dev/null");
        for (int i = 0; i < 3000; ++i) {
            CMountRequest r;
            if (CallPipe(ombrix::names::kNetPipe, r, 500, 1)) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::fprintf(stderr, "OXTNet did not come up\n");
        std::exit(1);
    }
    ~Service() { program->stop(SIGINT); }
};

Service& service() {
    static Service s;
    return s;
}

void BM_EchoRequest(benchmark::State& state) {
    service();
    for (auto _ : state) {
        CMountRequest r;
        r.m_request = 0;
        if (!CallPipe(ombrix::names::kNetPipe, r, 5000, 1)) state.SkipWithError("call failed");
    }
}

void BM_ParseCatalogueInProcess(benchmark::State& state) {
    Service& s = service();
    for (auto _ : state) {
        CIniFile file(s.file.string());
        if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(file.GetSection("Images"));
    }
}

// Argument 0: one entry changed; 1: every entry changed.
void BM_PublishChangedCatalogue(benchmark::State& state) {
    Service& s = service();
    static int round = 0;
    for (auto _ : state) {
        ombrix::test::writeFile(s.file, catalogue(++round, state.range(0) == 1));
        CMountRequest r;
        r.m_request = 35;
        if (!CallPipe(ombrix::names::kNetPipe, r, 30000, 1) || r.m_request != 35) {
            state.SkipWithError("request 35 failed");
        }
    }
    char count[32] = {};
    EnvGetGlobalValue("OMXImageCount", count, sizeof count);
    if (std::atoi(count) != kEntries) state.SkipWithError("catalogue not published");
}

BENCHMARK(BM_EchoRequest)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ParseCatalogueInProcess)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PublishChangedCatalogue)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
