#include "log/log_internal.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include "platform/ascii.h"

namespace ombrix::logging {

std::string mutexNameForLibrary(std::string_view libraryPath) {
    std::string name = "Global\\NRV_";
    for (char c : libraryPath) {
        bool mark = c == ' ' || c == '.' || c == '/' || c == ':' || c == '\\';
        name += mark ? '_' : ascii::upper(c);
    }
    name += "_MTX";
    return name;
}

std::string loadedFileOf(const void* address) {
    Dl_info info{};
    if (::dladdr(address, &info) == 0 || info.dli_fname == nullptr || *info.dli_fname == '\0') {
        return {};
    }
    // The loader may have found the file through a relative or linked path; every process must
    // arrive at the same name.
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) return resolved;
    return info.dli_fname;
}

size_t completeUtf8Prefix(const char* text, size_t length) {
    // Step back over at most three continuation bytes to the lead byte of the last character.
    size_t start = length;
    int continuations = 0;
    while (start > 0 && continuations < 4) {
        unsigned char c = static_cast<unsigned char>(text[start - 1]);
        if ((c & 0xC0) != 0x80) break;
        --start;
        ++continuations;
    }
    if (start == 0) return length;
    unsigned char lead = static_cast<unsigned char>(text[start - 1]);
    size_t needed = 0;
    if ((lead & 0xE0) == 0xC0) {
        needed = 1;
    } else if ((lead & 0xF0) == 0xE0) {
        needed = 2;
    } else if ((lead & 0xF8) == 0xF0) {
        needed = 3;
    } else {
        return length;  // ASCII or not UTF-8 at all: nothing to repair
    }
    return static_cast<size_t>(continuations) < needed ? start - 1 : length;
}

}  // namespace ombrix::logging
