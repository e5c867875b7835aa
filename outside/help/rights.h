#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/sid.h"

// The rights of a user from the profile file's bytes, as published with EnvLoadSecurity. The
// caller's identity comes in as arguments so the rule can be checked for any account.
namespace ombrix::help {

// Value of root's registry key kSettingsKey naming the group whose members count as
// Administrators besides root (a group name, or a numeric gid). Unset: "sudo" when the host has
// it, else "wheel".
inline constexpr const char* kAdminGroupKey = "OMXAdminGroup";
inline constexpr const char* kSettingsKey = "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";

// The profile bit a right identifier asks for: 2 → 4, 4 → 8, 8 → 2, 16 → 1; 0 for others.
uint32_t profileBitOfRight(int right);

// The SIDs a user is known by: the user, each group, Everyone, and Administrators for root or
// a member of `adminGroup`.
std::vector<profiles::Sid> accountSids(uid_t uid, const std::vector<gid_t>& groups,
                                       std::optional<gid_t> adminGroup);

// The rights bits `sids` hold in the profile file `bytes`; 0 when the bytes do not load.
uint32_t rightsFromProfiles(std::string_view bytes, const std::vector<profiles::Sid>& sids);

bool hasRight(int right, std::string_view profileBytes, uid_t uid, const std::vector<gid_t>& groups,
              std::optional<gid_t> adminGroup);

// The calling process: its real user, and the groups of the process and of the user's entry
// in the group database.
std::vector<gid_t> callerGroups(uid_t uid);
// The group named by kAdminGroupKey, or its default; nullopt when there is none.
std::optional<gid_t> adminGroupId();
// The profile bytes last published; empty when there are none.
std::string publishedProfiles();

// Another account, as the services and the session helper judge their callers: its groups
// from the group database, its rights from the published profiles.
std::vector<gid_t> accountGroupsOf(uid_t uid);
bool accountHasRight(int right, uid_t uid);
// Root, or a member of the administrators' group.
bool isAdministrator(uid_t uid);

}  // namespace ombrix::help
