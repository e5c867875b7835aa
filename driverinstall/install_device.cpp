#include "driverinstall/install_device.h"

#include "driverinstall/device_match.h"
#include "platform/ascii.h"

namespace ombrix::drvinst {
namespace {

bool isPhantomDriveId(std::string_view id) {
    return ascii::startsWithIgnoreCase(id, "SCSI\\cdromN_R_V") ||
           ascii::startsWithIgnoreCase(id, "SCSI\\cdromNRV");
}

// Creates the device node and binds the driver; false after logging the failed step.
bool installRootEnumeratedDriver(devices::DeviceSetup& setup, const InstallLog& log,
                                 const std::string& infPath, const std::string& hardwareId,
                                 bool& restartNeeded) {
    std::string className, classGuid;
    if (int err = setup.infClass(infPath, className, classGuid)) {
        log.printf("SetupDiGetINFClass(%s) failed, LastError = %d", infPath.c_str(), err);
        return false;
    }
    devices::DeviceInfoList list;
    if (int err = setup.createDeviceInfoList(classGuid, list)) {
        log.printf("SetupDiCreateDeviceInfoList failed, LastError = %d", err);
        return false;
    }
    devices::DeviceInfo device;
    if (int err = setup.createDeviceInfo(list, className, device)) {
        log.printf("SetupDiCreateDeviceInfo failed, LastError = %d", err);
        return false;
    }
    // A multi-string of one entry: the text and two terminating zeros.
    registry::Value ids{registry::kMultiString, hardwareId + std::string(2, '\0')};
    if (setup.setProperty(device, devices::Property::kHardwareId, ids) != 0) return false;
    if (int err = setup.registerDevice(device)) {
        log.printf("SetupDiCallClassInstaller(DIF_REGISTERDEVICE) failed, LastError = %d", err);
        return false;
    }
    if (int err = setup.updateDriverForPlugAndPlayDevices(hardwareId, infPath, restartNeeded)) {
        log.printf("UpdateDriverForPlugAndPlayDevices failed, LastError = %d", err);
        setup.removeDevice(device);
        return false;
    }
    return true;
}

}  // namespace

void installDevice(devices::DeviceSetup& setup, const InstallLog& log, InstallResult& result,
                   const std::string& infPath, const std::string& hardwareId) {
    log.printf("Starting Install: %s %s", infPath.c_str(), hardwareId.c_str());

    devices::DeviceInfoList present;
    if (setup.listDevices(false, present) != 0) {
        result.fail("Unknown error");
        return;
    }
    for (const devices::DeviceInfo& device : present.devices) {
        if (hasHardwareId(setup, device, hardwareId)) {
            result.fail("Already installed");
            return;
        }
    }

    log.write("Removing Phantom drives");
    removePhantomDrives(setup, log);

    log.write("Starting InstallRootEnumeratedDriver()");
    bool restartNeeded = false;
    if (!installRootEnumeratedDriver(setup, log, infPath, hardwareId, restartNeeded)) {
        result.fail(result.error().empty() ? "InstallRootEnumeratedDriver() failed"
                                           : result.error());
        return;
    }
    result.setCode(restartNeeded ? kResultRestartNeeded : kResultDone);
}

void removePhantomDrives(devices::DeviceSetup& setup, const InstallLog& log) {
    log.write("RemovePhantomDrives()");
    devices::DeviceInfoList all;
    if (setup.listDevices(true, all) != 0) return;
    for (const devices::DeviceInfo& device : all.devices) {
        if (!isCdromDevice(setup, device)) continue;
        if (setup.nodeStatus(device) != devices::kNoSuchDevnode) continue;
        if (!isPhantomDriveId(textProperty(setup, device, devices::Property::kHardwareId))) {
            continue;
        }
        setup.removeDevice(device);
    }
    log.write("RemovePhantomDrives() done");
}

}  // namespace ombrix::drvinst
