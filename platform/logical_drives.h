#pragma once

#include <cstdint>
#include <string>

// The drive letters a session sees and what each letter stands for. A letter is a DOS device
// name "X:" of the session or of the machine; its type follows from its target: a CD unit of the
// machine root ("\Device\CdRomN") is a CD drive, an existing folder a fixed disk.
namespace ombrix::platform {

enum DriveType : int {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
};

// Bit 0 for A: up to bit 25 for Z:, set for every letter `session` has defined.
uint32_t logicalDrives(uint32_t session);

// The type of `letter` ('A'..'Z', either case) as `session` sees it.
DriveType driveType(char letter, uint32_t session);

// The volume label of the disc in CD drive `letter`; empty when the drive holds no disc, the
// caller may not read it, or the letter is no CD drive.
std::string volumeLabel(char letter, uint32_t session);

}  // namespace ombrix::platform
