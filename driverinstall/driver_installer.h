#pragma once

#include <filesystem>

#include "driverinstall/install_log.h"
#include "platform/device_setup.h"

namespace ombrix::drvinst {

// The Windows folder stand-in lives in the machine root; its inf/ holds the driver's INF file.
std::filesystem::path windowsFolder();
std::filesystem::path defaultInfPath();

// One entry point from start to end: records "running", reads the hardware id from the INF
// file (null: the default one), installs or removes, and writes the outcome to the result key.
// Answers the result code. With `guardDrives` (the uninstall custom action) an exception while
// removing the drives is logged and the removal goes on.
int runInstaller(const char* infPath, bool remove, bool guardDrives, devices::DeviceSetup& setup,
                 const InstallLog& log);

}  // namespace ombrix::drvinst
