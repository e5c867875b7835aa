// The password digest stored in an image's header, for the password prompt of the programs.
#include <cstddef>
#include <string>

#include "common/omx_image_types.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/locked_file.h"

OMX_EXPORT int OMXTSVerifyPWD(const char* imagePath, char* buffer, int size) {
    if (imagePath == nullptr) return 0;
    ombrix::platform::LockedFile file;
    if (file.open(imagePath, ombrix::platform::FileAccess::Read) != 0) return 0;
    OmxImageHeader header;
    size_t got = 0;
    if (file.readAt(&header, sizeof header, 0, got) != 0 || got != sizeof header) return 0;
    std::string digest(header.passwordDigest, sizeof header.passwordDigest - 1);
    digest.resize(digest.find('\0') == std::string::npos ? digest.size() : digest.find('\0'));
    ombrix::ascii::copyToBuffer(digest, buffer, size);
    return 1;
}
