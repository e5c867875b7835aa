#include "platform/logical_drives.h"

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

}  // namespace ombrix::platform
