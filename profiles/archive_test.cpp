#include "profiles/archive.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ombrix::profiles::ArchiveReader;
using ombrix::profiles::ArchiveWriter;
using namespace std::string_literals;

std::string written(const std::string& text) {
    std::string out;
    ArchiveWriter writer(out);
    EXPECT_TRUE(writer.WriteText(text));
    return out;
}

std::string readBack(const std::string& bytes, bool expectOk = true) {
    ArchiveReader reader(bytes);
    std::string text = "<unread>";
    EXPECT_EQ(reader.ReadText(text), expectOk);
    if (expectOk)
        EXPECT_EQ(reader.Remaining(), 0u);
    else
        EXPECT_EQ(reader.Position(), 0u);
    return text;
}

TEST(ArchiveText, LengthPrefixesAtEachBoundary) {
    EXPECT_EQ(written(""), "\x00"s);
    EXPECT_EQ(written("abc"),
              "\x03"s
              "abc");
    EXPECT_EQ(written(std::string(254, 'a')).substr(0, 1), "\xFE");
    EXPECT_EQ(written(std::string(255, 'a')).substr(0, 3), "\xFF\xFF\x00"s);
    EXPECT_EQ(written(std::string(0xFFFD, 'a')).substr(0, 3), "\xFF\xFD\xFF"s);
    // 0xFFFE would read as the wide marker, so from there on the 32-bit form is used.
    EXPECT_EQ(written(std::string(0xFFFE, 'a')).substr(0, 7), "\xFF\xFF\xFF\xFE\xFF\x00\x00"s);
    for (size_t length : {0u, 1u, 254u, 255u, 0xFFFDu, 0xFFFEu, 0x10000u}) {
        const std::string text(length, 'x');
        EXPECT_EQ(readBack(written(text)), text) << length;
    }
}

TEST(ArchiveText, WideTextsBecomeUtf8) {
    // Marker, then the length in characters, then 16-bit characters.
    EXPECT_EQ(readBack("\xFF\xFE\xFF\x02h\x00\xE9\x00"s), "h\xC3\xA9");
    EXPECT_EQ(readBack("\xFF\xFE\xFF\x02\x3D\xD8\x00\xDE"s), "\xF0\x9F\x98\x80");  // a pair
    EXPECT_EQ(readBack("\xFF\xFE\xFF\x02\x00\xD8x\x00"s), "\xEF\xBF\xBDx");        // unpaired
    const std::string longWide = "\xFF\xFE\xFF\xFF\x00\x01"s + std::string(2 * 256, '\0');
    EXPECT_EQ(readBack(longWide), std::string(256, '\0'));
    // Only one marker is taken; a second one is a 16-bit length of 0xFFFE characters.
    readBack("\xFF\xFE\xFF\xFF\xFE\xFF"s, false);
}

TEST(ArchiveText, ShortDataFailsWithoutMoving) {
    readBack("", false);
    readBack(
        "\x05"s
        "abcd",
        false);
    readBack("\xFF\x01"s, false);
    readBack("\xFF\xFF\xFF\x01\x00\x00"s, false);
    readBack(
        "\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s
        "abc",
        false);                                                        // 4 GiB claimed
    readBack("\xFF\xFE\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF"s, false);  // 8 GiB claimed, wide
    readBack("\xFF\xFE\xFF\x02h\x00i"s, false);                        // half a character short

    const std::string bytes = "\x01\x02\x03"s;
    ArchiveReader reader(bytes);
    uint32_t value = 0;
    EXPECT_FALSE(reader.ReadU32(value));
    uint16_t half = 0;
    ASSERT_TRUE(reader.ReadU16(half));
    EXPECT_EQ(half, 0x0201);
    EXPECT_EQ(reader.Remaining(), 1u);
}

}  // namespace
