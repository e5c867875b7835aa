// The catalogue entries and tree lines as the services published them in the global store.
#include <cctype>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

#include "outside/env/oxtenv.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"

namespace {

// Values whose key is `prefix` and a decimal number, in the order of their numbers.
struct Numbered {
    std::string_view prefix;
    std::map<long, std::string> values;
};

int collect(void* context, const char* key, const char* value) {
    auto* list = static_cast<Numbered*>(context);
    std::string_view name(key);
    if (name.size() <= list->prefix.size() || name.size() > list->prefix.size() + 9) return 1;
    for (size_t i = 0; i < list->prefix.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) !=
            std::toupper(static_cast<unsigned char>(list->prefix[i]))) {
            return 1;
        }
    }
    auto number = ombrix::ascii::digitsNumber(name.substr(list->prefix.size()));
    if (!number) return 1;
    if (value != nullptr && *value != '\0') list->values[*number] = value;
    return 1;
}

}  // namespace

OMX_EXPORT int OMXTSEnumImages(void* context, OMXTSImageCallback callback) {
    if (callback == nullptr) return 0;
    Numbered images{"OMXImage_", {}};
    EnvEnumGlobalValues(&images, collect);
    int visited = 0;
    for (const auto& [number, text] : images.values) {
        ++visited;
        if (callback(context, static_cast<int>(number), text.c_str()) == 0) break;
    }
    return visited;
}

OMX_EXPORT int OMXTSEnumTreeLines(long context, OMXTSTreeLineCallback callback) {
    if (callback == nullptr) return 0;
    char count[32] = {};
    EnvGetGlobalValue("OMXTreeLines", count, sizeof count);
    long lines = std::atol(count);
    Numbered tree{"OMXTree_", {}};
    EnvEnumGlobalValues(&tree, collect);
    int visited = 0;
    for (const auto& [number, line] : tree.values) {
        if (number < 1 || number > lines) continue;
        ++visited;
        if (callback(context, static_cast<int>(number), line.c_str()) == 0) break;
    }
    return visited;
}
