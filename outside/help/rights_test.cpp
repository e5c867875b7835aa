#include "rights.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/registry.h"
#include "profiles/profile.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::help::accountSids;
using ombrix::help::hasRight;
using ombrix::profiles::Sid;
using ombrix::test::TempRoot;

void add(CProfileList& list, const char* name, uint32_t rights, std::vector<CSecMember> members) {
    CProfile p;
    p.name = name;
    p.rights = rights;
    ASSERT_TRUE(p.security.BuildFromMembers(members));
    list.Profiles().push_back(std::move(p));
}

std::string bytesOf(const CProfileList& list) {
    std::string out;
    EXPECT_EQ(list.Save(out), 0);
    return out;
}

int publish(const std::string& bytes) {
    return EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size()));
}

TEST(Rights, IdentifiersMapToProfileBits) {
    CProfileList list;
    for (uint32_t bit : {1u, 2u, 4u, 8u}) {
        list.Profiles().clear();
        add(list, "p", bit, {{Sid::Everyone(), false}});
        const std::string bytes = bytesOf(list);
        std::vector<int> held;
        for (int right : {0, 1, 2, 3, 4, 8, 16, 32, -1})
            if (hasRight(right, bytes, 1000, {1000}, std::nullopt)) held.push_back(right);
        const int expected = bit == 1 ? 16 : bit == 2 ? 8 : bit == 4 ? 2 : 4;
        EXPECT_EQ(held, std::vector<int>{expected}) << "bit " << bit;
    }
}

TEST(Rights, AccountSidsAndAdministrators) {
    const Sid admins = Sid::Administrators();
    auto isAdmin = [&](uid_t uid, std::vector<gid_t> groups, std::optional<gid_t> adminGroup) {
        const auto sids = accountSids(uid, groups, adminGroup);
        return std::find(sids.begin(), sids.end(), admins) != sids.end();
    };
    EXPECT_TRUE(isAdmin(0, {0}, std::nullopt));
    EXPECT_TRUE(isAdmin(1000, {1000, 27}, 27));
    EXPECT_FALSE(isAdmin(1000, {1000, 28}, 27));
    EXPECT_FALSE(isAdmin(1000, {1000}, std::nullopt));
    const auto sids = accountSids(1000, {1000, 27, 27}, std::nullopt);
    EXPECT_EQ(sids, (std::vector<Sid>{Sid::User(1000), Sid::Everyone(), Sid::Group(1000),
                                      Sid::Group(27)}));
}

TEST(Rights, DeniedUserGetsNothingOfThatProfileAndProfilesAddUp) {
    CProfileList list;
    add(list, "staff", 4 | 8, {{Sid::Group(100), false}, {Sid::User(1001), true}});
    add(list, "all", 1, {{Sid::Everyone(), false}});
    add(list, "admins", 2, {{Sid::Administrators(), false}});
    const std::string bytes = bytesOf(list);

    // 1001 is in the allowed group but denied by name.
    EXPECT_FALSE(hasRight(2, bytes, 1001, {100}, std::nullopt));
    EXPECT_FALSE(hasRight(4, bytes, 1001, {100}, std::nullopt));
    EXPECT_TRUE(hasRight(16, bytes, 1001, {100}, std::nullopt));
    // A supplementary group counts like the primary one.
    EXPECT_TRUE(hasRight(2, bytes, 1002, {1002, 100}, std::nullopt));
    EXPECT_TRUE(hasRight(4, bytes, 1002, {1002, 100}, std::nullopt));
    EXPECT_FALSE(hasRight(8, bytes, 1002, {1002, 100}, std::nullopt));
    // Administrators through the configured group, and root.
    EXPECT_TRUE(hasRight(8, bytes, 1003, {1003, 27}, 27));
    EXPECT_TRUE(hasRight(8, bytes, 0, {0}, std::nullopt));
    EXPECT_FALSE(hasRight(2, bytes, 0, {0}, std::nullopt));
}

TEST(Rights, UnreadableProfilesGrantNothing) {
    CProfileList list;
    list.SetDefaults();
    std::string bytes = bytesOf(list);
    EXPECT_TRUE(hasRight(2, bytes, 0, {0}, std::nullopt));
    bytes.pop_back();
    for (int right : {2, 4, 16}) {
        EXPECT_FALSE(hasRight(right, bytes, 0, {0}, std::nullopt));
        EXPECT_FALSE(hasRight(right, "", 0, {0}, std::nullopt));
    }
    // Administrators administer whatever the profiles say; nobody else does without them.
    EXPECT_TRUE(hasRight(8, "", 0, {0}, std::nullopt));
    EXPECT_TRUE(hasRight(8, "", 1003, {1003, 27}, 27));
    EXPECT_FALSE(hasRight(8, "", 1003, {1003}, 27));
}

TEST(Rights, ExportReadsThePublishedProfiles) {
    TempRoot root;
    EXPECT_EQ(OMXTSHasRight(2), 0);  // nothing published

    CProfileList list;
    add(list, "all", 4, {{Sid::Everyone(), false}});
    ASSERT_TRUE(publish(bytesOf(list)));
    EXPECT_NE(OMXTSHasRight(2), 0);
    EXPECT_EQ(OMXTSHasRight(4), 0);

    // The calling user excluded by name.
    list.Profiles()[0].security.BuildFromMembers(
        {{Sid::Everyone(), false}, {Sid::User(::getuid()), true}});
    ASSERT_TRUE(publish(bytesOf(list)));
    EXPECT_EQ(OMXTSHasRight(2), 0);

    ASSERT_TRUE(publish("garbage"));
    EXPECT_EQ(OMXTSHasRight(2), 0);
}

TEST(Rights, AdminGroupOnlyFromRootsRegistry) {
    TempRoot root;
    using ombrix::help::kAdminGroupKey;
    using ombrix::help::kSettingsKey;
    ASSERT_EQ(ombrix::registry::setString(kSettingsKey, kAdminGroupKey, "root"), 0);
    EXPECT_EQ(ombrix::help::adminGroupId(), 0u);
    ASSERT_EQ(ombrix::registry::setString(kSettingsKey, kAdminGroupKey, "4242"), 0);
    EXPECT_EQ(ombrix::help::adminGroupId(), 4242u);
    // A value in the global store has no say.
    ASSERT_TRUE(EnvSetGlobalValue(kAdminGroupKey, "root"));
    EXPECT_EQ(ombrix::help::adminGroupId(), 4242u);
    ASSERT_EQ(ombrix::registry::setString(kSettingsKey, kAdminGroupKey, "no-such-group-here"), 0);
    EXPECT_EQ(ombrix::help::adminGroupId(), std::nullopt);
    // The process's own groups are among the caller's groups.
    const auto groups = ombrix::help::callerGroups(::getuid());
    EXPECT_NE(std::find(groups.begin(), groups.end(), ::getgid()), groups.end());
}

}  // namespace

namespace {

TEST(Rights, EditingStartsTheInstallationsProfileEditor) {
    TempRoot root;
    EXPECT_EQ(OMXTSEditRights(nullptr), 3);  // no installation folder
    ASSERT_TRUE(EnvSetGlobalValue("OMXHomePath", (root.path().string() + "/").c_str()));
    EXPECT_EQ(OMXTSEditRights(nullptr), 2);  // no editor installed
    const auto marker = root / "started";
    ombrix::test::writeFile(root / "system/OXTPRFED",
                            "#!/bin/sh\ntouch '" + marker.string() + "'\n");
    std::filesystem::permissions(root / "system/OXTPRFED", std::filesystem::perms::owner_all);
    EXPECT_EQ(OMXTSEditRights(nullptr), 0);
    EXPECT_TRUE(ombrix::test::waitFor([&] { return std::filesystem::exists(marker); }));
}

}  // namespace
