#pragma once

#include <filesystem>
#include <string>

namespace ombrix::test {

// A fresh machine root in a temporary folder for one test; OMBRIX_ROOT points at it while the
// object lives, and the folder is removed afterwards.
class TempRoot {
  public:
    TempRoot();
    ~TempRoot();
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& relative) const { return path_ / relative; }

  private:
    std::filesystem::path path_;
    std::string previous_;
    bool hadPrevious_ = false;
};

// Writes `text` to `path`, creating folders on the way.
void writeFile(const std::filesystem::path& path, const std::string& text);
std::string readFile(const std::filesystem::path& path);

// Where the built programs and libraries are (the build tree's system/ folder).
std::filesystem::path systemDir();

}  // namespace ombrix::test
