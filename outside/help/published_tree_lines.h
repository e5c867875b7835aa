#pragma once

#include <string>
#include <vector>

#include "oxthelp.h"

// The lines of the pool's tree file as the network service publishes them ("\Games\|path").
namespace ombrix::helper {

inline std::vector<std::string> publishedTreeLines() {
    std::vector<std::string> lines;
    OMXTSEnumTreeLines(reinterpret_cast<long>(&lines), [](long context, int, const char* line) {
        if (line != nullptr)
            reinterpret_cast<std::vector<std::string>*>(context)->emplace_back(line);
        return 1;
    });
    return lines;
}

}  // namespace ombrix::helper
