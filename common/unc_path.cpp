#include "common/unc_path.h"

#include <filesystem>
#include <system_error>

namespace ombrix {

std::string toUncForm(const std::string& path) {
    if (path.empty()) return path;
    std::filesystem::path given(path);
    std::error_code ec;
    std::filesystem::path folder = given.parent_path();
    if (folder.empty()) folder = ".";
    std::filesystem::path canonical = std::filesystem::canonical(folder, ec);
    if (ec || !given.has_filename()) return path;
    return (canonical / given.filename()).string();
}

}  // namespace ombrix
