// Reading a disc's files through a mounted unit, against reading the same bytes straight from the
// source ISO (this machine's kernel has no ISO 9660 driver for a loop mount, so plain reads of
// the ISO file are the baseline); listing a tree of 20,000 files through a mount, against the
// same listing of the source folder. Ratios are printed at the end.
// OMBRIX_BENCH_FILE_MB sets the size of the big file (default 500).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "omxcvt.h"
#include "outside/oxtmpdrv/disc_mount.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
namespace t = ombrix::test;

namespace {

constexpr size_t kChunk = 128 * 1024;
constexpr int kTreeFolders = 200;
constexpr int kTreeFiles = 100;  // per folder: 20,000 files

// Best seconds per iteration of each benchmark, for the ratios.
std::map<std::string, double> g_best;

void record(const std::string& name, double seconds) {
    auto it = g_best.find(name);
    if (it == g_best.end() || seconds < it->second) g_best[name] = seconds;
}

struct Fixture {
    std::unique_ptr<t::TempRoot> root;
    fs::path iso;
    uint64_t bigOffset = 0;  // of big.bin in the ISO
    uint64_t bigSize = 0;
    std::string containers[3];
    fs::path treeSource;
    std::string treeContainer;
    bool ready = false;
    std::string why;
};

std::string convert(const fs::path& iso, const fs::path& target, int storage) {
    return t::convertIso(iso, target, storage) == 0 ? target.string() : std::string();
}

Fixture& fixture() {
    static Fixture f = [] {
        Fixture f;
        std::string why;
        if (!oxtmpdrv::fuseUsable(why)) {
            f.why = why;
            return f;
        }
        f.root = std::make_unique<t::TempRoot>();
        const char* mb = std::getenv("OMBRIX_BENCH_FILE_MB");
        const size_t bytes = size_t(mb ? std::atoi(mb) : 500) << 20;
        fs::path src = f.root->path() / "src";
        t::makeSampleTree(src, bytes);
        f.iso = t::makeIso(src, f.root->path() / "big.iso", true);
        // Where big.bin lies in the ISO: the archive tool gives no offsets, so find its first
        // sector by content.
        const std::string head = [&] {
            std::string h(2048, '\0');
            FILE* in = std::fopen((src / "big.bin").c_str(), "rb");
            if (in) {
                size_t n = std::fread(h.data(), 1, h.size(), in);
                (void)n;
                std::fclose(in);
            }
            return h;
        }();
        f.bigSize = fs::file_size(src / "big.bin");
        int fd = ::open(f.iso.c_str(), O_RDONLY);
        std::string sector(2048, '\0');
        for (uint64_t at = 0; ::pread(fd, sector.data(), 2048, off_t(at)) == 2048; at += 2048) {
            if (sector == head) {
                f.bigOffset = at;
                break;
            }
        }
        ::close(fd);
        const char* names[] = {"plain", "lz", "deflate"};
        for (int s = 0; s < 3; ++s) {
            f.containers[s] = convert(f.iso, f.root->path() / (std::string(names[s]) + ".om4"), s);
        }
        fs::remove_all(src);

        f.treeSource = f.root->path() / "tree";
        for (int d = 0; d < kTreeFolders; ++d) {
            fs::path folder = f.treeSource / ("folder " + std::to_string(d));
            fs::create_directories(folder);
            for (int k = 0; k < kTreeFiles; ++k)
                t::writeFile(folder / ("file " + std::to_string(k) + ".txt"), std::to_string(k));
        }
        fs::path treeIso = t::makeIso(f.treeSource, f.root->path() / "tree.iso", true);
        f.treeContainer = convert(treeIso, f.root->path() / "tree.om4", 0);
        f.ready = !f.iso.empty() && f.bigOffset != 0 && !f.containers[0].empty() &&
                  !f.containers[1].empty() && !f.containers[2].empty() && !f.treeContainer.empty();
        if (!f.ready) f.why = "could not make the fixtures";
        return f;
    }();
    return f;
}

std::unique_ptr<oxtmpdrv::DiscMount> mount(const std::string& container, const fs::path& folder) {
    fs::create_directories(folder);
    auto disc = std::make_unique<oxtmpdrv::DiscFs>();
    if (disc->load(container) != 0) return nullptr;
    std::string error;
    return oxtmpdrv::DiscMount::start(std::move(disc), folder.string(), {}, error);
}

// Reads [offset, offset + size) of `path` in 128 KiB pieces; forgets the file's cached pages
// first so every run reads through the file system.
uint64_t readRange(const fs::path& path, uint64_t offset, uint64_t size, bool dropCache) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0;
    if (dropCache) ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> buffer(kChunk);
    uint64_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, buffer.data(), std::min<uint64_t>(kChunk, size - done),
                            off_t(offset + done));
        if (n <= 0) break;
        done += uint64_t(n);
    }
    ::close(fd);
    return done;
}

void BM_ReadSourceIso(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    readRange(f.iso, f.bigOffset, f.bigSize, false);  // warm, like the part files below
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (readRange(f.iso, f.bigOffset, f.bigSize, false) != f.bigSize)
            return state.SkipWithError("short read");
        record("iso",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * f.bigSize));
}
BENCHMARK(BM_ReadSourceIso)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReadMounted(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    const int storage = int(state.range(0));
    const fs::path folder = f.root->path() / ("Device/CdRom" + std::to_string(storage));
    auto m = mount(f.containers[storage], folder);
    if (!m) return state.SkipWithError("mount refused");
    readRange(f.containers[storage], 0, 0, false);
    // Warm the part file's pages, as the baseline's ISO pages are warm.
    fs::path part = fs::path(f.containers[storage]).replace_extension(".000");
    readRange(part, 0, fs::file_size(part), false);
    const char* names[] = {"plain", "lz", "deflate"};
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (readRange(folder / "big.bin", 0, f.bigSize, true) != f.bigSize)
            return state.SkipWithError("short read");
        record(names[storage],
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * f.bigSize));
    state.SetLabel(names[storage]);
}
BENCHMARK(BM_ReadMounted)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The same file read again through a mount: the kernel keeps the disc's pages.
void BM_ReadMountedWarm(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    const fs::path folder = f.root->path() / "Device/CdRom8";
    auto m = mount(f.containers[0], folder);
    if (!m) return state.SkipWithError("mount refused");
    readRange(folder / "big.bin", 0, f.bigSize, false);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        if (readRange(folder / "big.bin", 0, f.bigSize, false) != f.bigSize)
            return state.SkipWithError("short read");
        record("warm",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.SetBytesProcessed(int64_t(state.iterations() * f.bigSize));
}
BENCHMARK(BM_ReadMountedWarm)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

size_t listTree(const fs::path& folder) {
    size_t count = 0;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        struct stat st;
        ::lstat(entry.path().c_str(), &st);
        ++count;
    }
    return count;
}

void BM_ListSourceTree(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    listTree(f.treeSource);
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        benchmark::DoNotOptimize(listTree(f.treeSource));
        record("tree-source",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_ListSourceTree)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// Each run lists a fresh mount, so no name is cached by the kernel yet.
void BM_ListMountedTree(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    const fs::path folder = f.root->path() / "Device/CdRom9";
    for (auto _ : state) {
        state.PauseTiming();
        auto m = mount(f.treeContainer, folder);
        if (!m) return state.SkipWithError("mount refused");
        state.ResumeTiming();
        auto start = std::chrono::steady_clock::now();
        size_t n = listTree(folder);
        record("tree-mounted",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        state.PauseTiming();
        start = std::chrono::steady_clock::now();
        listTree(folder);
        record("tree-mounted-again",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
        if (n != kTreeFolders * (kTreeFiles + 1)) return state.SkipWithError("wrong count");
        m.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_ListMountedTree)->Iterations(5)->Unit(benchmark::kMillisecond)->UseRealTime();

// What a unit does on insert: open the image, read its folders and the root's files, and list
// the root.
void BM_LoadTree(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        oxtmpdrv::DiscFs disc;
        if (disc.load(f.treeContainer) != 0) return state.SkipWithError("load failed");
        size_t names = 0;
        disc.readdir("/", [&names](const char*, const struct stat&) { ++names; });
        if (names != kTreeFolders) return state.SkipWithError("wrong root");
        record("load",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_LoadTree)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: opening the image and walking all 20,000 names at once (the contents tool's
// walk, and what an insert used to wait for).
void BM_WalkWholeTree(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ready) return state.SkipWithError(f.why.c_str());
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        ombrix::contents::ImageContents image;
        if (image.open(f.treeContainer) != 0) return state.SkipWithError("open failed");
        image.wait();
        record("walk",
               std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
}
BENCHMARK(BM_WalkWholeTree)->Iterations(7)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    if (g_best.count("iso")) {
        const double iso = g_best["iso"];
        std::printf(
            "\nbig file (%.0f MB), best of 3, against plain reads of the source ISO\n"
            "(\"warm\": plain storage read again, from the pages the kernel kept):\n",
            double(fixture().bigSize) / (1 << 20));
        for (const char* s : {"plain", "lz", "deflate", "warm"}) {
            if (g_best.count(s))
                std::printf("  %-8s %6.2fx  (%.0f MB/s; ISO %.0f MB/s)\n", s, g_best[s] / iso,
                            double(fixture().bigSize) / (1 << 20) / g_best[s],
                            double(fixture().bigSize) / (1 << 20) / iso);
        }
    }
    if (g_best.count("tree-source") && g_best.count("tree-mounted")) {
        std::printf("listing 20,000 files: mounted %.1f ms, source folder %.1f ms: %.2fx\n",
                    g_best["tree-mounted"] * 1e3, g_best["tree-source"] * 1e3,
                    g_best["tree-mounted"] / g_best["tree-source"]);
        std::printf("listing them again through the same mount: %.1f ms: %.2fx\n",
                    g_best["tree-mounted-again"] * 1e3,
                    g_best["tree-mounted-again"] / g_best["tree-source"]);
    }
    if (g_best.count("load") && g_best.count("walk")) {
        std::printf(
            "insert of the 20,000-file disc (folders, root files, root listing): %.2f ms,"
            " whole walk %.2f ms: %.3fx\n",
            g_best["load"] * 1e3, g_best["walk"] * 1e3, g_best["load"] / g_best["walk"]);
    }
    benchmark::Shutdown();
    return 0;
}
