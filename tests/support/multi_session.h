#pragma once

#include <array>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "common/image_writer.h"
#include "support/disc_fixtures.h"
#include "support/temp_root.h"

namespace ombrix::test {

// A disc of two sessions made by xorriso: session 1 (track 1, from sector 0) holds nine files;
// session 2 (track 2, from sector 1000, made with -M and -C 0,1000) adds eight files and keeps
// the first session's, whose data stay in track 1. `whole` gets the disc as one ISO file (the
// first session, a gap of zeros, the second) for reference. Returns the container's path, empty
// when the disc cannot be made. `storage` is how the part files hold their sectors.
inline std::filesystem::path makeMultiSessionImage(const std::filesystem::path& folder,
                                                   std::filesystem::path& whole,
                                                   const image::PartOptions& storage = {}) {
    namespace fs = std::filesystem;
    constexpr uint32_t kSecondStart = 1000;
    fs::create_directories(folder / "one");
    fs::create_directories(folder / "two/later");
    for (int n = 1; n <= 9; ++n) {
        writeFile(folder / "one" / ("first" + std::to_string(n) + ".txt"),
                  std::string(size_t(n) * 1500, char('a' + n)));
    }
    for (int n = 1; n <= 8; ++n) {
        writeFile(folder / "two/later" / ("second" + std::to_string(n) + ".txt"),
                  std::string(size_t(n) * 900, char('A' + n)));
    }
    const fs::path first = folder / "first.iso", second = folder / "second.iso";
    int status = 0;
    runCommand("xorriso -as mkisofs -J -V FIRST -o " + shellQuoted(first) + " " +
                   shellQuoted(folder / "one") + " >/dev/null 2>&1",
               &status);
    if (status != 0) return {};
    runCommand("xorriso -as mkisofs -J -V SECOND -M " + shellQuoted(first) + " -C 0," +
                   std::to_string(kSecondStart) + " -o " + shellQuoted(second) + " " +
                   shellQuoted(folder / "two") + " >/dev/null 2>&1",
               &status);
    if (status != 0) return {};
    std::string one = readFile(first), two = readFile(second);
    if (one.size() % 2048 != 0 || two.size() % 2048 != 0 || one.size() / 2048 > kSecondStart) {
        return {};
    }
    whole = folder / "whole.iso";
    std::string disc = one;
    disc.resize(size_t(kSecondStart) * 2048, '\0');
    disc += two;
    writeFile(whole, disc);

    const fs::path container = folder / "images/multi.om4";
    fs::create_directories(container.parent_path());
    const std::vector<std::pair<const std::string*, uint32_t>> tracks = {{&one, 0},
                                                                         {&two, kSecondStart}};
    image::ContainerSpec spec;
    for (size_t t = 0; t < tracks.size(); ++t) {
        const std::string& bytes = *tracks[t].first;
        const auto count = static_cast<uint32_t>(bytes.size() / 2048);
        image::PartWriter writer;
        if (writer.open(image::partFileName(container.string(), static_cast<int>(t), 0), storage,
                        count, tracks[t].second) != 0 ||
            writer.add(reinterpret_cast<const uint8_t*>(bytes.data()), count) != 0 ||
            writer.finish() != 0) {
            return {};
        }
        spec.tracks.push_back(
            {image::kDataTrack, 0, tracks[t].second, tracks[t].second + count, ""});
        spec.trackList.push_back({0x14, static_cast<uint8_t>(t + 1), tracks[t].second});
    }
    spec.leadOut = spec.tracks.back().endSector;
    std::array<uint8_t, image::kSessionBlockSize> block{};
    block[3] = 2;
    block[6] = 2;
    const uint8_t toc[4][11] = {{1, 0, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0},
                                {1, 0, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0},
                                {2, 0, 0, 0xA0, 0, 0, 0, 0, 2, 0, 0},
                                {2, 0, 0, 0xA1, 0, 0, 0, 0, 2, 0, 0}};
    block[13] = 2 + 4 * 11;
    std::memcpy(block.data() + 16, toc, sizeof toc);
    spec.sessionBlock = block;
    if (image::writeContainer(container.string(), spec) != 0) return {};
    return container;
}

}  // namespace ombrix::test
