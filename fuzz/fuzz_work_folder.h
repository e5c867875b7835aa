#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

// A private folder for a fuzz target's work files: made on first use, removed when the process
// ends.
namespace ombrix::fuzz {

inline const std::string& workFolder() {
    static const std::string folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "ombrix-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        return pattern;
    }();
    // Registered after the folder's name exists, so it runs before the name is destroyed.
    static const bool removedAtExit = [] {
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(folder, ec);
        });
        return true;
    }();
    (void)removedAtExit;
    return folder;
}

inline std::string workFile(const char* name) {
    return workFolder() + "/" + name;
}

// Replaces the file's contents with the bytes.
inline void writeWorkFile(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (!out) std::abort();
}

}  // namespace ombrix::fuzz
