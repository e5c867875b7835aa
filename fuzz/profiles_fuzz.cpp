// Loads arbitrary bytes as a profile file. Whatever loads must save, load again to the same
// profiles and save to the same bytes; the members of every descriptor must rebuild into a
// descriptor with the same members, excluded ones first.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "profiles/profile.h"

namespace {

using ombrix::profiles::Sid;

void check(bool ok) {
    if (!ok) std::abort();
}

bool sameProfiles(const CProfileList& a, const CProfileList& b) {
    if (a.Profiles().size() != b.Profiles().size()) return false;
    for (size_t i = 0; i < a.Profiles().size(); ++i) {
        const CProfile& x = a.Profiles()[i];
        const CProfile& y = b.Profiles()[i];
        if (x.name != y.name || x.rights != y.rights || x.driveImages != y.driveImages ||
            x.security.Bytes() != y.security.Bytes())
            return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    CProfileList list;
    if (list.Load(bytes) != 0) {
        check(list.Profiles().empty());
        return 0;
    }

    std::string first;
    check(list.Save(first) == 0);
    CProfileList again;
    check(again.Load(first) == 0);
    check(sameProfiles(list, again));
    std::string second;
    check(again.Save(second) == 0);
    check(first == second);

    const std::vector<Sid> probe{Sid::Everyone(), Sid::Administrators(), Sid::User(0)};
    uint32_t expected = 0;
    for (const CProfile& profile : list.Profiles()) {
        const std::vector<CSecMember> members = profile.security.GetMembers();
        CSecDescriptor rebuilt;
        if (!rebuilt.BuildFromMembers(members))
            continue;  // more members than one rebuilt list holds
        std::vector<CSecMember> ordered;
        for (bool excluded : {true, false}) {
            for (const CSecMember& member : members) {
                if (member.excluded == excluded) ordered.push_back(member);
            }
        }
        check(rebuilt.GetMembers() == ordered);
        check(rebuilt.Includes(probe) == profile.security.Includes(probe));
        if (profile.security.Includes(probe)) expected |= profile.rights;
    }
    check(list.RightsFor(probe) == expected);
    return 0;
}
