#include "platform/object_manager.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/device_io.h"
#include "platform/logical_drives.h"
#include "platform/scsi_miniport.h"
#include "support/temp_root.h"

namespace {

namespace om = ombrix::objmgr;

TEST(ObjectManager, RawTargetsReadBackAsKernelPathsAndResolveToRootFiles) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "OMX_3", "\\Device\\CdRom3", 0), 0);
    std::string target;
    ASSERT_EQ(om::queryDosDevice("omx_3", target, 0), 0);  // names ignore letter case
    EXPECT_EQ(target, "\\Device\\CdRom3");
    // The link itself is relative to its folder, so it points into the root.
    EXPECT_EQ(std::filesystem::read_symlink(root / "GLOBAL?"
                                                   "?/OMX_3"),
              "../Device/CdRom3");
    int error = -1;
    EXPECT_EQ(om::resolveDevice("\\\\.\\OMX_3", 0, error), root.path() / "Device/CdRom3");
    EXPECT_EQ(error, 0);
    om::resolveDevice("\\\\.\\OMX_4", 0, error);
    EXPECT_EQ(error, 2);
    // A kernel path cannot climb out of the root.
    EXPECT_TRUE(om::kernelPathFile("\\Device\\..\\..\\etc").empty());
    EXPECT_EQ(om::defineDosDevice(om::kRawTargetPath, "X:", "\\..\\etc", 0), 87);
    EXPECT_EQ(om::defineDosDevice(0, "a/b", "/tmp", 0), 87);
    // The longest name a folder holds can be defined, one more character cannot.
    EXPECT_EQ(om::defineDosDevice(0, std::string(255, 'N'), "/tmp", 0), 0);
    EXPECT_EQ(om::defineDosDevice(0, std::string(256, 'N'), "/tmp", 0), 87);
}

TEST(ObjectManager, RemoveWithExactMatchOnlyRemovesTheMatchingTarget) {
    ombrix::test::TempRoot root;
    const uint32_t flags = om::kRawTargetPath | om::kRemoveDefinition | om::kExactMatchOnRemove;
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "OMX_0", "\\Device\\CdRom0", 0), 0);
    EXPECT_EQ(om::defineDosDevice(flags, "OMX_0", "\\Device\\CdRom1", 0), 2);
    std::string target;
    EXPECT_EQ(om::queryDosDevice("OMX_0", target, 0), 0);
    EXPECT_EQ(om::defineDosDevice(flags, "OMX_0", "\\device\\cdrom0", 0), 0);
    EXPECT_EQ(om::queryDosDevice("OMX_0", target, 0), 2);
}

TEST(ObjectManager, SessionNamesHideGlobalOnesForThatSessionOnly) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "E:", "\\Device\\CdRom0", 0), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "E:", "\\Device\\CdRom4", 7), 0);
    EXPECT_EQ(std::filesystem::read_symlink(root / "Sessions/7/DosDevices/E:"),
              "../../../Device/CdRom4");
    std::string target;
    ASSERT_EQ(om::queryDosDevice("E:", target, 7), 0);
    EXPECT_EQ(target, "\\Device\\CdRom4");
    ASSERT_EQ(om::queryDosDevice("E:", target, 8), 0);
    EXPECT_EQ(target, "\\Device\\CdRom0");
    std::vector<std::string> names;
    om::listDosDevices(names, 7);
    EXPECT_EQ(names, std::vector<std::string>{"E:"});
}

TEST(ObjectManager, VolumeMountPoints) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "Volume{a1}", "\\Device\\CdRom2", 0), 0);
    ASSERT_EQ(om::setVolumeMountPoint("F:\\", "\\\\?\\Volume{a1}\\"), 0);
    std::string volume, target;
    ASSERT_EQ(om::getVolumeNameForVolumeMountPoint("f:\\", volume), 0);
    EXPECT_EQ(volume, "\\\\?\\Volume{a1}\\");
    ASSERT_EQ(om::queryDosDevice("F:", target, 0), 0);
    EXPECT_EQ(target, "\\Device\\CdRom2");
    EXPECT_NE(om::setVolumeMountPoint("F:\\", "\\\\?\\Volume{a1}\\"), 0);  // letter in use
    EXPECT_EQ(om::setVolumeMountPoint("F:", "\\\\?\\Volume{a1}\\"), 87);
    ASSERT_EQ(om::deleteVolumeMountPoint("F:\\"), 0);
    EXPECT_EQ(om::queryDosDevice("F:", target, 0), 2);
}

TEST(LogicalDrives, LettersAreTypedByTheirTargetAndASessionSeesItsOwnFirst) {
    namespace pf = ombrix::platform;
    ombrix::test::TempRoot root;
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "D:", "\\Device\\CdRom6", 0), 0);
    ASSERT_EQ(om::defineDosDevice(0, "C:", "/tmp", 0), 0);
    ASSERT_EQ(om::defineDosDevice(0, "H:", "/nonexistent/ombrix", 0), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "E:", "\\Device\\CdRom0", 4), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "OMX_0", "\\Device\\CdRom0", 4), 0);

    EXPECT_EQ(pf::logicalDrives(4), (1u << 2) | (1u << 3) | (1u << 4) | (1u << 7));
    EXPECT_EQ(pf::logicalDrives(5), (1u << 2) | (1u << 3) | (1u << 7));
    EXPECT_EQ(pf::driveType('d', 4), pf::kDriveCdRom);
    EXPECT_EQ(pf::driveType('E', 4), pf::kDriveCdRom);
    EXPECT_EQ(pf::driveType('E', 5), pf::kDriveNoRootDir);  // another session's letter
    EXPECT_EQ(pf::driveType('C', 4), pf::kDriveFixed);
    EXPECT_EQ(pf::driveType('H', 4), pf::kDriveNoRootDir);  // its folder is gone
    EXPECT_EQ(pf::driveType('?', 4), pf::kDriveNoRootDir);
}

TEST(DeviceIo, RequestsReachTheDeviceAndMissingDevicesFailToOpen) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto handle = ombrix::platform::DeviceHandle::open("\\Device\\Scsi9", 0, error);
    EXPECT_FALSE(handle.valid());
    EXPECT_EQ(error, 2);
    size_t returned = 1;
    EXPECT_EQ(handle.ioControl(1, nullptr, 0, nullptr, 0, returned), 6);

    auto listener = ombrix::platform::listenDevice(root / "Device/Scsi9", error);
    ASSERT_TRUE(listener.valid());
    handle = ombrix::platform::DeviceHandle::open("\\Device\\Scsi9", 0, error);
    ASSERT_TRUE(handle.valid());
}

}  // namespace
