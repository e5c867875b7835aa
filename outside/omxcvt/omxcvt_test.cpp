#include "omxcvt.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "common/image_container.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_disc.h"
#include "support/disc_fixtures.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
namespace img = ombrix::image;
using ombrix::test::haveTool;
using ombrix::test::runCommand;
using ombrix::test::shellQuoted;
using ombrix::test::TempRoot;

namespace {

// A folder tree with nested folders, long and non-ASCII names, and files of several sizes.
void makeTree(const fs::path& dir, size_t bigFileBytes = 0) {
    fs::create_directories(dir / "one/two/three");
    fs::create_directories(dir / "Grüße aus Köln");
    ombrix::test::writeFile(dir / "readme.txt", "hello\n");
    ombrix::test::writeFile(dir / "one/two/three/a file with a rather long name of many words.txt",
                            std::string(5000, 'x'));
    ombrix::test::writeFile(dir / "Grüße aus Köln/Übersicht.txt", "Straße\n");
    std::mt19937 rng(5);
    std::string data(300000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (i / 4096) % 2 ? char(rng()) : char('a' + i % 23);
    ombrix::test::writeFile(dir / "one/mixed.bin", data);
    if (bigFileBytes) {
        std::ofstream big(dir / "big.bin", std::ios::binary);
        std::string piece(1 << 20, '\0');
        for (size_t done = 0; done < bigFileBytes; done += piece.size()) {
            for (size_t i = 0; i < piece.size(); i += 64)
                piece[i] = char(rng());
            big.write(piece.data(), static_cast<std::streamsize>(piece.size()));
        }
    }
}

fs::path makeIso(const fs::path& dir, const std::string& name, bool joliet,
                 const std::string& volume, size_t bigFileBytes = 0) {
    makeTree(dir / (name + "-src"), bigFileBytes);
    return ombrix::test::makeIso(dir / (name + "-src"), dir / (name + ".iso"), joliet, volume);
}

std::string isoInfoVolume(const fs::path& iso, bool joliet) {
    std::string out =
        runCommand("iso-info --no-header " + std::string(joliet ? "" : "--no-joliet ") + "-d -i " +
                   shellQuoted(iso) + " 2>/dev/null");
    size_t at = out.rfind("Volume      : ");
    if (at == std::string::npos) return "<none>";
    size_t end = out.find('\n', at);
    return out.substr(at + 14, end - at - 14);
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Every sector of the converted image equals the ISO's.
void expectSameSectors(const std::string& container, const fs::path& iso) {
    std::string bytes = slurp(iso);
    img::Container c;
    ASSERT_EQ(img::readContainer(container, c), 0);
    ASSERT_EQ(c.tracks.size(), 1u);
    const uint32_t sectors = static_cast<uint32_t>(bytes.size() / 2048);
    ASSERT_EQ(c.tracks[0].endSector, sectors);
    img::TrackReader reader(container, 0, c.header.sectorsPerPartFile);
    uint8_t sector[2048];
    for (uint32_t n = 0; n < sectors; ++n) {
        bool compressed = false;
        ASSERT_EQ(reader.readUserData(n, sector, compressed), 0) << n;
        ASSERT_EQ(std::memcmp(sector, bytes.data() + size_t(n) * 2048, 2048), 0) << n;
    }
}

class Converter : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!haveTool("xorriso") || !haveTool("iso-info"))
            GTEST_SKIP() << "xorriso and iso-info are needed";
    }
    TempRoot root_;
};

TEST_F(Converter, EveryStorageAndSectorSizeReadsBackTheIso) {
    fs::path iso = makeIso(root_.path(), "joliet", true, "Joliet Disc");
    ASSERT_FALSE(iso.empty());
    for (int storage : {OMXCVT_PLAIN, OMXCVT_LZ, OMXCVT_DEFLATE}) {
        for (int sectorSize : {2048, 2352}) {
            SCOPED_TRACE(std::to_string(storage) + "/" + std::to_string(sectorSize));
            std::string target = (root_ / ("out-" + std::to_string(storage) + "-" +
                                           std::to_string(sectorSize) + "/Disc.om4"))
                                     .string();
            fs::create_directories(fs::path(target).parent_path());
            OmxCvtOptions o{};
            o.storage = storage;
            o.sectorSize = sectorSize;
            o.sectorsPerPart = 64;
            o.target = target.c_str();
            ASSERT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 0);
            EXPECT_TRUE(fs::exists(img::partFileName(target, 0, 1)));
            expectSameSectors(target, iso);

            char label[64];
            int changeable = -1;
            ASSERT_EQ(OMXGetISOLabel(target.c_str(), label, sizeof label, &changeable), 0);
            EXPECT_EQ(trimmed(label), isoInfoVolume(iso, true));
            OmxSessionInfo session;
            ASSERT_EQ(OMXGetSessions(target.c_str(), &session, sizeof session), 1);
            EXPECT_EQ(session.kind, 1);
            EXPECT_STREQ(session.date, "Tue Jan  2 03:04:05 2024");
            EXPECT_EQ(OMXIsAnyTrackCompressed(target.c_str()), storage != OMXCVT_PLAIN);
        }
    }
}

TEST_F(Converter, PlainIsoLabelAndChangingIt) {
    fs::path iso = makeIso(root_.path(), "plain", false, "PLAIN_DISC");
    ASSERT_FALSE(iso.empty());
    ASSERT_EQ(OMXConvertISO2OM4(iso.c_str(), OMXCVT_PLAIN, 1, nullptr), 0);
    std::string target = (root_ / "plain.om4").string();
    char label[64];
    int changeable = 0;
    ASSERT_EQ(OMXGetISOLabel(target.c_str(), label, sizeof label, &changeable), 0);
    EXPECT_EQ(trimmed(label), isoInfoVolume(iso, false));
    EXPECT_EQ(changeable, 1);
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(target.c_str(), &h), 0);
    EXPECT_STREQ(h.description, "PLAIN_DISC");

    ASSERT_EQ(OMXChangeIsoLabelFile(target.c_str(), "renamed disc"), 0);
    ASSERT_EQ(OMXGetISOLabel(target.c_str(), label, sizeof label, nullptr), 0);
    EXPECT_EQ(std::string(label), "RENAMED_DISC");
    // Give the track's sectors back as an ISO and ask the outside tool.
    fs::path back = root_ / "back.iso";
    {
        std::ofstream out(back, std::ios::binary);
        img::Container c;
        ASSERT_EQ(img::readContainer(target, c), 0);
        img::TrackReader reader(target, 0, c.header.sectorsPerPartFile);
        uint8_t sector[2048];
        bool compressed = false;
        for (uint32_t n = 0; n < c.tracks[0].endSector; ++n) {
            ASSERT_EQ(reader.readUserData(n, sector, compressed), 0);
            out.write(reinterpret_cast<char*>(sector), 2048);
        }
    }
    EXPECT_EQ(isoInfoVolume(back, false), "RENAMED_DISC");
}

TEST_F(Converter, DescriptionPasswordAndComment) {
    fs::path iso = makeIso(root_.path(), "meta", true, "Meta");
    ASSERT_FALSE(iso.empty());
    OmxCvtOptions o{};
    o.storage = OMXCVT_LZ;
    o.sectorSize = 2048;
    o.description = "A described disc";
    o.password = "secret";
    o.comment = "Made by the converter test";
    ASSERT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 0);
    std::string target = (root_ / "meta.om4").string();
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(target.c_str(), &h), 0);
    EXPECT_STREQ(h.description, "A described disc");
    EXPECT_EQ(OMXHasPWD(target.c_str()), 1);
    EXPECT_EQ(OMXSetPWD(target.c_str(), "wrong", ""), 86);
    char comment[64];
    EXPECT_EQ(OMXGetComment(target.c_str(), comment, sizeof comment), 26);
    EXPECT_STREQ(comment, "Made by the converter test");
    // An existing container is only replaced when asked to.
    o.overwrite = 0;
    EXPECT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 5);
    char text[260];
    EXPECT_GT(OMXGetLastCVTError(text, sizeof text), 0);
}

int g_calls = 0;
int cancelHalfway(int percent) {
    ++g_calls;
    return percent < 50;
}

TEST_F(Converter, CancelRemovesWhatWasWritten) {
    fs::path iso = makeIso(root_.path(), "cancel", true, "Cancel");
    ASSERT_FALSE(iso.empty());
    OmxCvtOptions o{};
    o.sectorSize = 2048;
    o.sectorsPerPart = 64;
    o.progress = cancelHalfway;
    EXPECT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 7);
    EXPECT_GT(g_calls, 1);
    for (auto& e : fs::directory_iterator(root_.path()))
        EXPECT_EQ(e.path().string().find("cancel.0"), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists(root_ / "cancel.om4"));
}

TEST_F(Converter, RefusesWhatIsNoIso) {
    ombrix::test::writeFile(root_ / "text.iso", std::string(100000, 'x'));
    EXPECT_EQ(OMXConvertISO2OM4((root_ / "text.iso").c_str(), 0, 1, nullptr), 2);
    EXPECT_EQ(OMXConvertISO2OM4((root_ / "missing.iso").c_str(), 0, 1, nullptr), 2);
    EXPECT_EQ(OMXConvertISO2OM4(nullptr, 0, 1, nullptr), 87);
    std::string zrm(2000, '\0');
    std::memcpy(zrm.data() + 140, "ZRM V3.0", 8);
    ombrix::test::writeFile(root_ / "old.zrm", zrm);
    EXPECT_EQ(OMXConvertZRM2OM4((root_ / "old.zrm").c_str(), 0, 1, nullptr), 2);
    char text[260];
    EXPECT_GT(OMXGetLastCVTError(text, sizeof text), 0);
    EXPECT_NE(std::string(text).find("older format"), std::string::npos);
}

// An output named like the source is refused before anything is written, and the source stays.
TEST_F(Converter, NeverWritesOverItsSource) {
    fs::path iso = makeIso(root_.path(), "tiny", true, "Tiny");
    ASSERT_FALSE(iso.empty());
    fs::create_directories(root_ / "d");
    const fs::path part0 = root_ / "d/disc.000";  // the first part file's name of d/disc.om4
    fs::copy_file(iso, part0);
    const std::string before = slurp(part0);
    OmxCvtOptions o{};
    o.sectorSize = 2048;
    EXPECT_EQ(OMXConvertISO2OM4Ex(part0.c_str(), &o), 5);
    EXPECT_EQ(slurp(part0), before);
    EXPECT_FALSE(fs::exists(root_ / "d/disc.om4"));
}

// Converted again into fewer parts: the old conversion's further parts go; the header holds the
// size the image holds.
TEST_F(Converter, ConvertingAgainLeavesNoOldPartsAndCountsWholeSectors) {
    fs::path iso = makeIso(root_.path(), "again", true, "Again");
    ASSERT_FALSE(iso.empty());
    const std::string target = (root_ / "again.om4").string();
    OmxCvtOptions o{};
    o.sectorSize = 2048;
    o.sectorsPerPart = 64;
    o.overwrite = 1;
    ASSERT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 0);
    ASSERT_TRUE(fs::exists(img::partFileName(target, 0, 3)));
    o.sectorsPerPart = 0;
    ASSERT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 0);
    EXPECT_TRUE(fs::exists(img::partFileName(target, 0, 0)));
    for (int part = 1; part < 10; ++part)
        EXPECT_FALSE(fs::exists(img::partFileName(target, 0, part))) << part;
    expectSameSectors(target, iso);
    OmxImageHeader header;
    ASSERT_EQ(OMXGetHeader(target.c_str(), &header), 0);
    EXPECT_EQ(header.contentSize, (fs::file_size(iso) + 2047) / 2048 * 2048);
}

TEST_F(Converter, LargeFileAcrossTrackParts) {
    fs::path iso = makeIso(root_.path(), "big", true, "Big", size_t(105) << 20);
    ASSERT_FALSE(iso.empty());
    ASSERT_GT(fs::file_size(iso), size_t(100) << 20);
    for (int storage : {OMXCVT_PLAIN, OMXCVT_DEFLATE}) {
        SCOPED_TRACE(storage);
        OmxCvtOptions o{};
        o.storage = storage;
        o.sectorSize = 2352;
        o.sectorsPerPart = 20000;
        o.overwrite = 1;
        ASSERT_EQ(OMXConvertISO2OM4Ex(iso.c_str(), &o), 0);
        std::string target = (root_ / "big.om4").string();
        EXPECT_TRUE(fs::exists(img::partFileName(target, 0, 2)));
        expectSameSectors(target, iso);
    }
}

TEST_F(Converter, CommandLine) {
    fs::path iso = makeIso(root_.path(), "cli", true, "Cli");
    ASSERT_FALSE(iso.empty());
    fs::path program = ombrix::test::systemDir() / "omxcvt";
    int status = -1;
    EXPECT_NE(runCommand(shellQuoted(program) + " --help", &status).find("--storage"),
              std::string::npos);
    EXPECT_EQ(status, 0);
    runCommand(shellQuoted(program) + " --quiet --storage deflate --output " +
                   shellQuoted(root_ / "c/x.om4") + " " + shellQuoted(iso) + " 2>&1",
               &status);
    EXPECT_NE(status, 0);  // the folder is missing
    fs::create_directories(root_ / "c");
    runCommand(shellQuoted(program) + " --quiet --storage deflate --sector-size 2352 --output " +
                   shellQuoted(root_ / "c/x.om4") + " " + shellQuoted(iso),
               &status);
    EXPECT_EQ(status, 0);
    expectSameSectors((root_ / "c/x.om4").string(), iso);
    runCommand(shellQuoted(program) + " --storage bogus " + shellQuoted(iso) + " 2>/dev/null",
               &status);
    EXPECT_NE(status, 0);
}

}  // namespace
