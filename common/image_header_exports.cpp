// The header calls of the client library.
#include <cstring>
#include <string>

#include "common/catalogue_edit.h"
#include "common/image_header.h"
#include "common/md5_digest.h"
#include "common/oxtcomm.h"
#include "platform/export.h"
#include "platform/win_error.h"

namespace win = ombrix::win;
namespace header = ombrix::header;

OMX_EXPORT int OMXGetHeader(const char* imagePath, OmxImageHeader* out) {
    if (imagePath == nullptr || out == nullptr) return win::kInvalidParameter;
    return header::read(imagePath, *out);
}

OMX_EXPORT int OMXHasPWD(const char* imagePath) {
    OmxImageHeader h;
    if (imagePath == nullptr || header::read(imagePath, h) != 0) return 0;
    return header::hasContainerMark(h) && header::hasPassword(h) ? 1 : 0;
}

OMX_EXPORT int OMXSetPWD(const char* imagePath, const char* oldPassword, const char* newPassword) {
    if (imagePath == nullptr || oldPassword == nullptr || newPassword == nullptr) {
        return win::kInvalidParameter;
    }
    return header::change(imagePath, [&](OmxImageHeader& h) {
        if (header::hasPassword(h)) {
            auto old = ombrix::md5Hex(oldPassword);
            if (!old ||
                std::strncmp(old->c_str(), h.passwordDigest, sizeof h.passwordDigest) != 0) {
                return win::kInvalidPassword;
            }
        }
        std::memset(h.passwordDigest, 0, sizeof h.passwordDigest);
        if (*newPassword != '\0') {
            auto digest = ombrix::md5Hex(newPassword);
            if (!digest) return win::kExtendedError;
            std::strncpy(h.passwordDigest, digest->c_str(), sizeof h.passwordDigest - 1);
        }
        return win::kSuccess;
    });
}

OMX_EXPORT int OMXSetDescription(const char* imagePath, const char* description) {
    if (imagePath == nullptr || description == nullptr) return win::kInvalidParameter;
    int err = header::change(imagePath, [&](OmxImageHeader& h) {
        std::memset(h.description, 0, sizeof h.description);
        std::memcpy(h.description, description, strnlen(description, sizeof h.description));
        return win::kSuccess;
    });
    if (err != 0) return err;

    // Catalogue entries of the image show the new description too.
    for (int range : {OMX_RANGE_LOCAL, OMX_RANGE_SHARED}) {
        int index = OMXGetIndexFromImageFile(imagePath, range);
        OmxImageInfo info;
        if (index == -1 || !OMXGetImageInfoFromIndex(index, &info)) continue;
        std::memset(info.description, 0, sizeof info.description);
        std::strncpy(info.description, description, sizeof info.description - 1);
        ombrix::catalogue::changeEntry(index, info, true);
    }
    return win::kSuccess;
}
