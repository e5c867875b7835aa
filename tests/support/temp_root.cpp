#include "support/temp_root.h"

#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace ombrix::test {

TempRoot::TempRoot() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    // The machine root is a folder everybody may enter, as /var/lib/ombrix is.
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
    if (const char* old = std::getenv("OMBRIX_ROOT")) {
        previous_ = old;
        hadPrevious_ = true;
    }
    ::setenv("OMBRIX_ROOT", path_.c_str(), 1);
}

namespace {

// Detaches mounts below `folder` (discs a driver stand-in left behind when it was killed), so the
// folder can be removed.
void detachMountsBelow(const std::filesystem::path& folder) {
    std::ifstream in("/proc/self/mountinfo");
    std::string line;
    const std::string prefix = folder.string() + "/";
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string id, parent, device, root, point;
        fields >> id >> parent >> device >> root >> point;
        if (point.compare(0, prefix.size(), prefix) == 0) ::umount2(point.c_str(), MNT_DETACH);
    }
}

}  // namespace

TempRoot::~TempRoot() {
    if (hadPrevious_) {
        ::setenv("OMBRIX_ROOT", previous_.c_str(), 1);
    } else {
        ::unsetenv("OMBRIX_ROOT");
    }
    detachMountsBelow(path_);
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::filesystem::path systemDir() {
    const char* dir = std::getenv("OMBRIX_SYSTEM_DIR");
    if (dir != nullptr) return dir;
    // Test and benchmark programs live beside the build tree's system/ folder.
    std::error_code error;
    auto self = std::filesystem::read_symlink("/proc/self/exe", error);
    auto beside = self.parent_path().parent_path() / "system";
    return !error && std::filesystem::is_directory(beside, error) ? beside
                                                                  : std::filesystem::path("system");
}

}  // namespace ombrix::test
