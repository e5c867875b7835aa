#include "common/image_container.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/test_disc.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
namespace img = ombrix::image;
using ombrix::test::TempRoot;
using namespace ombrix::testdisc;

namespace {

void patch(const std::string& path, long offset, const std::string& bytes) {
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(offset);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string le32(uint32_t v) {
    return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
}

class TrackStorage : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(TrackStorage, ReadsEverySectorBackAcrossParts) {
    TempRoot root;
    auto [storage, sectorSize] = GetParam();
    Sectors disc = makeSectors(150, "READBACK");
    DiscOptions o;
    o.storage = static_cast<uint8_t>(storage);
    o.sectorSize = static_cast<uint16_t>(sectorSize);
    o.sectorsPerPart = 56;  // parts end inside a block
    std::string path = writeDisc(root / "disc/Disc.om4", disc, o);
    ASSERT_FALSE(path.empty());
    img::Container c;
    ASSERT_EQ(img::readContainer(path, c), 0);
    ASSERT_EQ(c.tracks.size(), 1u);
    EXPECT_EQ(c.tracks[0].endSector, 150u);
    img::dropCachedBlock();
    img::TrackReader reader(path, 0, c.header.sectorsPerPartFile);
    uint8_t sector[2048];
    for (uint32_t n = 0; n < 150; ++n) {
        bool compressed = true;
        ASSERT_EQ(reader.readUserData(n, sector, compressed), 0) << n;
        ASSERT_EQ(std::memcmp(sector, disc.data() + n * 2048, 2048), 0) << n;
        if (storage == img::kPlain) {
            EXPECT_FALSE(compressed);
        }
    }
    bool compressed = false;
    EXPECT_NE(reader.readUserData(150, sector, compressed), 0);
}

INSTANTIATE_TEST_SUITE_P(AllStoragesAndSizes, TrackStorage,
                         ::testing::Combine(::testing::Values(0, 1, 2),
                                            ::testing::Values(2048, 2352)));

TEST(TrackFiles, PartNamesAndCaseInsensitiveLookup) {
    EXPECT_EQ(img::partFileName("/a/b.c/Disc.OM4", 0, 0), "/a/b.c/Disc.000");
    EXPECT_EQ(img::partFileName("/a/b.c/Disc.om4", 3, 2), "/a/b.c/Disc.032");
    EXPECT_EQ(img::partFileName("/a/b.c/Disc", 12, 0), "/a/b.c/Disc.120");

    TempRoot root;
    std::string path = writeDisc(root / "d/Disc.om4", makeSectors(40, "X"));
    fs::rename(root / "d/Disc.000", root / "d/DISC.000");
    EXPECT_EQ(img::findPartFile(path, 0, 0), (root / "d/DISC.000").string());
    EXPECT_FALSE(img::findPartFile(path, 1, 0));
}

TEST(TrackFiles, RawSectorUserDataByMode) {
    uint8_t raw[2352];
    uint8_t out[2048];
    std::memset(raw, 0x11, sizeof raw);
    std::memset(raw + 24, 0x22, 2048);
    raw[15] = 2;
    img::userData(raw, 2352, out);
    EXPECT_EQ(out[0], 0x22);
    EXPECT_EQ(out[2047], 0x22);
    raw[15] = 0;
    img::userData(raw, 2352, out);
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[2047], 0);
}

TEST(TrackFiles, FullLengthBlockIsCopiedNotDecompressed) {
    TempRoot root;
    // Random sectors do not compress, so their blocks are stored at full length.
    Sectors disc(48 * 2048);
    std::mt19937 rng(3);
    for (auto& b : disc)
        b = static_cast<uint8_t>(rng());
    DiscOptions o;
    o.storage = img::kLz;
    std::string path = writeDisc(root / "d/r.om4", disc, o);
    img::TrackFile f;
    ASSERT_EQ(f.open(root / "d/r.000"), 0);
    img::BlockLocation where;
    ASSERT_EQ(f.locateBlock(1, where), 0);
    EXPECT_EQ(where.length, 0x8000u);
    uint8_t sector[2048];
    bool compressed = true;
    ASSERT_EQ(f.readUserData(17, sector, compressed), 0);
    EXPECT_FALSE(compressed);
    EXPECT_EQ(std::memcmp(sector, disc.data() + 17 * 2048, 2048), 0);
}

// A hand-made compressed track file: header, table, records.
std::string trackFile(uint8_t storage, uint8_t style, const std::vector<uint32_t>& table,
                      const std::string& records) {
    std::string h(47, '\0');
    h[9] = static_cast<char>(style);
    h[22] = static_cast<char>(storage);
    h[25] = 0x00, h[26] = 0x08;  // 2048
    uint32_t tableAt = 47;
    std::memcpy(h.data() + 31, le32(tableAt).data(), 4);
    for (uint32_t v : table)
        h += le32(v);
    return h + records;
}

TEST(TrackFiles, LengthWordStylesOfLongRecords) {
    TempRoot root;
    // One LZ block holding the empty-stream end code plus trailing bytes: its record is longer
    // than 16 sectors, so the length comes from the word after the two table entries.
    std::string stream = {0x0F, 0, 0, 0, 0x03, 0, 0, 0, char(0xFF)};
    uint32_t dataAt = 47 + 12;
    uint32_t end = dataAt + 2 + 0x8000 + 10;
    for (uint8_t style : {0, 1}) {
        // Third table slot: the word (little-endian) follows the two entries.
        uint32_t word = style ? (0x8000u | uint32_t(stream.size())) : uint32_t(stream.size());
        std::string records(2, '\0');
        records += stream;
        records.resize(end - dataAt, 'z');
        std::string path = (root / ("t" + std::to_string(style) + ".000")).string();
        ombrix::test::writeFile(path, trackFile(1, style, {dataAt, end, word}, records));
        img::TrackFile f;
        ASSERT_EQ(f.open(path), 0);
        img::BlockLocation where;
        ASSERT_EQ(f.locateBlock(0, where), 0);
        EXPECT_EQ(where.length, stream.size());
        uint8_t sector[2048];
        bool compressed = false;
        // The block decodes to nothing, so sector 0 is not there.
        EXPECT_EQ(f.readUserData(0, sector, compressed), 38);
    }
    // Style 1 with the top bit clear means 0x8000 bytes.
    std::string path = (root / "u.000").string();
    std::string records(2, '\0');
    records.resize(end - dataAt, 'z');
    ombrix::test::writeFile(path, trackFile(1, 1, {dataAt, end, 5}, records));
    img::TrackFile f;
    ASSERT_EQ(f.open(path), 0);
    img::BlockLocation where;
    ASSERT_EQ(f.locateBlock(0, where), 0);
    EXPECT_EQ(where.length, 0x8000u);
}

TEST(TrackFiles, CorruptTrackFilesFailCleanly) {
    TempRoot root;
    std::string path = (root / "c.000").string();
    uint8_t sector[2048];
    bool compressed = false;
    img::TrackFile f;

    // Unknown storage value.
    ombrix::test::writeFile(path, trackFile(3, 0, {59, 70}, std::string(11, 'a')));
    EXPECT_EQ(f.open(path), 13);
    // Table entries out of order, past the end of the file, or the table itself past the end.
    ombrix::test::writeFile(path, trackFile(1, 0, {70, 59}, std::string(11, 'a')));
    ASSERT_EQ(f.open(path), 0);
    EXPECT_EQ(f.readUserData(0, sector, compressed), 13);
    ombrix::test::writeFile(path, trackFile(2, 0, {55, 900}, std::string(11, 'a')));
    ASSERT_EQ(f.open(path), 0);
    EXPECT_NE(f.readUserData(0, sector, compressed), 0);
    ombrix::test::writeFile(path, trackFile(2, 0, {55, 70}, std::string(11, 'a')));
    ASSERT_EQ(f.open(path), 0);
    EXPECT_EQ(f.readUserData(16 * 1000, sector, compressed), 38);
    // A record longer than 0x9300 bytes.
    ombrix::test::writeFile(path,
                            trackFile(2, 0, {55, 55 + 0x9400, 0x9400}, std::string(0x9400, 'a')));
    ASSERT_EQ(f.open(path), 0);
    EXPECT_EQ(f.readUserData(0, sector, compressed), 13);
    // Deflate data that is not a zlib stream.
    ombrix::test::writeFile(path, trackFile(2, 0, {55, 70}, std::string(15, 'a')));
    ASSERT_EQ(f.open(path), 0);
    EXPECT_EQ(f.readUserData(0, sector, compressed), 13);
    // A header cut short and a plain track read past its end.
    ombrix::test::writeFile(path, std::string(30, '\0'));
    EXPECT_EQ(f.open(path), 38);
}

TEST(Containers, TrackTableAndSessionBlockMustLieInTheFile) {
    TempRoot root;
    std::string path = writeDisc(root / "d/t.om4", makeSectors(40, "T"));
    img::Container c;
    ASSERT_EQ(img::readContainer(path, c), 0);
    patch(path, 6, std::string(1, char(5)));  // five tracks announced, one stored
    EXPECT_EQ(img::readContainer(path, c), 38);
    patch(path, 6, std::string(1, char(1)));
    patch(path, 995, le32(0xFFFFFF00u));
    EXPECT_EQ(img::readContainer(path, c), 38);
    EXPECT_EQ(img::readContainer(path, c, false), 0);
    patch(path, 837, "NotAContainer");
    EXPECT_EQ(img::readContainer(path, c), 13);
}

TEST(Containers, CreationDateOnlyForYearsTwoTo2037) {
    auto text = [](const char* digits) {
        return img::creationDateText(reinterpret_cast<const uint8_t*>(digits));
    };
    EXPECT_EQ(text("0000010100000000"), "");
    EXPECT_EQ(text("2040010100000000"), "");
    EXPECT_EQ(text("2026120722541600"), "Mon Dec  7 22:54:16 2026");
    EXPECT_NE(text("2037123123595900"), "");
}

}  // namespace
