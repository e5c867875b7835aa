#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// DOS device names: symbolic links in GLOBAL??/ (machine-wide) and Sessions/<sid>/DosDevices/
// (one session's own names, looked at before the global ones). A link to a device of the
// machine root is stored relative ("../Device/CdRom3") and read back as the kernel path
// ("\Device\CdRom3"); any other target is a Linux path and reads back as it is.
namespace ombrix::objmgr {

constexpr uint32_t kRawTargetPath = 0x1;
constexpr uint32_t kRemoveDefinition = 0x2;
constexpr uint32_t kExactMatchOnRemove = 0x4;

// The folder of DOS device names of `session`; session 0 uses the global folder.
std::filesystem::path dosDevicesFolder(uint32_t session);
std::filesystem::path globalFolder();

// The file of a kernel path below the machine root ("\Device\CdRom3" → <root>/Device/CdRom3).
// Empty for a path that does not begin with '\'.
std::filesystem::path kernelPathFile(std::string_view kernelPath);

// The target of `name` as seen from `session` (its own names first, then the global ones).
// 0, 2 when the name is not defined, 87 for a bad name.
int queryDosDevice(std::string_view name, std::string& target, uint32_t session);
// Every name visible to `session`, its own first, without duplicates.
int listDosDevices(std::vector<std::string>& names, uint32_t session);

// Defines, or with kRemoveDefinition removes, a name in the folder of `session`. A new definition
// replaces the old one. With kRawTargetPath the target is a kernel path ("\Device\CdRom3"),
// else a Linux path. Removal with kExactMatchOnRemove removes the name only when its target
// equals `target` (2 otherwise).
int defineDosDevice(uint32_t flags, std::string_view name, std::string_view target,
                    uint32_t session);

// Opens a device by its Win32 name ("\\.\Scsi2:", "\\.\OMX_3", "\\.\E:") or kernel path
// ("\Device\CdRom3"): the file that stands for it, or empty with `error` set.
std::filesystem::path resolveDevice(std::string_view name, uint32_t session, int& error);

// Volume mount points at drive roots ("E:\"): the drive letter's global name points at the
// volume's device. A volume name is "\\?\Volume{…}\".
int setVolumeMountPoint(std::string_view mountPoint, std::string_view volumeName);
int deleteVolumeMountPoint(std::string_view mountPoint);
int getVolumeNameForVolumeMountPoint(std::string_view mountPoint, std::string& volumeName);

}  // namespace ombrix::objmgr
