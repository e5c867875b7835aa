#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/oxtcomm_admin.h"
#include "platform/shell_execute.h"

// Where the installation lies, for the programs that start or look for its other programs.
namespace ombrix::client {

// The installation folder ("OmxHomePath", ending in "/"); empty when it is not known.
inline std::string installFolder() {
    std::vector<char> buffer(4096);
    if (OMXGetInstallPath(buffer.data(), static_cast<int>(buffer.size())) != 0) return {};
    return buffer.data();
}

// The folder of the installation's programs; empty when the installation is not known.
inline std::string systemFolder() {
    const std::string home = installFolder();
    return home.empty() ? std::string() : home + "system";
}

// A program of the installation by the name the system gives it ("OXTmng.exe"), found in any
// case and without ".exe"; empty when it is not installed.
inline std::string installedProgram(std::string_view name) {
    const std::string folder = systemFolder();
    return folder.empty() ? std::string() : platform::findProgramFile(folder, name).string();
}

}  // namespace ombrix::client
