#include "profiles/profile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/temp_root.h"

namespace {

using ombrix::profiles::Sid;
using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::writeFile;
using namespace std::string_literals;

std::string u32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::string text(const std::string& s) {
    return static_cast<char>(s.size()) + s;
}

std::string saved(const CProfileList& list) {
    std::string out;
    EXPECT_EQ(list.Save(out), 0);
    return out;
}

CProfile profile(const std::string& name, uint32_t rights, std::vector<CSecMember> members) {
    CProfile p;
    p.name = name;
    p.rights = rights;
    EXPECT_TRUE(p.security.BuildFromMembers(members));
    return p;
}

CSecMember allow(const Sid& sid) {
    return {sid, false};
}
CSecMember deny(const Sid& sid) {
    return {sid, true};
}

// Defaults, a profile with drives and one whose descriptor is missing.
CProfileList sampleList() {
    CProfileList list;
    list.SetDefaults();
    CProfile drives = profile("CD users", 4, {allow(Sid::Group(100)), deny(Sid::User(1001))});
    drives.driveImages = {{"E", "/srv/images/a.om4"}, {"F", "/srv/images/b.om4"}};
    list.Profiles().push_back(drives);
    CProfile bare;
    bare.name = "bare";
    bare.rights = 8;
    list.Profiles().push_back(bare);
    return list;
}

TEST(ProfileFile, DefaultFileIsByteExact) {
    CProfileList list;
    list.SetDefaults();
    CSecDescriptor admins, users;
    admins.BuildAdministratorsDefault();
    users.BuildUsersDefault();
    const std::string expected =
        "\x14NRV Profiles Ver 1.0"s + u32(2) + "\x23Internal profile for administrators" + u32(14) +
        "\x00\x00"s + u32(80) + admins.Bytes() +  //
        "\x1AInternal profile for users" + u32(5) + "\x00\x00"s + u32(76) + users.Bytes();
    EXPECT_EQ(saved(list), expected);

    CProfileList back;
    ASSERT_EQ(back.Load(expected), 0);
    ASSERT_EQ(back.Profiles().size(), 2u);
    EXPECT_EQ(back.Profiles()[0].security.GetMembers(),
              std::vector<CSecMember>{allow(Sid::Administrators())});
    EXPECT_EQ(saved(back), expected);
}

TEST(ProfileFile, DriveMapRoundTrips) {
    CProfileList list = sampleList();
    const std::string bytes = saved(list);
    const std::string map = u32(4) + "\x02\x00"s + text("E") + text("/srv/images/a.om4") +
                            text("F") + text("/srv/images/b.om4");
    EXPECT_NE(bytes.find(text("CD users") + map), std::string::npos);

    CProfileList back;
    ASSERT_EQ(back.Load(bytes), 0);
    ASSERT_EQ(back.Profiles().size(), 4u);
    EXPECT_EQ(back.Profiles()[2].driveImages, list.Profiles()[2].driveImages);
    EXPECT_EQ(back.Profiles()[2].security.GetMembers(),
              (std::vector<CSecMember>{deny(Sid::User(1001)), allow(Sid::Group(100))}));
    EXPECT_EQ(saved(back), bytes);
}

TEST(ProfileFile, LongDriveCountForm) {
    // A reader takes the long form even for a small count; a writer uses it from 0xFFFF on.
    const std::string longForm = text(std::string(CProfileList::kHeader)) + u32(1) + text("p") +
                                 u32(0) + "\xFF\xFF"s + u32(1) + text("G") + text("/g") + u32(0);
    CProfileList list;
    ASSERT_EQ(list.Load(longForm), 0);
    EXPECT_EQ(list.Profiles()[0].driveImages.at("G"), "/g");

    for (uint32_t i = 0; i < 0xFFFF; ++i)
        list.Profiles()[0].driveImages[std::to_string(i)] = "";
    const std::string bytes = saved(list);
    EXPECT_NE(bytes.find(text("p") + u32(0) + "\xFF\xFF"s + u32(0x10000)), std::string::npos);
    CProfileList back;
    ASSERT_EQ(back.Load(bytes), 0);
    EXPECT_EQ(back.Profiles()[0].driveImages.size(), 0x10000u);
}

TEST(ProfileFile, WrongHeaderLoadsNothing) {
    std::string bytes = saved(sampleList());
    CProfileList list = sampleList();
    bytes[20] = '1';  // "NRV Profiles Ver 1.1"
    EXPECT_EQ(list.Load(bytes), -1);
    EXPECT_TRUE(list.Profiles().empty());
    list = sampleList();
    EXPECT_EQ(list.Load("\x13NRV Profiles Ver 1."s + u32(0)), -1);
    EXPECT_TRUE(list.Profiles().empty());
}

TEST(ProfileFile, EveryTruncationFailsCleanly) {
    std::string bytes = saved(sampleList());
    // A wide-text profile name as well.
    bytes.replace(21, 4, u32(5));
    bytes += "\xFF\xFE\xFF\x03W\x00\xFC\x00!\x00"s + u32(2) + "\x00\x00"s + u32(0);
    CProfileList list;
    ASSERT_EQ(list.Load(bytes), 0);
    EXPECT_EQ(list.Profiles()[4].name, "W\xC3\xBC!");
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
        list = sampleList();
        EXPECT_EQ(list.Load(std::string_view(bytes).substr(0, cut)), -1) << cut;
        EXPECT_TRUE(list.Profiles().empty()) << cut;
    }
}

TEST(ProfileFile, HostileCountsFailWithoutWaiting) {
    const std::string head = text(std::string(CProfileList::kHeader));
    CProfileList list;
    EXPECT_EQ(list.Load(head + u32(0xFFFFFFFF)), -1);
    EXPECT_EQ(list.Load(head + u32(1) + text("p") + u32(0) + "\xFF\xFF"s + u32(0xFFFFFFFF)), -1);
    EXPECT_EQ(list.Load(head + u32(1) + text("p") + u32(0) + "\x00\x00"s + u32(0xFFFFFFF0)), -1);
    // A descriptor whose parts do not fit makes the whole file malformed.
    EXPECT_EQ(list.Load(head + u32(1) + text("p") + u32(0) + "\x00\x00"s + u32(20) +
                        "\x01\x00\x04\x80\xFF\x00\x00\x00"s + std::string(12, '\0')),
              -1);
}

TEST(ProfileFile, DescriptorLengthZeroIsAProfileWithoutMembers) {
    const std::string bytes = text(std::string(CProfileList::kHeader)) + u32(1) + text("p") +
                              u32(15) + "\x00\x00"s + u32(0);
    CProfileList list;
    ASSERT_EQ(list.Load(bytes), 0);
    ASSERT_EQ(list.Profiles().size(), 1u);
    EXPECT_FALSE(list.Profiles()[0].security.HasDescriptor());
    EXPECT_TRUE(list.Profiles()[0].security.GetMembers().empty());
    EXPECT_EQ(list.RightsFor({Sid::Everyone(), Sid::Administrators()}), 0u);
    EXPECT_EQ(saved(list), bytes);
}

TEST(ProfileFiles, SaveLoadAndCreateDefault) {
    TempRoot root;
    const std::string path = (root / "oxtprof.dat").string();
    EXPECT_EQ(CProfileList().LoadFile(path), 2);

    ASSERT_EQ(CreateDefaultProfileFile(path), 0);
    CProfileList defaults;
    defaults.SetDefaults();
    EXPECT_EQ(readFile(path), saved(defaults));

    // A longer file is cut to what the save writes; an existing file is not replaced.
    ASSERT_EQ(sampleList().SaveFile(path), 0);
    ASSERT_EQ(defaults.SaveFile(path), 0);
    EXPECT_EQ(readFile(path), saved(defaults));
    writeFile(path, "not a profile file");
    ASSERT_EQ(CreateDefaultProfileFile(path), 0);
    EXPECT_EQ(readFile(path), "not a profile file");
    CProfileList list = sampleList();
    EXPECT_EQ(list.LoadFile(path), -1);
    EXPECT_TRUE(list.Profiles().empty());
}

}  // namespace
