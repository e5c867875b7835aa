#include "platform/device_setup.h"

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace dev = ombrix::devices;
namespace reg = ombrix::registry;
using ombrix::test::writeFile;

namespace {

const char* kAdapterGuid = "{4D36E97B-E325-11CE-BFC1-08002BE10318}";

const char* kInf =
    "[Version]\nClass = SCSIAdapter\nClassGUID = {4D36E97B-E325-11CE-BFC1-08002BE10318}\n"
    "[Manufacturer]\n%Mfg% = Models\n"
    "[Models]\n%Desc% = Adapter, root\\adapter, root\\compatible\n"
    "[Adapter.NTx86.Services]\n"
    "AddService = helper, 0x0, Helper.Service\n"
    "AddService = adapterdrv, 0x00000002, Adapter.Service\n"
    "[Adapter.Service]\nDisplayName = %Desc%\nStartType = 0x3\nServiceBinary = %12%\\adapterdrv\n"
    "[Strings]\nDesc = \"Test adapter\"\n";

std::string text(const std::string& key, const char* name) {
    std::string out;
    return reg::getString(key, name, out) == 0 ? out : "<missing>";
}

class DeviceSetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(infPath_, kInf);
        writeFile(root_ / "inf/adapterdrv", "#!/bin/sh\n");
    }

    // Creates and registers a device the way an installer does.
    dev::DeviceInfo registerAdapter(const std::string& hardwareId) {
        dev::DeviceInfoList list;
        dev::DeviceInfo device;
        EXPECT_EQ(setup_.createDeviceInfoList(kAdapterGuid, list), 0);
        EXPECT_EQ(setup_.createDeviceInfo(list, "SCSIAdapter", device), 0);
        EXPECT_EQ(
            setup_.setProperty(device, dev::Property::kHardwareId, dev::multiString({hardwareId})),
            0);
        EXPECT_EQ(setup_.registerDevice(device), 0);
        return device;
    }

    ombrix::test::TempRoot root_;
    dev::DeviceSetup setup_;
    std::string infPath_ = (root_ / "inf/adapter.inf").string();
};

TEST_F(DeviceSetupTest, ListsPresentAndPhantomDevicesWithTheirProperties) {
    const std::string cdrom(dev::kCdromClassGuid);
    ASSERT_EQ(dev::addDevice({"SCSI\\CdRom\\1&0",
                              cdrom,
                              "CDROM",
                              {"SCSI\\cdromNRV", "GenCdRom"},
                              "\\Device\\Scsi\\oxtmpdrv1Port2Path0Target0Lun0",
                              "",
                              true}),
              0);
    ASSERT_EQ(dev::addDevice({"SCSI\\CdRom\\1&1", cdrom, "CDROM", {}, "", "", false}), 0);
    // A hardware id written as a plain string is one id.
    ASSERT_EQ(reg::setString(dev::deviceKey("SCSI\\CdRom\\1&1"), "HardwareID", "SCSI\\one"), 0);

    dev::DeviceInfoList present, all;
    ASSERT_EQ(setup_.listDevices(false, present), 0);
    ASSERT_EQ(setup_.listDevices(true, all), 0);
    ASSERT_EQ(present.devices.size(), 1u);
    ASSERT_EQ(all.devices.size(), 2u);
    EXPECT_EQ(present.devices[0].instanceId, "SCSI\\CdRom\\1&0");

    reg::Value value;
    ASSERT_EQ(setup_.getProperty(all.devices[0], dev::Property::kHardwareId, value), 0);
    EXPECT_EQ(dev::propertyStrings(value),
              (std::vector<std::string>{"SCSI\\cdromNRV", "GenCdRom"}));
    ASSERT_EQ(setup_.getProperty(all.devices[1], dev::Property::kHardwareId, value), 0);
    EXPECT_EQ(dev::propertyStrings(value), (std::vector<std::string>{"SCSI\\one"}));
    EXPECT_EQ(setup_.getProperty(all.devices[1], dev::Property::kService, value), 13);
    EXPECT_EQ(setup_.nodeStatus(all.devices[0]), 0);
    EXPECT_EQ(setup_.nodeStatus(all.devices[1]), dev::kNoSuchDevnode);

    using namespace std::string_literals;  // an empty entry ends a multi-string
    EXPECT_EQ(dev::propertyStrings({reg::kMultiString, "a\0b\0\0c\0\0"s}),
              (std::vector<std::string>{"a", "b"}));
}

TEST_F(DeviceSetupTest, GeneratedIdsTakeTheFirstFreeNumber) {
    dev::DeviceInfo first = registerAdapter("root\\adapter");
    EXPECT_EQ(first.instanceId, "ROOT\\SCSIADAPTER\\0000");
    EXPECT_EQ(registerAdapter("root\\adapter").instanceId, "ROOT\\SCSIADAPTER\\0001");
    EXPECT_NE(setup_.registerDevice(first), 0);
    ASSERT_EQ(setup_.removeDevice(first), 0);
    EXPECT_EQ(setup_.nodeStatus(first), dev::kNoSuchDevnode);
    EXPECT_EQ(setup_.removeDevice(first), dev::kErrorNoSuchDevinst);
    EXPECT_EQ(registerAdapter("root\\adapter").instanceId, "ROOT\\SCSIADAPTER\\0000");

    dev::DeviceInfoList list;
    dev::DeviceInfo device;
    EXPECT_EQ(setup_.createDeviceInfoList("{not-a-guid}", list), 87);
    EXPECT_EQ(setup_.createDeviceInfo(list, "ROOT\\X", device), dev::kErrorInvalidDevinstName);
    // Ids that are not three plain parts never reach the registry (nor name Enum itself).
    for (const char* bad : {"", "ROOT\\X", "ROOT\\\\0000", "ROOT\\X\\0000\\more", " R\\X\\0"}) {
        EXPECT_EQ(dev::deviceKey(bad), "") << bad;
        EXPECT_NE(dev::addDevice({bad, kAdapterGuid, "X", {}, "", "", true}), 0) << bad;
    }
}

TEST_F(DeviceSetupTest, DriverUpdateBindsTheAssociatedServiceToMatchingDevices) {
    dev::DeviceInfo adapter = registerAdapter("ROOT\\Adapter");  // ids match without case
    ASSERT_EQ(dev::addDevice({"ROOT\\SCSIADAPTER\\0005",
                              kAdapterGuid,
                              "SCSIAdapter",
                              {"root\\adapter"},
                              "",
                              "",
                              false}),
              0);
    bool restart = true;
    ASSERT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\adapter", infPath_, restart), 0);
    EXPECT_FALSE(restart);

    const std::string service = std::string(dev::kServicesKey) + "\\adapterdrv";
    EXPECT_EQ(text(service, "ImagePath"), (root_ / "inf/adapterdrv").string());
    EXPECT_EQ(text(service, "DisplayName"), "Test adapter");
    uint32_t start = 0;
    ASSERT_EQ(reg::getDword(service, "Start", start), 0);
    EXPECT_EQ(start, 3u);
    EXPECT_EQ(text(dev::deviceKey(adapter.instanceId), "Service"), "adapterdrv");
    EXPECT_EQ(text(dev::deviceKey("ROOT\\SCSIADAPTER\\0005"), "Service"), "<missing>");

    // The same program again needs no restart; replacing another program does.
    ASSERT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\adapter", infPath_, restart), 0);
    EXPECT_FALSE(restart);
    ASSERT_EQ(reg::setString(service, "ImagePath", "/old/adapterdrv"), 0);
    ASSERT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\adapter", infPath_, restart), 0);
    EXPECT_TRUE(restart);
}

TEST_F(DeviceSetupTest, DriverUpdateFailuresWriteNoService) {
    bool restart = false;
    EXPECT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\adapter", infPath_, restart),
              dev::kErrorNoSuchDevinst);
    registerAdapter("root\\adapter");
    EXPECT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\unknown", infPath_, restart),
              dev::kErrorNoDriverSelected);
    const std::string models = "[Manufacturer]\nm = Models\n[Models]\nd = Adapter, root\\adapter\n";
    const struct {
        std::string inf;
        int error;
    } cases[] = {
        {models, dev::kErrorSectionNotFound},
        // A service name that would reach into other keys.
        {models + "[Adapter.Services]\nAddService = ..\\Enum, 2\n", 87},
        // The driver program is nowhere to be found.
        {models + "[Adapter.Services]\nAddService = nothing, 2\n", 2},
    };
    for (const auto& c : cases) {
        writeFile(infPath_, c.inf);
        EXPECT_EQ(setup_.updateDriverForPlugAndPlayDevices("root\\adapter", infPath_, restart),
                  c.error)
            << c.inf;
    }
    std::vector<std::string> services;
    EXPECT_EQ(reg::listSubkeys(dev::kServicesKey, services), 2);
}

}  // namespace
