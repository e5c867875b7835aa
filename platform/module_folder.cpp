#include "platform/module_folder.h"

#include <dlfcn.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

namespace ombrix::platform {

std::string moduleFolderOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') {
        return {};
    }
    char resolved[PATH_MAX];
    std::filesystem::path file =
        ::realpath(info.dli_fname, resolved) != nullptr ? resolved : info.dli_fname;
    return file.parent_path().string();
}

}  // namespace ombrix::platform
