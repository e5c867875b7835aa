#include "platform/logical_drives.h"

#include <sys/xattr.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/ascii.h"
#include "platform/object_manager.h"

namespace ombrix::platform {
namespace {

int letterBit(char letter) {
    const char upper = ascii::upper(letter);
    return upper >= 'A' && upper <= 'Z' ? upper - 'A' : -1;
}

bool isCdUnit(const std::string& kernelPath) {
    constexpr std::string_view kCdPrefix = "\\Device\\CdRom";
    return kernelPath.size() > kCdPrefix.size() &&
           ascii::startsWithIgnoreCase(kernelPath, kCdPrefix);
}

}  // namespace

uint32_t logicalDrives(uint32_t session) {
    std::vector<std::string> names;
    if (objmgr::listDosDevices(names, session) != 0) return 0;
    uint32_t mask = 0;
    for (const std::string& name : names) {
        if (name.size() != 2 || name[1] != ':') continue;
        const int bit = letterBit(name[0]);
        if (bit >= 0) mask |= 1u << bit;
    }
    return mask;
}

DriveType driveType(char letter, uint32_t session) {
    if (letterBit(letter) < 0) return kDriveNoRootDir;
    std::string target;
    if (objmgr::queryDosDevice(std::string(1, ascii::upper(letter)) + ":", target, session) != 0)
        return kDriveNoRootDir;
    if (isCdUnit(target)) return kDriveCdRom;
    if (!target.empty() && target[0] == '\\') return kDriveUnknown;
    std::error_code ec;
    return std::filesystem::is_directory(target, ec) ? kDriveFixed : kDriveNoRootDir;
}

std::string volumeLabel(char letter, uint32_t session) {
    if (letterBit(letter) < 0) return {};
    std::string target;
    if (objmgr::queryDosDevice(std::string(1, ascii::upper(letter)) + ":", target, session) != 0 ||
        !isCdUnit(target))
        return {};
    // The unit's folder is where its disc is mounted; the mount names the disc in an attribute.
    const std::string folder = objmgr::kernelPathFile(target).string();
    constexpr const char* kAttribute = "user.volume_label";
    const ssize_t size = ::getxattr(folder.c_str(), kAttribute, nullptr, 0);
    if (size <= 0 || size > 4096) return {};
    std::string label(static_cast<size_t>(size), '\0');
    const ssize_t length = ::getxattr(folder.c_str(), kAttribute, label.data(), label.size());
    if (length <= 0) return {};
    label.resize(static_cast<size_t>(length));
    return label;
}

}  // namespace ombrix::platform
