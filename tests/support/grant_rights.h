#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "outside/env/oxtenv.h"
#include "profiles/profile.h"

namespace ombrix::test {

// Publishes one profile that gives everybody `rights` (4 insert and eject, 8 administer, ...).
inline void grantEveryone(uint32_t rights) {
    CProfileList list;
    CProfile profile;
    profile.name = "all";
    profile.rights = rights;
    ASSERT_TRUE(profile.security.BuildFromMembers({{ombrix::profiles::Sid::Everyone(), false}}));
    list.Profiles().push_back(std::move(profile));
    std::string bytes;
    ASSERT_EQ(list.Save(bytes), 0);
    ASSERT_TRUE(EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size())));
}

}  // namespace ombrix::test
