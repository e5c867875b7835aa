// Loads arbitrary bytes as an image with its part files (see image_files.h) the way a drive
// does, then looks up, lists and reads everything it shows, as programs reading the drive do.
#include <fcntl.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/image_files.h"
#include "outside/oxtmpdrv/disc_fs.h"

namespace {

void visit(const oxtmpdrv::DiscFs& disc, const std::string& path, int depth) {
    struct stat st {};
    if (disc.getattr(path.c_str(), &st) != 0) __builtin_trap();  // it was listed
    if (S_ISDIR(st.st_mode)) {
        if (depth > 300) __builtin_trap();  // deeper than a disc may be shown
        std::vector<std::string> names;
        disc.readdir(path.c_str(),
                     [&names](const char* name, const struct stat&) { names.emplace_back(name); });
        for (const auto& name : names)
            visit(disc, path == "/" ? "/" + name : path + "/" + name, depth + 1);
        return;
    }
    uint64_t handle = 0;
    if (disc.open(path.c_str(), O_RDONLY, 0, handle) != 0) return;
    char buffer[4096];
    disc.read(handle, buffer, sizeof buffer, 0);
    if (st.st_size > 5000) disc.read(handle, buffer, sizeof buffer, st.st_size - 5000);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string container = ombrix::fuzz::layOutImage(data, size);
    oxtmpdrv::DiscFs disc;
    if (disc.load(container) != 0 || disc.fileSystemError() != 0) return 0;
    visit(disc, "/", 0);
    struct stat st {};
    disc.getattr("/no/such/path", &st);
    return 0;
}
