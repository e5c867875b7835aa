// Where the installation, the image folders and the shared files are.
#include <string>
#include <vector>

#include "oxtenv.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/registry.h"
#include "platform/win_error.h"

namespace {

constexpr const char* kGlobalSettingsKey = "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";

int globalInto(const char* key, char* buffer, int size) {
    return EnvGetGlobalValue(key, buffer, size) ? 1 : 0;
}

}  // namespace

OMX_EXPORT int OMXGetInstallPath(char* buffer, int size) {
    // A path that does not fit is reported (234), never handed over cut short.
    std::string path;
    std::vector<char> value(4096);
    if (EnvGetGlobalValue("OMXHomePath", value.data(), static_cast<int>(value.size()))) {
        path = value.data();
    } else if (int err = ombrix::registry::getString(kGlobalSettingsKey, "OMXHomePath", path)) {
        return err;
    }
    if (buffer == nullptr || size <= static_cast<int>(path.size())) return ombrix::win::kMoreData;
    ombrix::ascii::copyToBuffer(path, buffer, size);
    return 0;
}

OMX_EXPORT int OMXGetImagePath(char* buffer, int size) {
    return EnvGetUserValue("OmxImagePath", buffer, size) ? 1 : 0;
}

OMX_EXPORT int OMXGetImagePathNet(char* buffer, int size) {
    return globalInto("OmxImagePathNet", buffer, size);
}

OMX_EXPORT int OMXGetGlobalImageFileName(char* buffer, int size) {
    return globalInto("OmxConfigFileNet", buffer, size);
}

OMX_EXPORT int OMXGetGlobalTreeFileName(char* buffer, int size) {
    return globalInto("OMXTreeFileNet", buffer, size);
}

OMX_EXPORT int OMXGetAdminFileName(char* buffer, int size) {
    char folder[4096];
    if (!EnvGetGlobalValue("OmxAdmPathNet", folder, sizeof folder)) return 0;
    std::string path(folder);
    if (!path.empty() && path.back() != '/') path += '/';  // a folder value ends in a separator
    ombrix::ascii::copyToBuffer(path + "Oxtadm.dat", buffer, size);
    return 1;
}
