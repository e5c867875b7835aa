// Reading the catalogue as the services publish it in the global store.
#include <cstdlib>
#include <cstring>

#include "common/catalogue_entry.h"
#include "common/oxtcomm.h"
#include "common/unc_path.h"
#include "platform/ascii.h"
#include "platform/export.h"

using namespace ombrix::catalogue;

namespace {

int numberOrDefault(const char* key, int fallback) {
    auto value = globalValue(key);
    return value ? std::atoi(value->c_str()) : fallback;
}

}  // namespace

OMX_EXPORT int OMXGetIndexHi(void) {
    return numberOrDefault("OMXIndexHi", 0);
}

OMX_EXPORT int OMXGetIndexHiNet(void) {
    int highest = numberOrDefault("OMXIndexHiNet", kSharedBase);
    return highest > kSharedBase - 1 ? highest : kSharedBase;
}

OMX_EXPORT int OMXGetNumberOfImages(void) {
    return numberOrDefault("OMXImageCount", -1);
}

OMX_EXPORT int OMXGetImageStringFromIndex(int index, char* buffer, int size) {
    auto text = entryText(index);
    if (!text) return 0;
    return ombrix::ascii::copyToBuffer(*text, buffer, size);
}

OMX_EXPORT int OMXGetImageInfoFromIndex(int index, OmxImageInfo* info) {
    if (info == nullptr) return 0;
    auto text = entryText(index);
    if (!text) {
        std::memset(info, 0, sizeof *info);
        return 0;
    }
    parseEntry(*text, *info);
    return 1;
}

OMX_EXPORT int OMXGetIndexFromImageFile(const char* imagePath, int range) {
    if (imagePath == nullptr) return -1;
    std::string given(imagePath);
    std::string unc = ombrix::toUncForm(given);
    auto matches = [&](int index) {
        auto text = entryText(index);
        if (!text) return false;
        std::string_view path = entryPath(*text);
        return ombrix::ascii::equalsIgnoreCase(path, unc) ||
               ombrix::ascii::equalsIgnoreCase(path, given);
    };
    if (range == OMX_RANGE_ALL || range == OMX_RANGE_LOCAL) {
        int highest = OMXGetIndexHi();
        for (int index = 1; index <= highest; ++index) {
            if (matches(index)) return index;
        }
    }
    if (range == OMX_RANGE_ALL || range == OMX_RANGE_SHARED) {
        int highest = OMXGetIndexHiNet();
        for (int index = kFirstSharedIndex; index <= highest; ++index) {
            if (matches(index)) return index;
        }
    }
    return -1;
}

OMX_EXPORT int OMXReadImagesNetFile(void) {
    return 0;
}
