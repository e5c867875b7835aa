// Reading a published 5,000-entry catalogue through the client library, against reading the same
// keys from LMDB directly.
#include <benchmark/benchmark.h>
#include <lmdb.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/oxtcomm.h"
#include "oxtenv.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFirst = 5001;
constexpr int kEntries = 5000;
constexpr int kLast = kFirst + kEntries - 1;

std::string key(int index) {
    char text[32];
    std::snprintf(text, sizeof text, "OMXImage_%.4d", index);
    return text;
}

std::string pathOf(int index) {
    return "/srv/pool/images/disc" + std::to_string(index) + ".om4";
}

void publish() {
    for (int index = kFirst; index <= kLast; ++index) {
        std::string entry =
            pathOf(index) + "|%OMXDrive%/setup|/work|E|1|2|1|Description " + std::to_string(index);
        EnvSetGlobalValue(key(index).c_str(), entry.c_str());
    }
    EnvSetGlobalValue("OMXIndexHiNet", std::to_string(kLast).c_str());
    EnvSetGlobalValue("OMXImageCount", std::to_string(kEntries).c_str());
}

void BM_GetImageInfoFromIndex_AllEntries(benchmark::State& state) {
    OmxImageInfo info;
    for (auto _ : state) {
        for (int index = kFirst; index <= kLast; ++index) {
            benchmark::DoNotOptimize(OMXGetImageInfoFromIndex(index, &info));
        }
    }
    state.SetItemsProcessed(state.iterations() * kEntries);
}

// The same keys read straight from a copy of the store's file (LMDB allows one open environment
// per file and process): one renewed read transaction per key, the value copied out.
struct RawStore {
    MDB_env* env = nullptr;
    MDB_dbi dbi = 0;
    explicit RawStore(const fs::path& folder) {
        mdb_env_create(&env);
        mdb_env_set_maxdbs(env, 4);
        mdb_env_set_mapsize(env, size_t{1} << 30);
        mdb_env_open(env, folder.c_str(), MDB_NOTLS | MDB_RDONLY, 0644);
        MDB_txn* txn = nullptr;
        mdb_txn_begin(env, nullptr, MDB_RDONLY, &txn);
        mdb_dbi_open(txn, "values", 0, &dbi);
        mdb_txn_commit(txn);
    }
    ~RawStore() { mdb_env_close(env); }
};

fs::path rawCopy;

void BM_RawLmdb_AllEntries(benchmark::State& state) {
    RawStore store(rawCopy);
    std::vector<std::string> keys;
    for (int index = kFirst; index <= kLast; ++index)
        keys.push_back("OMXIMAGE_" + std::to_string(index));
    char buffer[2048];
    MDB_txn* txn = nullptr;
    mdb_txn_begin(store.env, nullptr, MDB_RDONLY, &txn);
    mdb_txn_reset(txn);
    for (auto _ : state) {
        for (const std::string& k : keys) {
            mdb_txn_renew(txn);
            MDB_val kv{k.size(), const_cast<char*>(k.data())}, v{};
            if (mdb_get(txn, store.dbi, &kv, &v) == 0) {
                size_t n = v.mv_size < sizeof buffer ? v.mv_size : sizeof buffer - 1;
                std::memcpy(buffer, v.mv_data, n);
                benchmark::DoNotOptimize(buffer);
            }
            mdb_txn_reset(txn);
        }
    }
    mdb_txn_abort(txn);
    state.SetItemsProcessed(state.iterations() * kEntries);
}

void BM_GetIndexFromImageFile_LastOf5000(benchmark::State& state) {
    std::string last = pathOf(kLast);
    for (auto _ : state) {
        benchmark::DoNotOptimize(OMXGetIndexFromImageFile(last.c_str(), OMX_RANGE_SHARED));
    }
}

BENCHMARK(BM_GetImageInfoFromIndex_AllEntries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RawLmdb_AllEntries)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetIndexFromImageFile_LastOf5000)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    ombrix::test::TempRoot root;
    publish();
    rawCopy = root / "raw-copy";
    fs::create_directories(rawCopy);
    fs::copy_file(root / "env/global/data.mdb", rawCopy / "data.mdb");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
