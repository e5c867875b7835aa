#pragma once

#include <string>

#include "outside/env/oxtenv.h"

namespace ombrix::test {

// A value of the global store as programs read it (up to 1023 characters); `missing` when the
// store has no such key.
inline std::string globalValue(const std::string& key, const char* missing = "") {
    char buffer[1024] = {};
    return EnvGetGlobalValue(key.c_str(), buffer, sizeof buffer) ? buffer : missing;
}

}  // namespace ombrix::test
