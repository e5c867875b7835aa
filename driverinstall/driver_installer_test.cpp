#include "driverinstall/driver_installer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "driverinstall/install_log.h"
#include "driverinstall/installer_test_support.h"
#include "platform/device_setup.h"

namespace dev = ombrix::devices;
namespace drv = ombrix::drvinst;
using ombrix::test::storedResult;
using Lines = std::vector<std::string>;

namespace {

const std::string kCdrom(dev::kCdromClassGuid);
const std::string kDisk = "{4D36E967-E325-11CE-BFC1-08002BE10318}";
const std::string kDrivePdo = "\\Device\\SCSI\\OXTMPDRV1Port2Path0Target0Lun0";

int addDevice(const char* id, const std::string& guid, std::vector<std::string> ids, bool present,
              const std::string& pdo = "") {
    return dev::addDevice({id, guid, "X", std::move(ids), pdo, "", present});
}

// A device setup whose single calls can be made to fail or throw.
class FaultySetup : public dev::DeviceSetup {
  public:
    int listFailure = 0, registerFailure = 0, removeFailure = 0;
    bool listThrowsOnce = false;

    int listDevices(bool includeNonPresent, dev::DeviceInfoList& out) override {
        if (std::exchange(listThrowsOnce, false)) throw std::runtime_error("unreadable");
        if (listFailure != 0) return listFailure;
        return DeviceSetup::listDevices(includeNonPresent, out);
    }
    int registerDevice(dev::DeviceInfo& device) override {
        return registerFailure ? registerFailure : DeviceSetup::registerDevice(device);
    }
    int removeDevice(const dev::DeviceInfo& device) override {
        return removeFailure ? removeFailure : DeviceSetup::removeDevice(device);
    }
};

class InstallerTest : public ::testing::Test {
  protected:
    void SetUp() override { infPath_ = ombrix::test::installShippedInf(); }

    int install(const char* inf = nullptr) { return run(inf, false, false); }
    int remove(const char* inf = nullptr, bool guard = false) { return run(inf, true, guard); }
    int run(const char* inf, bool removing, bool guard) {
        std::filesystem::remove(logFile_);
        return drv::runInstaller(inf, removing, guard, setup_, log_);
    }
    Lines log() const { return ombrix::test::logMessages(logFile_); }

    // Every recorded device and whether it is present.
    std::string devices() {
        dev::DeviceInfoList all;
        EXPECT_EQ(setup_.listDevices(true, all), 0);
        std::string out;
        for (const dev::DeviceInfo& d : all.devices)
            out += d.instanceId + (exists(d.instanceId) ? "+ " : "- ");
        return out;
    }
    bool exists(const std::string& instanceId) {
        dev::DeviceInfo probe;
        probe.instanceId = instanceId;
        return setup_.nodeStatus(probe) == 0;
    }
    std::string startLine() const { return "Starting Install: " + infPath_ + " root\\nrvoxt"; }

    ombrix::test::TempRoot root_;
    std::filesystem::path logFile_ = root_ / "drvinst.log";
    drv::InstallLog log_{logFile_};
    FaultySetup setup_;
    std::string infPath_;
};

TEST_F(InstallerTest, InstallCreatesTheAdapterAndBindsTheDriver) {
    EXPECT_EQ(install(), drv::kResultDone);
    EXPECT_EQ(storedResult(), "0|");
    EXPECT_EQ(log(), (Lines{"Setting Result to 1", startLine(), "Removing Phantom drives",
                            "RemovePhantomDrives()", "RemovePhantomDrives() done",
                            "Starting InstallRootEnumeratedDriver()", "Setting Result to 0"}));
    std::string service, imagePath;
    ASSERT_EQ(
        ombrix::registry::getString(dev::deviceKey("ROOT\\SCSIADAPTER\\0000"), "Service", service),
        0);
    EXPECT_EQ(service, "oxtmpdrv");
    ASSERT_EQ(ombrix::registry::getString(std::string(dev::kServicesKey) + "\\oxtmpdrv",
                                          "ImagePath", imagePath),
              0);
    EXPECT_EQ(imagePath, (drv::defaultInfPath().parent_path() / "oxtmpdrv").string());

    // Installing twice is refused and changes nothing, not even a phantom drive.
    ASSERT_EQ(addDevice("SCSI\\CDROM\\PHANTOM", kCdrom, {"SCSI\\cdromNRV"}, false), 0);
    const std::string before = devices();
    EXPECT_EQ(install(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|Already installed");
    EXPECT_EQ(devices(), before);
    EXPECT_EQ(log(), (Lines{"Setting Result to 1", startLine(), "Setting Result to 2"}));
}

TEST_F(InstallerTest, RestartIsReportedWhenTheServiceHadAnotherProgram) {
    ASSERT_EQ(ombrix::registry::setString(std::string(dev::kServicesKey) + "\\oxtmpdrv",
                                          "ImagePath", "/opt/old/oxtmpdrv"),
              0);
    EXPECT_EQ(install(), drv::kResultRestartNeeded);
    EXPECT_EQ(storedResult(), "3|");
}

TEST_F(InstallerTest, HardwareIdsCompareWithLetterCase) {
    ASSERT_EQ(addDevice("ROOT\\SCSIADAPTER\\0007", kDisk, {"ROOT\\NRVOXT"}, true), 0);
    EXPECT_EQ(remove(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|HardwareID root\\nrvoxt not found");
    EXPECT_EQ(log().back(), "Setting Result to 2");

    EXPECT_EQ(install(), drv::kResultDone);
    EXPECT_EQ(remove(), drv::kResultDone);
    EXPECT_EQ(devices(), "ROOT\\SCSIADAPTER\\0007+ ");
}

TEST_F(InstallerTest, PhantomDrivesAreFoundByPrefixWithoutCase) {
    ASSERT_EQ(addDevice("SCSI\\CDROM\\A", kCdrom, {"scsi\\CDROMn_r_v_Virtual"}, false), 0);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\B", kCdrom, {"SCSI\\CdRomNrv"}, false), 0);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\C", kCdrom, {"SCSI\\cdromNRV"}, true), 0);  // present
    ASSERT_EQ(addDevice("SCSI\\CDROM\\D", kCdrom, {"SCSI\\cdromOther"}, false), 0);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\E", kCdrom, {"Gen", "SCSI\\cdromNRV"}, false), 0);
    ASSERT_EQ(addDevice("SCSI\\DISK\\F", kDisk, {"SCSI\\cdromNRV"}, false), 0);  // not a CD-ROM
    EXPECT_EQ(install(), drv::kResultDone);
    EXPECT_EQ(devices(),
              "ROOT\\SCSIADAPTER\\0000+ SCSI\\CDROM\\C+ SCSI\\CDROM\\D- SCSI\\CDROM\\E- "
              "SCSI\\DISK\\F- ");
}

TEST_F(InstallerTest, RemoveTakesTheServiceDrivesThenTheAdapter) {
    ASSERT_EQ(install(), drv::kResultDone);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\A1", kCdrom, {"SCSI\\cdromNRV"}, true, kDrivePdo), 0);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\B2", kCdrom, {"x"}, true, "\\Device\\Scsi\\other1Port3"), 0);
    ASSERT_EQ(addDevice("SCSI\\DISK\\C3", kDisk, {"x"}, true, "\\Device\\Scsi\\oxtmpdrv1Port2"), 0);
    EXPECT_EQ(remove(), drv::kResultDone);
    EXPECT_EQ(storedResult(), "0|");
    const std::string count = "Calling SetupDiGetDeviceRegistryProperty(), dwCount = ";
    EXPECT_EQ(log(),
              (Lines{"Setting Result to 1", "RemoveDrives(oxtmpdrv)",
                     "Calling SetupDiGetClassDevs()", "Starting SetupDiEnumDeviceInfo", count + "0",
                     count + "1", "Try to Remove '" + kDrivePdo + "'", count + "2", count + "3",
                     "Removing drives done", "Setting Result to 0"}));
    EXPECT_EQ(devices(), "SCSI\\CDROM\\B2+ SCSI\\DISK\\C3+ ");
}

TEST_F(InstallerTest, MissingInfFilesAreNamed) {
    EXPECT_EQ(install("/nonexistent/nrvoxt.inf"), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|Inf file '/nonexistent/nrvoxt.inf' not found");
    EXPECT_EQ(log(), (Lines{"Setting Result to 1", "Setting Result to 2"}));

    std::filesystem::remove_all(root_ / "windows");
    EXPECT_EQ(remove(nullptr), drv::kResultFailed);
    EXPECT_EQ(storedResult(),
              "2|Inf file '" + (root_ / "windows/inf/nrvoxt.inf").string() + "' not found");
}

TEST_F(InstallerTest, BrokenInfFilesFailClearlyAndLeaveNoDevice) {
    const std::string models = "[Manufacturer]\nm = Models\n[Models]\nd = Inst, root\\nrvoxt\n";
    const std::string path = (root_ / "broken.inf").string();
    const std::string noId = "GetHardwareID() failed",
                      noDevice = "InstallRootEnumeratedDriver() failed";
    const struct {
        std::string text, error, failedStep;
    } cases[] = {
        {"[Version]\nClass = SCSIAdapter\n", noId, ""},
        {"[Manufacturer]\nm =\n", noId, ""},
        {"[Manufacturer]\nm = Models\n[Models]\nd = Inst root\\nrvoxt\n", noId, ""},
        {"[Manufacturer]\nm = " + std::string(10000, 'm') + "\n", noId, ""},
        {models, noDevice,
         "SetupDiGetINFClass(" + path +
             ") failed, LastError = " + std::to_string(dev::kErrorInvalidClass)},
        {"[Version]\nClass = SCSI\nClassGUID = {4D36E97B-E325-11CE-BFC1-08002BE10318}\n" + models,
         noDevice,
         "UpdateDriverForPlugAndPlayDevices failed, LastError = " +
             std::to_string(dev::kErrorSectionNotFound)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.substr(0, 60));
        ombrix::test::writeFile(path, c.text);
        EXPECT_EQ(install(path.c_str()), drv::kResultFailed);
        EXPECT_EQ(storedResult(), "2|" + c.error);
        EXPECT_EQ(devices(), "");
        Lines lines = log();
        ASSERT_GE(lines.size(), 2u);
        EXPECT_EQ(lines.back(), "Setting Result to 2");
        if (!c.failedStep.empty()) {
            EXPECT_EQ(lines.end()[-2], c.failedStep);
        }
    }
}

TEST_F(InstallerTest, FailedSetupCallsAreLoggedAndReported) {
    setup_.listFailure = 31;
    EXPECT_EQ(install(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|Unknown error");
    EXPECT_EQ(remove(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|SetupDiGetClassDevs() failed");
    setup_.listFailure = 0;

    setup_.registerFailure = 5;
    EXPECT_EQ(install(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|InstallRootEnumeratedDriver() failed");
    EXPECT_EQ(log().end()[-2],
              "SetupDiCallClassInstaller(DIF_REGISTERDEVICE) failed, LastError = 5");
    EXPECT_EQ(devices(), "");
    setup_.registerFailure = 0;

    // A device that cannot be removed: the drive is logged and skipped, the adapter fails.
    ASSERT_EQ(install(), drv::kResultDone);
    ASSERT_EQ(addDevice("SCSI\\CDROM\\A1", kCdrom, {"x"}, true, kDrivePdo), 0);
    setup_.removeFailure = 5;
    EXPECT_EQ(remove(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|SetupDiCallClassInstaller(DIF_REMOVE) failed");
    EXPECT_EQ(log()[7], "Drive SetupDiCallClassInstaller(DIF_REMOVE...) failed, LastError = 5");
    EXPECT_TRUE(exists("ROOT\\SCSIADAPTER\\0000"));
}

TEST_F(InstallerTest, ExceptionsNeverReadAsSuccess) {
    ASSERT_EQ(install(), drv::kResultDone);
    // The uninstall action goes on past a failure among the drives ...
    setup_.listThrowsOnce = true;
    EXPECT_EQ(remove(nullptr, true), drv::kResultDone);
    EXPECT_EQ(log()[3], "Exception caught");
    EXPECT_FALSE(exists("ROOT\\SCSIADAPTER\\0000"));
    // ... elsewhere the call ends as a failure.
    ASSERT_EQ(install(), drv::kResultDone);
    setup_.listThrowsOnce = true;
    EXPECT_EQ(remove(), drv::kResultFailed);
    EXPECT_EQ(storedResult(), "2|Unknown error");
    EXPECT_TRUE(exists("ROOT\\SCSIADAPTER\\0000"));
}

TEST_F(InstallerTest, WithoutResultKeyTheLogSaysSo) {
    // The registry folder is a file: no key can be created.
    ombrix::test::writeFile(root_ / "registry", "not a folder");
    EXPECT_EQ(install(), drv::kResultFailed);
    Lines lines = log();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines.front(), "Setting Result: No Key");
    EXPECT_EQ(lines.back(), "Setting Result: No Key");
}

TEST(InstallLog, TimeStampsAreUtcInTheCFormat) {
    ::setenv("TZ", "XYZ-05:30", 1);
    ::tzset();
    EXPECT_EQ(drv::utcTimestamp(0), "Thu Jan  1 00:00:00 1970");
    EXPECT_EQ(drv::utcTimestamp(1700000000), "Tue Nov 14 22:13:20 2023");
}

}  // namespace
