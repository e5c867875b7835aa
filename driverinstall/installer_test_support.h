#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "driverinstall/driver_installer.h"
#include "driverinstall/install_result.h"
#include "platform/registry.h"
#include "support/temp_root.h"

namespace ombrix::test {

// Puts the shipped INF file and a stand-in driver program into the root's Windows folder.
inline std::string installShippedInf() {
    std::string shipped = readFile(systemDir() / "config" / "nrvoxt.inf");
    EXPECT_FALSE(shipped.empty()) << "no INF file in " << systemDir();
    std::filesystem::path inf = drvinst::defaultInfPath();
    writeFile(inf, shipped);
    writeFile(inf.parent_path() / "oxtmpdrv", "#!/bin/sh\n");
    return inf.string();
}

// The messages of a log file, without their time stamps ("%c" is 24 characters wide).
inline std::vector<std::string> logMessages(const std::filesystem::path& file) {
    std::vector<std::string> out;
    std::istringstream in(readFile(file));
    std::string line;
    while (std::getline(in, line))
        out.push_back(line.size() > 25 ? line.substr(25) : line);
    return out;
}

// The outcome the result key holds: "<code>|<error text>".
inline std::string storedResult() {
    std::string key(drvinst::kResultKey), code = "<none>", error = "<none>";
    registry::getString(key + "\\Result", "", code);
    registry::getString(key + "\\Error", "", error);
    return code + "|" + error;
}

}  // namespace ombrix::test
