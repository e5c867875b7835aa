#include "profiles/sid.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using ombrix::profiles::Sid;
using namespace std::string_literals;

TEST(Sid, WellKnownAccountsInTextAndBinary) {
    EXPECT_EQ(Sid::Everyone().ToString(), "S-1-1-0");
    EXPECT_EQ(Sid::Administrators().ToString(), "S-1-5-32-544");
    EXPECT_EQ(Sid::User(1000).ToString(), "S-1-22-1-1000");
    EXPECT_EQ(Sid::Group(27).ToString(), "S-1-22-2-27");
    EXPECT_EQ(Sid::Administrators().ToBinary(),
              "\x01\x02\x00\x00\x00\x00\x00\x05\x20\x00\x00\x00\x20\x02\x00\x00"s);
    EXPECT_EQ(Sid::Everyone().ToBinary(), "\x01\x01\x00\x00\x00\x00\x00\x01\x00\x00\x00\x00"s);
    EXPECT_EQ(Sid::User(0x12345678).ToBinary().substr(12), "\x78\x56\x34\x12");
}

TEST(Sid, TextAndBinaryRoundTrip) {
    for (const char* text :
         {"S-1-5-32-544", "S-1-0", "S-1-5", "S-1-22-2-4294967295", "S-1-0x123456789ABC-7",
          "S-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"}) {
        auto sid = Sid::Parse(text);
        ASSERT_TRUE(sid) << text;
        EXPECT_EQ(sid->ToString(), text);
        const std::string binary = sid->ToBinary();
        EXPECT_EQ(binary.size(), sid->BinarySize());
        auto back = Sid::FromBinary(binary + "trailing");
        ASSERT_TRUE(back) << text;
        EXPECT_EQ(*back, *sid);
    }
    // Decimal authorities from 2^32 on come back in the hexadecimal form.
    EXPECT_EQ(Sid::Parse("s-1-4294967296-1")->ToString(), "S-1-0x000100000000-1");
}

TEST(Sid, MalformedIsRefused) {
    for (const char* text :
         {"", "S-1", "S-1-", "S-2-5", "X-1-5", "S-1-5-", "S-1--5", "S-1-5-4294967296",
          "S-1-281474976710656", "S-1-0x1000000000000", "S-1-5-+3", " S-1-5", "S-1-5 ", "S-1-0x",
          "S-1-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16-17"}) {
        EXPECT_FALSE(Sid::Parse(text)) << text;
    }
    const std::string good = Sid::Administrators().ToBinary();
    for (size_t cut = 0; cut < good.size(); ++cut)
        EXPECT_FALSE(Sid::FromBinary(good.substr(0, cut))) << cut;
    std::string badRevision = good;
    badRevision[0] = 2;
    EXPECT_FALSE(Sid::FromBinary(badRevision));
    std::string tooMany = "\x01\x10"s + std::string(6 + 16 * 4, '\0');
    EXPECT_FALSE(Sid::FromBinary(tooMany));
    EXPECT_FALSE(Sid::Make(uint64_t{1} << 48, {}));
    EXPECT_FALSE(Sid::Make(5, std::vector<uint32_t>(16)));
}

}  // namespace
