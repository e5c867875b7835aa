// Asks the user for a protected image's password and checks it against the image's digest.
#include <filesystem>
#include <string>

#include "common/oxtcomm_admin.h"
#include "common/password_prompt.h"
#include "oxthelp.h"
#include "platform/ascii.h"
#include "platform/export.h"

OMX_EXPORT int OMXVerifyPWD(const char* imagePath, char* password, int size) {
    char digest[100] = "";
    if (imagePath == nullptr || !OMXTSVerifyPWD(imagePath, digest, sizeof digest)) return 0;
    if (digest[0] == '\0') return 1;
    std::string item = std::filesystem::path(imagePath).filename().string();
    auto typed = ombrix::askForPassword(item, digest, true);
    if (!typed) return 0;
    ombrix::ascii::copyToBuffer(*typed, password, size);
    return 1;
}
