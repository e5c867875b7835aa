#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "common/image_container.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_disc.h"
#include "common/raw_sector.h"
#include "common/test_disc.h"
#include "support/temp_root.h"

namespace img = ombrix::image;
using ombrix::test::TempRoot;
using namespace ombrix::testdisc;

namespace {

std::string label(const std::string& path, int* changeable = nullptr) {
    char buffer[64] = {};
    int rc = OMXGetISOLabel(path.c_str(), buffer, sizeof buffer, changeable);
    return rc == 0 ? std::string(buffer) : "<" + std::to_string(rc) + ">";
}

std::string trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

class DiscInfo : public ::testing::Test {
  protected:
    std::string disc(const DiscOptions& o = {}, bool joliet = true,
                     const std::string& name = "Disc.om4") {
        return writeDisc(root_ / "img" / name, makeSectors(64, "VOLUME_ONE", joliet), o);
    }
    TempRoot root_;
};

TEST_F(DiscInfo, LabelComesFromJolietWhenPresent) {
    int changeable = -1;
    EXPECT_EQ(trimmed(label(disc(), &changeable)), "VOLUME_ONE");
    EXPECT_EQ(changeable, 1);
    EXPECT_EQ(label(disc({}, false, "p.om4")).size(), 32u);  // primary: 32 characters as stored

    char small[8];
    EXPECT_EQ(OMXGetISOLabel(disc().c_str(), small, sizeof small, nullptr), 234);
    EXPECT_EQ(OMXGetISOLabel(nullptr, small, sizeof small, nullptr), 87);
    EXPECT_EQ(OMXGetISOLabel((root_ / "none.om4").c_str(), small, sizeof small, nullptr), 1208);
}

TEST_F(DiscInfo, ChangingTheLabelInPlainAndRawTracks) {
    for (uint16_t size : {uint16_t(2048), uint16_t(2352)}) {
        DiscOptions o;
        o.sectorSize = size;
        std::string path = disc(o, true, "c" + std::to_string(size) + ".om4");
        ASSERT_EQ(OMXChangeIsoLabelFile(path.c_str(), "my disc-1"), 0);
        EXPECT_EQ(label(path), "my disc-1");  // Joliet keeps the case
        // The primary descriptor holds the upper-cased label with underscores.
        img::TrackReader reader(path, 0, 0);
        uint8_t d[2048];
        bool compressed = false;
        ASSERT_EQ(reader.readUserData(16, d, compressed), 0);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(d + 40)), "MY_DISC_1");
        ASSERT_EQ(reader.readUserData(17, d, compressed), 0);
        EXPECT_EQ(d[40], 0);
        EXPECT_EQ(d[41], 'm');
        EXPECT_EQ(d[57], '1');
        EXPECT_EQ(d[58], 0);
        if (size == img::kRawSectorSize) {
            // The changed raw sectors keep valid EDC and ECC.
            for (uint32_t n : {16u, 17u}) {
                uint8_t stored[2352], expected[2352];
                ASSERT_EQ(reader.readSector(n, stored, compressed), 0);
                ASSERT_EQ(reader.readUserData(n, d, compressed), 0);
                img::makeRawSector(d, n, expected);
                EXPECT_EQ(std::memcmp(stored, expected, sizeof stored), 0) << n;
            }
        }
    }
}

// The descriptors may lie in two part files: the change reaches both, as the label read does.
TEST_F(DiscInfo, ChangingTheLabelAcrossPartFiles) {
    for (uint16_t size : {uint16_t(2048), uint16_t(2352)}) {
        DiscOptions o;
        o.sectorSize = size;
        o.sectorsPerPart = 17;  // the primary descriptor in part 0, Joliet's in part 1
        std::string path = disc(o, true, "split" + std::to_string(size) + ".om4");
        ASSERT_EQ(OMXChangeIsoLabelFile(path.c_str(), "split disc"), 0) << size;
        EXPECT_EQ(label(path), "split disc") << size;
    }
}

TEST_F(DiscInfo, CompressedBlockMakesTheLabelUnchangeable) {
    DiscOptions o;
    o.storage = img::kDeflate;
    std::string path = disc(o);
    int changeable = -1;
    EXPECT_EQ(trimmed(label(path, &changeable)), "VOLUME_ONE");
    EXPECT_EQ(changeable, 0);
    EXPECT_EQ(OMXChangeIsoLabelFile(path.c_str(), "NEW"), 1208);
    EXPECT_EQ(trimmed(label(path)), "VOLUME_ONE");
    EXPECT_EQ(OMXIsAnyTrackCompressed(path.c_str()), 1);
    EXPECT_EQ(OMXIsAnyTrackCompressed(disc({}, true, "plain.om4").c_str()), 0);
    EXPECT_EQ(OMXIsAnyTrackCompressed((root_ / "none").c_str()), -1);
}

TEST_F(DiscInfo, ChangeLabelInBlockNeedsAPrimaryDescriptor) {
    std::vector<unsigned char> block(0x8000, 0);
    EXPECT_EQ(OMXChangeIsoLabel(block.data(), 0x8000, "X"), 0);
    Sectors s = makeSectors(32, "OLD");
    std::memcpy(block.data(), s.data() + 16 * 2048, 0x8000);
    EXPECT_EQ(OMXChangeIsoLabel(block.data(), 0x7000, "X"), 0);
    ASSERT_EQ(OMXChangeIsoLabel(block.data(), 0x8000,
                                "a very long label with more than thirty-two characters"),
              1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block.data() + 40), 32),
              "A_VERY_LONG_LABEL_WITH_MORE_THAN");
}

TEST_F(DiscInfo, CommentIsAppendedAndReplaced) {
    std::string path = disc();
    char text[64];
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), 0);
    const auto sizeBefore = std::filesystem::file_size(path);
    ASSERT_EQ(OMXSetComment(path.c_str(), "first"), 0);
    EXPECT_EQ(std::filesystem::file_size(path), sizeBefore + 5);
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), 5);
    EXPECT_STREQ(text, "first");
    ASSERT_EQ(OMXSetComment(path.c_str(), "second one"), 0);
    EXPECT_EQ(std::filesystem::file_size(path), sizeBefore + 10);
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), 10);
    EXPECT_STREQ(text, "second one");
    EXPECT_EQ(OMXSetComment(nullptr, "x"), 87);
    EXPECT_EQ(OMXGetComment(nullptr, text, sizeof text), -1);

    // A header changed behind the checksum's back is never rewritten.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(851);
        f.write("X", 1);
    }
    EXPECT_EQ(OMXSetComment(path.c_str(), "x"), 1208);
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), 10);
    // A comment pointing past the end of the file reads as a failure.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(991);
        uint32_t far = 0x7FFFFFF0;
        f.write(reinterpret_cast<char*>(&far), 4);
    }
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), -1);
}

TEST_F(DiscInfo, LongerCommentMovesTheSessionBlock) {
    DiscOptions o;
    o.comment = "short";
    Sectors s = makeSectors(64, "MULTI");
    // writeContainer places the session block after the comment.
    std::string path = writeDisc(root_ / "img/m.om4", s, o);
    img::ContainerSpec spec;
    spec.sectorsPerPart = 0;
    spec.comment = "short";
    spec.tracks.push_back({img::kDataTrack, 0, 0, 64, ""});
    spec.trackList.push_back({0x14, 1, 0});
    spec.leadOut = 64;
    std::array<uint8_t, img::kSessionBlockSize> block{};
    block[3] = 1;  // one session
    block[6] = 1;  // its first track
    block[13] = 2 + 2 * 11;
    const uint8_t a0[11] = {1, 0x14, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0};
    const uint8_t a1[11] = {1, 0x14, 0, 0xA1, 0, 0, 0, 0, 1, 0, 0};
    std::memcpy(block.data() + 16, a0, 11);
    std::memcpy(block.data() + 27, a1, 11);
    spec.sessionBlock = block;
    spec.trailingBlockOffset = 100;  // before the comment: stays
    ASSERT_EQ(img::writeContainer(path, spec), 0);
    OmxImageHeader h;
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    const uint32_t sessionAt = h.sessionBlockOffset;
    ASSERT_GT(sessionAt, h.commentOffset);

    ASSERT_EQ(OMXSetComment(path.c_str(), "a much longer comment"), 0);
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_EQ(h.sessionBlockOffset, sessionAt + 16);
    EXPECT_EQ(h.trailingBlockOffset, 100u);
    char text[8];
    EXPECT_EQ(OMXGetComment(path.c_str(), text, sizeof text), 21);
    EXPECT_STREQ(text, "a much ");
    OmxSessionInfo sessions[2];
    ASSERT_EQ(OMXGetSessions(path.c_str(), sessions, sizeof sessions), 1);
    EXPECT_EQ(sessions[0].kind, 1);
    EXPECT_EQ(trimmed(sessions[0].label), "MULTI");
    EXPECT_EQ(trimmed(label(path)), "MULTI");

    ASSERT_EQ(OMXSetComment(path.c_str(), ""), 0);
    ASSERT_EQ(OMXGetHeader(path.c_str(), &h), 0);
    EXPECT_EQ(h.sessionBlockOffset, sessionAt - 5);
    EXPECT_EQ(OMXGetSessions(path.c_str(), sessions, sizeof sessions), 1);
    EXPECT_EQ(OMXGetSessions(path.c_str(), sessions, 100), 0);
}

TEST_F(DiscInfo, SessionsWithAudioAndSeveralDataTracks) {
    // Session 1: audio track 1 and data track 2; session 2: data track 3.
    std::string path = (root_ / "img/ms.om4").string();
    std::filesystem::create_directories(root_ / "img");
    Sectors second = makeSectors(40, "SECOND");
    Sectors third = makeSectors(40, "THIRD");
    for (auto [index, data] : {std::pair{1, &second}, std::pair{2, &third}}) {
        img::PartWriter w;
        ASSERT_EQ(w.open(img::partFileName(path, index, 0), {}, 40, 0), 0);
        ASSERT_EQ(w.add(data->data(), 40), 0);
        ASSERT_EQ(w.finish(), 0);
    }
    img::ContainerSpec spec;
    spec.tracks.push_back({img::kAudioTrack, 0, 0, 1000, "/music/track1.wav"});
    spec.tracks.push_back({img::kDataTrack, 0, 1000, 1040, ""});
    spec.tracks.push_back({img::kDataTrack, 0, 20000, 20040, ""});
    spec.trackList = {{0x10, 1, 0}, {0x14, 2, 1000}, {0x14, 3, 20000}};
    spec.leadOut = 20040;
    std::array<uint8_t, img::kSessionBlockSize> block{};
    block[3] = 2;
    block[6] = 3;
    const uint8_t toc[4][11] = {{1, 0, 0, 0xA0, 0, 0, 0, 0, 1, 0, 0},
                                {1, 0, 0, 0xA1, 0, 0, 0, 0, 2, 0, 0},
                                {2, 0, 0, 0xA0, 0, 0, 0, 0, 3, 0, 0},
                                {2, 0, 0, 0xA1, 0, 0, 0, 0, 3, 0, 0}};
    block[13] = 2 + 4 * 11;
    std::memcpy(block.data() + 16, toc, sizeof toc);
    spec.sessionBlock = block;
    ASSERT_EQ(img::writeContainer(path, spec), 0);

    OmxSessionInfo s[3];
    ASSERT_EQ(OMXGetSessions(path.c_str(), s, sizeof s), 2);
    EXPECT_EQ(s[0].kind, 3);
    EXPECT_EQ(s[0].firstTrack, 1);
    EXPECT_EQ(s[0].lastTrack, 2);
    EXPECT_EQ(s[0].firstDataTrack, 2);
    EXPECT_EQ(s[0].startAddress, 1000);
    EXPECT_EQ(trimmed(s[0].label), "SECOND");
    EXPECT_EQ(s[1].kind, 1);
    EXPECT_EQ(s[1].firstDataTrack, 3);
    EXPECT_EQ(trimmed(s[1].label), "THIRD");
    EXPECT_NE(std::string(s[1].date), "");
    img::Container c;
    ASSERT_EQ(img::readContainer(path, c), 0);
    EXPECT_TRUE(img::hasAudioTrack(c));
    // The label functions look at the last session.
    EXPECT_EQ(trimmed(label(path)), "THIRD");

    std::vector<uint8_t> table(3 * 282 + 10, 0xEE);
    EXPECT_EQ(OMXGetTrkTable(path.c_str(), table.data(), static_cast<int>(table.size())), 3);
    EXPECT_EQ(table[0], img::kAudioTrack);
    EXPECT_STREQ(reinterpret_cast<char*>(table.data() + 22), "/music/track1.wav");
    EXPECT_EQ(table.back(), 0);  // cleared
    EXPECT_EQ(OMXGetTrkTable(path.c_str(), table.data(), 3 * 282 - 1), 0);
}

}  // namespace
