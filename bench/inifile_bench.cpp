// Loading and saving a 5,000-entry catalogue with CIniFile, against moving the same bytes with
// plain stdio, so the cost of parsing and locking can be quoted as a ratio.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/inifile.h"
#include "support/temp_root.h"

namespace {

constexpr int kEntries = 5000;

std::string catalogue() {
    std::string text = "[Images]\r\n";
    for (int i = 5001; i < 5001 + kEntries; ++i) {
        const std::string n = std::to_string(i);
        text += "OMXImage_" + n + "=/srv/images/disc" + n + ".om4|prog|dir|E|0|0|1|Description " +
                n + "\r\n";
    }
    return text;
}

ombrix::test::TempRoot& benchRoot() {
    static ombrix::test::TempRoot root;
    return root;
}

// The catalogue as this system keeps it: saved once by CIniFile (upper-case keys, sorted).
const std::string& cataloguePath() {
    static const std::string path = [] {
        const std::string p = (benchRoot() / "OMXimg.dat").string();
        ombrix::test::writeFile(p, catalogue());
        CIniFile ini(p);
        if (ini.OpenAndLoad(true, CIniFile::kAttempts) != 0 || ini.Save() != 0) std::abort();
        return p;
    }();
    return path;
}

// The same entries as written by hand or another tool: mixed case, in numeric order.
const std::string& handWrittenPath() {
    static const std::string path = [] {
        const std::string p = (benchRoot() / "handwritten.dat").string();
        ombrix::test::writeFile(p, catalogue());
        return p;
    }();
    return path;
}

void BM_IniFileLoadSave(benchmark::State& state) {
    const std::string& path = cataloguePath();
    for (auto _ : state) {
        CIniFile ini(path);
        if (ini.OpenAndLoad(true, CIniFile::kAttempts) != 0 || ini.Save() != 0) {
            state.SkipWithError("load or save failed");
            break;
        }
        ini.Close();
    }
}

void BM_StdioReadWrite(benchmark::State& state) {
    const std::string& path = cataloguePath();
    std::vector<char> buffer;
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "r+b");
        if (file == nullptr) {
            state.SkipWithError("fopen failed");
            break;
        }
        std::fseek(file, 0, SEEK_END);
        buffer.resize(static_cast<size_t>(std::ftell(file)));
        std::rewind(file);
        const size_t got = std::fread(buffer.data(), 1, buffer.size(), file);
        benchmark::DoNotOptimize(buffer.data());
        std::rewind(file);
        std::fwrite(buffer.data(), 1, got, file);
        std::fflush(file);
        if (::ftruncate(::fileno(file), static_cast<off_t>(got)) != 0) {
            state.SkipWithError("ftruncate failed");
        }
        std::fclose(file);
    }
}

void BM_IniFileLoad(benchmark::State& state, const std::string& (*file)()) {
    const std::string& path = file();
    for (auto _ : state) {
        CIniFile ini(path);
        if (ini.OpenAndLoad(false, CIniFile::kAttempts) != 0) {
            state.SkipWithError("load failed");
            break;
        }
        ini.Close();
    }
}

void BM_StdioRead(benchmark::State& state) {
    const std::string& path = cataloguePath();
    std::vector<char> buffer;
    for (auto _ : state) {
        FILE* file = std::fopen(path.c_str(), "rb");
        if (file == nullptr) {
            state.SkipWithError("fopen failed");
            break;
        }
        std::fseek(file, 0, SEEK_END);
        buffer.resize(static_cast<size_t>(std::ftell(file)));
        std::rewind(file);
        benchmark::DoNotOptimize(std::fread(buffer.data(), 1, buffer.size(), file));
        std::fclose(file);
    }
}

}  // namespace

BENCHMARK(BM_IniFileLoadSave)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdioReadWrite)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IniFileLoad, saved, cataloguePath)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_IniFileLoad, handwritten, handWrittenPath)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_StdioRead)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
