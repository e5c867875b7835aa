// Reading a 200 MB data track through the sector reader in each storage, against pread of the
// same bytes and zlib inflate of the same blocks alone; LZ decode and converter throughput.
// OMBRIX_BENCH_TRACK_MB changes the track size.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "common/image_writer.h"
#include "common/lz_codec.h"
#include "omxcvt.h"

namespace fs = std::filesystem;
namespace img = ombrix::image;

namespace {

// Disc-like content: text, zero runs, tables of small numbers and incompressible stretches.
std::vector<uint8_t> makeSectors(uint32_t count) {
    std::vector<uint8_t> s(size_t(count) * 2048);
    std::mt19937 rng(11);
    const char* words[] = {"volume ", "install ", "setup ", "readme ", "data ", "the ", "file "};
    for (uint32_t n = 0; n < count; ++n) {
        uint8_t* p = s.data() + size_t(n) * 2048;
        switch ((n / 8) % 5) {
            case 0:
            case 1:
                for (size_t i = 0; i < 2048;) {
                    const char* w = words[rng() % 7];
                    while (*w && i < 2048)
                        p[i++] = static_cast<uint8_t>(*w++);
                }
                break;
            case 2: break;
            case 3:
                for (size_t i = 0; i < 2048; ++i)
                    p[i] = static_cast<uint8_t>(rng() % 16);
                break;
            default:
                for (size_t i = 0; i < 2048; ++i)
                    p[i] = static_cast<uint8_t>(rng());
        }
    }
    std::memcpy(s.data() + 16 * 2048, "\1CD001", 6);
    return s;
}

struct Fixture {
    fs::path dir;
    uint32_t sectors = 0;
    std::vector<uint8_t> data;
    std::string container[3];
    double writeSeconds[3] = {};
    uint64_t storedBytes[3] = {};

    Fixture() {
        const char* mb = std::getenv("OMBRIX_BENCH_TRACK_MB");
        sectors = static_cast<uint32_t>((mb ? std::atoi(mb) : 200) * 512);
        char dirName[] = "/tmp/image-bench-XXXXXX";
        if (::mkdtemp(dirName) == nullptr) std::abort();
        dir = dirName;
        data = makeSectors(sectors);
        for (int storage = 0; storage < 3; ++storage) {
            container[storage] = (dir / ("s" + std::to_string(storage) + ".om4")).string();
            auto start = std::chrono::steady_clock::now();
            img::PartWriter w;
            if (w.open(img::partFileName(container[storage], 0, 0),
                       {static_cast<uint8_t>(storage), 2048, 1}, sectors, 0) != 0 ||
                w.add(data.data(), sectors) != 0 || w.finish() != 0)
                std::abort();
            writeSeconds[storage] =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            storedBytes[storage] = fs::file_size(img::partFileName(container[storage], 0, 0));
        }
    }
    ~Fixture() { fs::remove_all(dir); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void readTrack(benchmark::State& state, int storage) {
    Fixture& f = fixture();
    uint8_t sector[2048];
    for (auto _ : state) {
        img::dropCachedBlock();
        img::TrackReader reader(f.container[storage], 0, 0);
        for (uint32_t n = 0; n < f.sectors; ++n) {
            bool compressed = false;
            if (reader.readUserData(n, sector, compressed) != 0) state.SkipWithError("read");
        }
        benchmark::DoNotOptimize(sector);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * f.sectors * 2048);
    state.counters["stored_ratio"] = double(f.storedBytes[storage]) / (double(f.sectors) * 2048);
}

void BM_SectorReaderPlain(benchmark::State& state) {
    readTrack(state, img::kPlain);
}
void BM_SectorReaderLz(benchmark::State& state) {
    readTrack(state, img::kLz);
}
void BM_SectorReaderDeflate(benchmark::State& state) {
    readTrack(state, img::kDeflate);
}

void BM_PreadSameBytes(benchmark::State& state) {
    Fixture& f = fixture();
    uint8_t sector[2048];
    for (auto _ : state) {
        int fd = ::open(img::partFileName(f.container[0], 0, 0).c_str(), O_RDONLY);
        for (uint32_t n = 0; n < f.sectors; ++n) {
            if (::pread(fd, sector, 2048, img::kTrackHeaderSize + off_t(n) * 2048) != 2048)
                state.SkipWithError("pread");
        }
        ::close(fd);
        benchmark::DoNotOptimize(sector);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * f.sectors * 2048);
}

// The stored records of a compressed track, loaded once.
std::vector<std::vector<uint8_t>> blocksOf(int storage) {
    Fixture& f = fixture();
    img::TrackFile file;
    if (file.open(img::partFileName(f.container[storage], 0, 0)) != 0) std::abort();
    std::vector<std::vector<uint8_t>> blocks;
    for (uint32_t b = 0; b * 16 < f.sectors; ++b) {
        img::BlockLocation where;
        if (file.locateBlock(b, where) != 0) std::abort();
        std::vector<uint8_t> bytes(where.length);
        size_t got = 0;
        file.file().readAt(bytes.data(), bytes.size(), static_cast<off_t>(where.offset), got);
        blocks.push_back(std::move(bytes));
    }
    return blocks;
}

void BM_InflateBlocksAlone(benchmark::State& state) {
    static const auto blocks = blocksOf(img::kDeflate);
    std::vector<uint8_t> out(0x8000);
    for (auto _ : state) {
        for (const auto& b : blocks) {
            if (b.size() == out.size()) {
                std::memcpy(out.data(), b.data(), b.size());
                continue;
            }
            uLongf size = static_cast<uLongf>(out.size());
            uncompress(out.data(), &size, b.data(), static_cast<uLong>(b.size()));
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * fixture().sectors * 2048);
}

void BM_LzDecodeBlocksAlone(benchmark::State& state) {
    static const auto blocks = blocksOf(img::kLz);
    std::vector<uint8_t> out(0x8000);
    for (auto _ : state) {
        for (const auto& b : blocks) {
            if (b.size() == out.size()) {
                std::memcpy(out.data(), b.data(), b.size());
                continue;
            }
            ombrix::lz::decode(b, out);
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * fixture().sectors * 2048);
}

// The converter on a 32 MB image of the same content, per storage.
void BM_Convert(benchmark::State& state) {
    Fixture& f = fixture();
    const uint32_t sectors = std::min<uint32_t>(f.sectors, 16384);
    fs::path iso = f.dir / "convert.iso";
    if (!fs::exists(iso)) {
        int fd = ::open(iso.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (::write(fd, f.data.data(), size_t(sectors) * 2048) < 0) std::abort();
        ::close(fd);
    }
    OmxCvtOptions o{};
    o.storage = static_cast<int>(state.range(0));
    o.sectorSize = 2048;
    o.overwrite = 1;
    for (auto _ : state) {
        if (OMXConvertISO2OM4Ex(iso.c_str(), &o) != 0) state.SkipWithError("convert");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * sectors * 2048);
}

BENCHMARK(BM_PreadSameBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SectorReaderPlain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InflateBlocksAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SectorReaderDeflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LzDecodeBlocksAlone)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SectorReaderLz)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Convert)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
BENCHMARK_MAIN();
