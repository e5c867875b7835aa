#include "profiles/profile_editing.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_root.h"

namespace {

using namespace ombrix::profiles;
using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::writeFile;
namespace fs = std::filesystem;

Account user(uid_t uid, const std::string& name) {
    return {Sid::User(uid), name, "host", true};
}
Account group(gid_t gid, const std::string& name) {
    return {Sid::Group(gid), name, "host", false};
}

CProfileList listOf(std::vector<std::string> names) {
    CProfileList list;
    for (auto& name : names) {
        CProfile p;
        p.name = std::move(name);
        list.Profiles().push_back(std::move(p));
    }
    return list;
}

TEST(ProfileForm, ApplyBuildsRightsDrivesAndDeniedMembersFirst) {
    ProfileForm form;
    form.name = "Editors";
    form.rights = CProfile::kInsertEject | CProfile::kEditDrives;
    form.drives[4] = {true, "/srv/images/atlas.om4"};
    form.drives[5] = {false, "/srv/images/ignored.om4"};
    form.drives[25] = {true, ""};
    form.members = {{group(100, "staff"), false},
                    {user(1001, "mallory"), true},
                    {user(1002, "alice"), false},
                    {group(200, "guests"), true}};
    CProfile profile;
    ASSERT_TRUE(applyForm(form, profile));
    EXPECT_EQ(profile.name, "Editors");
    EXPECT_EQ(profile.rights, 12u);
    EXPECT_EQ(profile.driveImages,
              (std::map<std::string, std::string>{{"E", "/srv/images/atlas.om4"}, {"Z", ""}}));
    // Read back through the profile classes: the excluded ones come first, each in row order.
    const std::vector<CSecMember> expected = {{Sid::User(1001), true},
                                              {Sid::Group(200), true},
                                              {Sid::Group(100), false},
                                              {Sid::User(1002), false}};
    EXPECT_EQ(profile.security.GetMembers(), expected);
    CProfileList list;
    list.Profiles().push_back(profile);
    std::string bytes;
    ASSERT_EQ(list.Save(bytes), 0);
    CProfileList again;
    ASSERT_EQ(again.Load(bytes), 0);
    EXPECT_EQ(again.Profiles()[0].security.GetMembers(), expected);
    EXPECT_EQ(again.RightsFor({Sid::User(1002)}), 12u);
    EXPECT_EQ(again.RightsFor({Sid::User(1001), Sid::Group(100)}), 0u);  // excluded wins

    // The form of the profile shows the same again; no members, no access list.
    const ProfileForm back = formOf(again.Profiles()[0]);
    EXPECT_EQ(back.drives[4], form.drives[4]);
    EXPECT_FALSE(back.drives[5].checked);
    ASSERT_EQ(back.members.size(), 4u);
    EXPECT_TRUE(back.members[0].excluded);
    EXPECT_EQ(back.members[0].account.sid, Sid::User(1001));
    form.members.clear();
    ASSERT_TRUE(applyForm(form, profile));
    EXPECT_FALSE(profile.security.HasDescriptor());
}

TEST(ProfileForm, NamesMustBeGivenAndUnique) {
    const CProfileList list = listOf({"Users", "Editors"});
    EXPECT_EQ(nameProblem("", list, std::nullopt), "Please enter a name for the profile");
    EXPECT_EQ(nameProblem("Editors", list, std::nullopt),
              "A profile named 'Editors' already exists,\nplease enter a different name.");
    EXPECT_EQ(nameProblem("Editors", list, std::string_view("Editors")), std::nullopt);
    EXPECT_TRUE(nameProblem("Editors", list, std::string_view("Users")).has_value());
    EXPECT_EQ(nameProblem("editors", list, std::nullopt), std::nullopt);  // exact comparison
}

TEST(ProfileForm, PickedAccountsAreAddedOnceAsIncluded) {
    std::vector<MemberRow> members{{user(1001, "alice"), true}};
    EXPECT_EQ(addMembers(members, {user(1001, "alice"), group(100, "staff"), group(100, "staff")}),
              1u);
    ASSERT_EQ(members.size(), 2u);
    EXPECT_TRUE(members[0].excluded) << "a known member keeps its state";
    EXPECT_FALSE(members[1].excluded);
}

TEST(ProfileForm, AccountsOfTheNameServiceAndTheirSids) {
    const std::vector<Account> accounts = machineAccounts();
    ASSERT_GE(accounts.size(), 3u);
    EXPECT_EQ(accounts.back().name, "Administrators");
    const auto root = std::find_if(accounts.begin(), accounts.end(),
                                   [](const Account& a) { return a.user && a.name == "root"; });
    ASSERT_NE(root, accounts.end());
    EXPECT_EQ(root->sid.ToString(), "S-1-22-1-0");
    EXPECT_EQ(accountOf(Sid::User(0)).name, "root");
    EXPECT_EQ(accountOf(Sid::Group(0)).name, "root");
    EXPECT_EQ(accountOf(Sid::Everyone()).name, "Everyone");
    EXPECT_EQ(accountOf(Sid::User(4000000)).name, "S-1-22-1-4000000");
}

TEST(ProfileList, FindGoesOneWayWithoutWrappingAndMovesSwapNeighbours) {
    const std::vector<std::vector<std::string>> rows = {
        {"Users"}, {"Editors", "x"}, {"Guests"}, {"Power EDITORS"}};
    EXPECT_EQ(findRow(rows, "editor", -1, true), 1);
    EXPECT_EQ(findRow(rows, "editor", 1, true), 3);
    EXPECT_EQ(findRow(rows, "editor", 3, true), -1);
    EXPECT_EQ(findRow(rows, "editor", 3, false), 1);
    EXPECT_EQ(findRow(rows, "editor", 1, false), -1);
    EXPECT_EQ(findRow(rows, "X", 0, true), 1);  // any cell
    EXPECT_EQ(notFoundText("abc"), "'abc' konnte nicht gefunden werden!");

    CProfileList list = listOf({"a", "b", "c"});
    EXPECT_FALSE(moveProfile(list.Profiles(), 0, true));
    EXPECT_FALSE(moveProfile(list.Profiles(), 2, false));
    EXPECT_TRUE(moveProfile(list.Profiles(), 2, true));
    EXPECT_EQ(list.Profiles()[1].name, "c");
}

TEST(ProfileFile, SavingReplacesTheFileInItsNewOrder) {
    TempRoot root;
    const std::string path = (root / "pool/oxtprof.dat").string();
    fs::create_directories(root / "pool");
    CProfileList list = listOf({"first", "second"});
    ASSERT_EQ(saveProfileFile(list, path), 0) << "a missing file is created";
    ::chmod(path.c_str(), 0640);
    ASSERT_TRUE(moveProfile(list.Profiles(), 1, true));
    ASSERT_EQ(saveProfileFile(list, path), 0);
    CProfileList read;
    ASSERT_EQ(read.LoadFile(path), 0);
    ASSERT_EQ(read.Profiles().size(), 2u);
    EXPECT_EQ(read.Profiles()[0].name, "second");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u) << "the old file's mode is kept";
    EXPECT_EQ(std::distance(fs::directory_iterator(root / "pool"), fs::directory_iterator()), 1);
}

TEST(ProfileFile, AFailedSaveLeavesTheOldFileWhole) {
    TempRoot root;
    const fs::path folder = root / "pool";
    fs::create_directories(folder);
    const std::string path = (folder / "oxtprof.dat").string();
    CProfileList list = listOf({"kept"});
    ASSERT_EQ(saveProfileFile(list, path), 0);
    const std::string before = readFile(path);

    // A folder no new file can be made in. Root passes every permission check, so root fills
    // a small file system instead.
    CProfileList big;
    for (int i = 0; i < 3000; ++i) {
        CProfile p;
        p.name = "profile " + std::to_string(i);
        for (char c = 'A'; c <= 'Z'; ++c)
            p.driveImages[std::string(1, c)] = std::string(200, 'i');
        big.Profiles().push_back(std::move(p));
    }
    if (::geteuid() != 0) {
        ::chmod(folder.c_str(), 0555);
        EXPECT_NE(saveProfileFile(big, path), 0);
        ::chmod(folder.c_str(), 0755);
    } else {
        const fs::path small = root / "small";
        fs::create_directories(small);
        if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "no small file system to fill";
        const std::string smallPath = (small / "oxtprof.dat").string();
        ASSERT_EQ(saveProfileFile(list, smallPath), 0);
        EXPECT_NE(saveProfileFile(big, smallPath), 0);
        EXPECT_EQ(readFile(smallPath), before);
        EXPECT_EQ(std::distance(fs::directory_iterator(small), fs::directory_iterator()), 1)
            << "no new file is left beside it";
        ::umount2(small.c_str(), MNT_DETACH);
    }
    EXPECT_EQ(readFile(path), before);
}

}  // namespace
