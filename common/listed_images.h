#pragma once

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/oxtcomm.h"
#include "outside/help/oxthelp.h"

// The catalogue's images as the programs' lists and menus show them.
namespace ombrix::client {

struct ListedImage {
    int index = 0;
    std::string description;  // the catalogue's; empty when it has none
    std::string path;
};

// The images of catalogue numbers `first` to `last` that have a record, at most `limit`.
inline std::vector<ListedImage> imagesInRange(int first, int last, size_t limit) {
    std::vector<ListedImage> images;
    for (int index = first; index <= last && images.size() < limit; ++index) {
        OmxImageInfo info{};
        if (OMXGetImageInfoFromIndex(index, &info) == 0) continue;
        images.push_back(
            {index,
             std::string(info.description, strnlen(info.description, sizeof info.description)),
             std::string(info.path, strnlen(info.path, sizeof info.path))});
    }
    return images;
}

// Every image the session's helper publishes ("path|…" entries), with the catalogue's
// description where it has one.
inline std::vector<ListedImage> publishedImages() {
    std::vector<std::string> paths;
    OMXTSEnumImages(&paths, [](void* context, int, const char* entry) -> int {
        if (entry != nullptr) {
            const std::string_view text(entry);
            static_cast<std::vector<std::string>*>(context)->emplace_back(
                text.substr(0, text.find('|')));
        }
        return 1;
    });
    std::vector<ListedImage> images;
    for (const std::string& path : paths) {
        if (path.empty()) continue;
        ListedImage image{OMXGetIndexFromImageFile(path.c_str(), OMX_RANGE_ALL), {}, path};
        OmxImageInfo info{};
        if (image.index > 0 && OMXGetImageInfoFromIndex(image.index, &info) != 0)
            image.description.assign(info.description,
                                     strnlen(info.description, sizeof info.description));
        images.push_back(std::move(image));
    }
    return images;
}

}  // namespace ombrix::client
