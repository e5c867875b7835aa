#pragma once

#include <string>

#include "driverinstall/install_log.h"
#include "driverinstall/install_result.h"
#include "platform/device_setup.h"

namespace ombrix::drvinst {

// Installs the adapter device: refuses when a present device already has the hardware id,
// removes phantom drives, creates and registers the root-enumerated device and installs the
// INF's driver on it. Leaves 0, 3 (restart needed) or 2 with an error text in `result`.
void installDevice(devices::DeviceSetup& setup, const InstallLog& log, InstallResult& result,
                   const std::string& infPath, const std::string& hardwareId);

// Removes CD-ROM devices that are no longer present and were drives of this system (hardware
// id beginning with one of the drive prefixes, compared without case).
void removePhantomDrives(devices::DeviceSetup& setup, const InstallLog& log);

}  // namespace ombrix::drvinst
