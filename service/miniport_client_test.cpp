#include "service/miniport_client.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/scsi_miniport.h"
#include "service/unit_setup.h"
#include "support/temp_root.h"

namespace {

namespace scsi = ombrix::scsi;

TEST(CMiniport, FindPortNeedsTheDriverNameAndAPortKey) {
    ombrix::test::TempRoot root;
    const std::string map = CMiniport::kDeviceMapKey;
    EXPECT_EQ(CMiniport::FindPort(), -1);
    ombrix::registry::setString(map + "\\Scsi Port 0", "Driver", "atapi");
    ombrix::registry::setString(map + "\\Other 4", "Driver", "OXTMPDRV");
    EXPECT_EQ(CMiniport::FindPort(), -1);
    ombrix::registry::setString(map + "\\SCSI PORT 5", "Driver", "oxtmpdrv");
    EXPECT_EQ(CMiniport::FindPort(), 5);
}

TEST(CMiniport, AClosedPortFailsEveryRequest) {
    ombrix::test::TempRoot root;
    CMiniport port;
    EXPECT_FALSE(port.Open(-1));
    EXPECT_FALSE(port.IsOpen());
    unsigned char data[4] = {};
    EXPECT_FALSE(port.Send(scsi::kQueryImage, data, sizeof data, 5));
    CDriveInfo unit;
    EXPECT_EQ(port.Insert(unit, "/x", ""), CMiniport::kRequestFailed);
    std::string path;
    EXPECT_FALSE(port.QueryImage(unit, path));
    EXPECT_EQ(port.MapNotifications(), nullptr);
}

TEST(NotificationWalk, SlotsAreHandledPassedOverOrWaitedFor) {
    std::vector<unsigned char> buffer(scsi::kNotifyBufferSize, 0);
    std::vector<uint32_t> seen;
    auto onAccess = [&](uint32_t pid) { seen.push_back(pid); };
    // A free slot is looked at again.
    EXPECT_EQ(WalkNotificationSlot(buffer.data(), 16, onAccess), 16u);
    // Type 100 reports its (unaligned) process id; type 7 is passed over, the walk goes on.
    scsi::writeU32(buffer.data() + 16, 100);
    scsi::writeU32(buffer.data() + 16 + 269, 4321);
    scsi::writeU32(buffer.data() + 16 + 273, 7);
    scsi::writeU32(buffer.data() + 16 + 273 + 269, 99);
    EXPECT_EQ(WalkNotificationSlot(buffer.data(), 16, onAccess), 289u);
    EXPECT_EQ(WalkNotificationSlot(buffer.data(), 289, onAccess), 562u);
    EXPECT_EQ(seen, std::vector<uint32_t>{4321});
    // After slot 58 the walk starts at the first slot again.
    scsi::writeU32(buffer.data() + 15850, 100);
    EXPECT_EQ(WalkNotificationSlot(buffer.data(), 15850, onAccess), 16u);
}

TEST(CBoolString, PositionsPadWithZeros) {
    CBoolString map;
    map.Set(3);
    EXPECT_EQ(map.Text(), "0001");
    map.Set(0);
    map.Set(-2);
    EXPECT_EQ(map.Text(), "1001");
    EXPECT_TRUE(map.Get(3));
    EXPECT_FALSE(map.Get(2));
    EXPECT_FALSE(map.Get(40));
}

TEST(UnitSetup, MountPointsGiveVolumeNamesAndTakeGlobalLettersAway) {
    ombrix::test::TempRoot root;
    namespace om = ombrix::objmgr;
    SafeLogonMap logons;
    ServiceRequests units(logons, {});
    for (int n : {0, 1}) {
        auto unit = std::make_unique<CDriveInfo>();
        unit->number = n;
        unit->deviceName = "\\Device\\CdRom" + std::to_string(n);
        units.addUnit(std::move(unit));
    }
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "Volume{v1}", "\\Device\\CdRom1", 0), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "Volume{v9}", "\\Device\\CdRom9", 0), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "G:", "\\DEVICE\\CDROM1", 0), 0);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "H:", "\\Device\\CdRom7", 0), 0);
    PrepareMountPoints(units);
    EXPECT_EQ(units.findUnit(1)->volumeName, "\\\\?\\Volume{v1}\\");
    EXPECT_TRUE(units.findUnit(0)->volumeName.empty());
    std::string target;
    EXPECT_EQ(om::queryDosDevice("G:", target, 0), 2);
    EXPECT_EQ(om::queryDosDevice("H:", target, 0), 0);  // not a unit
    EXPECT_EQ(om::queryDosDevice("Z:", target, 0), 2);  // the spare letter is free again
}

TEST(UnitSetup, LoggedOnUsersMayListAUnitAndTalkToItsDevice) {
    ombrix::test::TempRoot root;
    namespace fs = std::filesystem;
    fs::path unit = root / "Device/CdRom4";
    fs::create_directories(unit);
    ombrix::test::writeFile(root / "Device/CdRom4.ctl", "");
    fs::permissions(unit, fs::perms::owner_all);
    fs::permissions(root / "Device/CdRom4.ctl", fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_EQ(GrantInteractiveAccess(unit), 0);
    EXPECT_EQ(fs::status(unit).permissions(), fs::perms::owner_all | fs::perms::group_read |
                                                  fs::perms::group_exec | fs::perms::others_read |
                                                  fs::perms::others_exec);
    EXPECT_EQ(fs::status(root / "Device/CdRom4.ctl").permissions(),
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::group_write | fs::perms::others_read | fs::perms::others_write);
    EXPECT_EQ(GrantInteractiveAccess(root / "Device/CdRom5"), 2);
}

TEST(UnitSetup, SessionLinkStep) {
    ombrix::test::TempRoot root;
    namespace om = ombrix::objmgr;
    EXPECT_EQ(OpenSessionLink("", 4), 87);
    EXPECT_EQ(OpenSessionLink(std::string(1025, 'E'), 4), 87);
    EXPECT_EQ(OpenSessionLink("E:", 4), 6);
    ASSERT_EQ(om::defineDosDevice(om::kRawTargetPath, "E:", "\\Device\\CdRom1", 4), 0);
    // A session whose user has no account here keeps the link as it is.
    EXPECT_EQ(OpenSessionLink("E:", 4), 0);
    EXPECT_EQ(OpenSessionLink("../E:", 4), 6);
}

}  // namespace
