#pragma once

#include <string>

#include "driverinstall/install_log.h"
#include "driverinstall/install_result.h"
#include "platform/device_setup.h"
#include "platform/inf_file.h"

namespace ombrix::drvinst {

// Removes the drives of the INF's driver service, then the first present device with the
// hardware id. With `guardDrives`, an exception while removing the drives is logged and the
// removal goes on.
void removeDevice(devices::DeviceSetup& setup, const InstallLog& log, InstallResult& result,
                  const inf::InfFile& inf, const std::string& hardwareId, bool guardDrives);

// Removes the present CD-ROM devices whose physical device object lies below the service's
// SCSI port ("\Device\scsi\<service>…", compared without case).
void removeDrives(devices::DeviceSetup& setup, const InstallLog& log, const std::string& service);

}  // namespace ombrix::drvinst
