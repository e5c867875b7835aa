#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"
#include "profiles/sid.h"

// What the profile editor does to profiles, without its windows: the editable form of one
// profile, the name rules, applying the form back, finding rows, reordering, the machine's
// accounts for the picker, and saving the file so a failure keeps the old one whole.
namespace ombrix::profiles {

// An account or group as the picker and the members' page show it.
struct Account {
    Sid sid = Sid::Everyone();
    std::string name;
    std::string domain;  // this server's name; "BUILTIN" for Everyone and Administrators
    bool user = false;   // an account of the user kind (else a group)

    friend bool operator==(const Account&, const Account&) = default;
};

// Every account and group the system's name service knows (local files, LDAP, SSSD, …), then
// Everyone and Administrators; sorted by name within users and within groups.
std::vector<Account> machineAccounts();
// The account a SID stands for; a SID the name service does not know keeps its text as name.
Account accountOf(const Sid& sid);

struct MemberRow {
    Account account;
    bool excluded = false;

    friend bool operator==(const MemberRow&, const MemberRow&) = default;
};

// One profile as the property sheet edits it.
struct ProfileForm {
    static constexpr size_t kMaxName = 50;
    std::string name;
    uint32_t rights = 0;
    // A checked drive row and the image it gives ("A" .. "Z" by index 0 .. 25).
    struct DriveRow {
        bool checked = false;
        std::string image;
        friend bool operator==(const DriveRow&, const DriveRow&) = default;
    };
    std::array<DriveRow, 26> drives{};
    std::vector<MemberRow> members;

    friend bool operator==(const ProfileForm&, const ProfileForm&) = default;
};

ProfileForm formOf(const CProfile& profile);
// Name and rights, the drive map of the checked rows, and the descriptor: excluded members as
// denied entries first, then included ones, each in row order; no members, no access list.
// False (the profile unchanged) when the members do not fit a descriptor.
bool applyForm(const ProfileForm& form, CProfile& profile);

// Why a name cannot be kept when leaving the General page, or nothing: empty (text 122), or the
// name of another profile of the list (text 104). `ownName` is the edited profile's old name.
std::optional<std::string> nameProblem(std::string_view name, const CProfileList& list,
                                       std::optional<std::string_view> ownName);

// Adds the picked accounts whose SID is not a member yet, as included members. The number added.
size_t addMembers(std::vector<MemberRow>& members, const std::vector<Account>& picked);

// Find: the first row after `from` (-1: from the start) going down, or before it going up,
// with a cell that holds `text` ignoring case; no wrapping. -1 when none.
int findRow(const std::vector<std::vector<std::string>>& rows, std::string_view text, int from,
            bool down);
std::string notFoundText(std::string_view text);

// Swaps a row with its neighbour above or below; false at the edge.
bool moveProfile(std::vector<CProfile>& profiles, size_t index, bool up);

// Saves the list into `path`: the old file is held against other writers while a new file is
// written beside it, synced and renamed over it with the old file's mode and owner. A failure
// leaves the old file byte for byte. 0 or a Win32-style error code.
int saveProfileFile(const CProfileList& list, const std::string& path, int attempts = 6);

}  // namespace ombrix::profiles
