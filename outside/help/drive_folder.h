#pragma once

#include <cstdlib>
#include <filesystem>

#include "oxtenv.h"

// The user's folder of drive links: one link per letter to the session's drive, so the disc's
// files are a click away. The session value "OmxDriveFolder" names it; else ~/OmbrixDrives.
namespace ombrix::helper {

inline std::filesystem::path userDriveFolder() {
    char folder[1024] = "";
    if (EnvGetUserValue("OmxDriveFolder", folder, sizeof folder) && folder[0] != '\0') {
        return folder;
    }
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] == '\0') return {};
    return std::filesystem::path(home) / "OmbrixDrives";
}

}  // namespace ombrix::helper
