#include "profiles/secdescriptor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using ombrix::profiles::ArchiveReader;
using ombrix::profiles::ArchiveWriter;
using ombrix::profiles::Sid;
using namespace std::string_literals;

const std::string kAdminsSid = Sid::Administrators().ToBinary();
const std::string kEveryoneSid = Sid::Everyone().ToBinary();

CSecMember member(const char* sid, bool excluded) {
    return {*Sid::Parse(sid), excluded};
}

void putU16(std::string& s, size_t at, uint16_t v) {
    s[at] = static_cast<char>(v);
    s[at + 1] = static_cast<char>(v >> 8);
}

TEST(SecDescriptorBuild, AdministratorsDefaultIsTheSelfRelativeLayout) {
    CSecDescriptor sd;
    sd.BuildAdministratorsDefault();
    const std::string expected =
        "\x01\x00\x04\x80"s
        "\x34\x00\x00\x00"s
        "\x44\x00\x00\x00"s
        "\x00\x00\x00\x00"s
        "\x14\x00\x00\x00"s                  // header: DACL at 20
        "\x02\x00\x20\x00\x01\x00\x00\x00"s  // list: 32 bytes, 1 entry
        "\x00\x00\x18\x00\xFF\xFF\x00\x00"s +
        kAdminsSid +                // allowed, mask 0xFFFF
        kAdminsSid + kEveryoneSid;  // owner, group
    EXPECT_EQ(sd.Bytes(), expected);
    EXPECT_EQ(sd.Owner(), Sid::Administrators());
    EXPECT_EQ(sd.Group(), Sid::Everyone());

    sd.BuildUsersDefault();
    EXPECT_EQ(sd.Bytes().size(), 76u);
    EXPECT_EQ(sd.GetMembers(), (std::vector<CSecMember>{CSecMember{Sid::Everyone(), false}}));
}

TEST(SecDescriptorBuild, EmptyHasNoAccessList) {
    CSecDescriptor sd;
    sd.BuildEmpty();
    EXPECT_EQ(sd.Bytes(), "\x01\x00\x00\x80\x14\x00\x00\x00\x24\x00\x00\x00"s +
                              std::string(8, '\0') + kAdminsSid + kEveryoneSid);
    EXPECT_TRUE(sd.GetMembers().empty());
    CSecDescriptor fromNone;
    EXPECT_TRUE(fromNone.BuildFromMembers({}));
    EXPECT_EQ(fromNone.Bytes(), sd.Bytes());
}

TEST(SecDescriptorBuild, ExcludedMembersComeFirstInListOrder) {
    CSecDescriptor sd;
    ASSERT_TRUE(sd.BuildFromMembers({member("S-1-22-2-100", false), member("S-1-22-1-5", true),
                                     member("S-1-1-0", false), member("S-1-22-1-7", true)}));
    const std::vector<CSecMember> expected{member("S-1-22-1-5", true), member("S-1-22-1-7", true),
                                           member("S-1-22-2-100", false), member("S-1-1-0", false)};
    EXPECT_EQ(sd.GetMembers(), expected);
    CSecDescriptor again;
    ASSERT_TRUE(again.SetBytes(sd.Bytes()));
    EXPECT_EQ(again.GetMembers(), expected);
}

TEST(SecDescriptorBuild, TooManyMembersForOneListLeavesItUnchanged) {
    CSecDescriptor sd;
    sd.BuildUsersDefault();
    const std::string before = sd.Bytes();
    std::vector<CSecMember> many(3000, member("S-1-22-1-1", false));
    EXPECT_FALSE(sd.BuildFromMembers(many));
    EXPECT_EQ(sd.Bytes(), before);
}

TEST(SecDescriptorParse, ForeignEntriesAndPartsAreKeptButIgnored) {
    // An audit entry (type 2) in the list and a system list: stored as they are, no members.
    CSecDescriptor sd;
    sd.BuildUsersDefault();
    std::string bytes = sd.Bytes();
    const std::string audit = "\x02\x00\x14\x00\xFF\xFF\x00\x00"s + kEveryoneSid;
    bytes.insert(28, audit);
    putU16(bytes, 22, static_cast<uint16_t>(28 + audit.size()));  // list size
    putU16(bytes, 24, 2);                                         // entry count
    bytes[4] = static_cast<char>(bytes[4] + audit.size());        // owner and group moved
    bytes[8] = static_cast<char>(bytes[8] + audit.size());
    ASSERT_TRUE(sd.SetBytes(bytes));
    EXPECT_EQ(sd.Bytes(), bytes);
    EXPECT_EQ(sd.GetMembers(), (std::vector<CSecMember>{CSecMember{Sid::Everyone(), false}}));

    std::string out;
    ArchiveWriter writer(out);
    ASSERT_TRUE(sd.Write(writer));
    ArchiveReader reader(out);
    CSecDescriptor back;
    ASSERT_TRUE(back.Read(reader));
    EXPECT_EQ(back.Bytes(), bytes);
}

TEST(SecDescriptorParse, MalformedBytesAreRefused) {
    CSecDescriptor good;
    good.BuildFromMembers({member("S-1-22-1-5", true), member("S-1-1-0", false)});
    const std::string bytes = good.Bytes();
    CSecDescriptor sd;
    for (size_t cut = 1; cut < bytes.size(); ++cut)
        EXPECT_FALSE(sd.SetBytes(bytes.substr(0, cut))) << cut;

    auto refused = [&](const std::string& bad) {
        CSecDescriptor target;
        target.BuildEmpty();
        const std::string before = target.Bytes();
        EXPECT_FALSE(target.SetBytes(bad));
        EXPECT_EQ(target.Bytes(), before);
    };
    std::string b = bytes;
    b[0] = 2;  // revision
    refused(b);
    b = bytes;
    b[3] = 0;  // not self-relative
    refused(b);
    b = bytes;
    b[4] = 4;  // owner inside the header
    refused(b);
    b = bytes;
    b[16] = static_cast<char>(0xF0);  // list beyond the end
    refused(b);
    b = bytes;
    putU16(b, 22, 0xFFF0);  // list size beyond the end
    refused(b);
    b = bytes;
    putU16(b, 24, 3);  // one entry more than the list holds
    refused(b);
    b = bytes;
    putU16(b, 30, 0);  // entry of size 0 would never advance
    refused(b);
    b = bytes;
    putU16(b, 30, 0x200);  // entry beyond its list
    refused(b);
    b = bytes;
    b[37] = 15;  // SID claims more sub-authorities than its entry holds
    refused(b);
    b = bytes;
    b[2] = 0x14;  // a system list inside the header
    b[12] = 2;
    refused(b);
}

TEST(SecDescriptorParse, RecordLengthBeyondTheDataFails) {
    const std::string record = "\x10\x00\x00\x00"s + std::string(8, '\0');
    ArchiveReader reader(record);
    CSecDescriptor sd;
    EXPECT_FALSE(sd.Read(reader));
    const std::string empty = "\x00\x00\x00\x00"s;
    ArchiveReader emptyReader(empty);
    ASSERT_TRUE(sd.Read(emptyReader));
    EXPECT_FALSE(sd.HasDescriptor());
}

}  // namespace
