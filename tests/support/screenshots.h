#pragma once

#include <filesystem>
#include <string>

namespace ombrix::test {

// Where window tests save their screenshots: "screenshots/" in the folder the test runs in
// (the build folder of the program's code).
inline std::string screenshotFolder() {
    const std::string folder = std::filesystem::current_path().string() + "/screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

}  // namespace ombrix::test
