#pragma once

#include <string>
#include <vector>

// What the about box lists: the programs and libraries of the installation's system folder.
namespace ombrix::mng {

struct InstalledFile {
    std::string name;
    std::string version;  // the system's version: every file is built with it
    std::string kind;     // "Program" or "Library"
};

// The programs (executable files) and shared libraries of `folder`, sorted by name.
std::vector<InstalledFile> installedFiles(const std::string& folder, const std::string& version);

}  // namespace ombrix::mng
