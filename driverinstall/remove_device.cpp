#include "driverinstall/remove_device.h"

#include <exception>
#include <optional>

#include "driverinstall/device_match.h"
#include "driverinstall/inf_hardware_id.h"
#include "platform/ascii.h"

namespace ombrix::drvinst {

void removeDevice(devices::DeviceSetup& setup, const InstallLog& log, InstallResult& result,
                  const inf::InfFile& inf, const std::string& hardwareId, bool guardDrives) {
    if (std::optional<std::string> service = serviceNameFromInf(inf)) {
        if (guardDrives) {
            try {
                removeDrives(setup, log, *service);
            } catch (...) {
                log.write("Exception caught");
            }
        } else {
            removeDrives(setup, log, *service);
        }
    }

    devices::DeviceInfoList present;
    if (setup.listDevices(false, present) != 0) {
        result.fail("SetupDiGetClassDevs() failed");
        return;
    }
    for (const devices::DeviceInfo& device : present.devices) {
        if (!hasHardwareId(setup, device, hardwareId)) continue;
        if (setup.removeDevice(device) != 0) {
            result.fail("SetupDiCallClassInstaller(DIF_REMOVE) failed");
        }
        return;
    }
    result.fail("HardwareID " + hardwareId + " not found");
}

void removeDrives(devices::DeviceSetup& setup, const InstallLog& log, const std::string& service) {
    log.printf("RemoveDrives(%s)", service.c_str());
    const std::string prefix = "\\Device\\scsi\\" + service;
    log.write("Calling SetupDiGetClassDevs()");
    devices::DeviceInfoList present;
    if (setup.listDevices(false, present) != 0) return;
    log.write("Starting SetupDiEnumDeviceInfo");
    int count = 0;
    for (const devices::DeviceInfo& device : present.devices) {
        log.printf("Calling SetupDiGetDeviceRegistryProperty(), dwCount = %d", count++);
        if (!isCdromDevice(setup, device)) continue;
        std::string objectName =
            textProperty(setup, device, devices::Property::kPhysicalDeviceObjectName);
        if (!ascii::startsWithIgnoreCase(objectName, prefix)) continue;
        log.printf("Try to Remove '%s'", objectName.c_str());
        if (int err = setup.removeDevice(device)) {
            log.printf("Drive SetupDiCallClassInstaller(DIF_REMOVE...) failed, LastError = %d",
                       err);
        }
    }
    log.write("Removing drives done");
}

}  // namespace ombrix::drvinst
