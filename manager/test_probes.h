#pragma once

#include <optional>
#include <string>

#include "manager/access_state.h"

// For tests and benchmarks: a user with every right, no pool files, and every outside program.
namespace ombrix::mng::testing {

inline AccessProbes everythingAllowed() {
    AccessProbes p;
    p.hasRight = [](int) { return true; };
    p.adminMode = [] { return false; };
    p.setting = [](std::string_view) { return std::string(); };
    p.userConfigFolder = [] { return std::string("/nowhere"); };
    p.globalImageFile = [] { return std::optional<std::string>(); };
    p.globalTreeFile = [] { return std::optional<std::string>(); };
    p.adminFile = [] { return std::optional<std::string>(); };
    p.exists = [](const std::string&) { return false; };
    p.writable = [](const std::string&) { return false; };
    p.installed = [](std::string_view) { return true; };
    return p;
}

}  // namespace ombrix::mng::testing
