#include "manager/about_list.h"

#include <algorithm>
#include <filesystem>

#include "platform/ascii.h"

namespace ombrix::mng {

std::vector<InstalledFile> installedFiles(const std::string& folder, const std::string& version) {
    namespace fs = std::filesystem;
    std::vector<InstalledFile> out;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::error_code ignored;
        if (!entry.is_regular_file(ignored)) continue;
        const std::string name = entry.path().filename().string();
        const bool library = name.find(".so") != std::string::npos;
        const auto perms = entry.status(ignored).permissions();
        const bool program = !library && (perms & fs::perms::owner_exec) != fs::perms::none;
        if (!library && !program) continue;
        out.push_back({name, version, library ? "Library" : "Program"});
    }
    std::sort(out.begin(), out.end(), [](const InstalledFile& a, const InstalledFile& b) {
        return ascii::toUpper(a.name) < ascii::toUpper(b.name);
    });
    return out;
}

}  // namespace ombrix::mng
