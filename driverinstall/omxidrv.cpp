// The library's exports: each runs one installer call against the machine's device setup and
// logs beside the calling program.
#include "driverinstall/omxidrv.h"

#include <mutex>

#include "driverinstall/driver_installer.h"
#include "driverinstall/install_log.h"
#include "driverinstall/install_result.h"
#include "platform/device_setup.h"
#include "platform/export.h"

namespace {

// The calls share the result key and the log; a second caller waits for the first.
std::mutex g_callMutex;

}  // namespace

using ombrix::drvinst::InstallLog;

OMX_EXPORT int InstallDriver(const char* infPath, int remove) {
    try {
        std::lock_guard lock(g_callMutex);
        InstallLog log(InstallLog::besideProgram());
        ombrix::devices::DeviceSetup setup;
        return ombrix::drvinst::runInstaller(infPath, remove != 0, false, setup, log);
    } catch (...) {
        return ombrix::drvinst::kResultFailed;
    }
}

OMX_EXPORT unsigned int MSIInstallDriver(unsigned long /*installHandle*/) {
    try {
        std::lock_guard lock(g_callMutex);
        InstallLog log(InstallLog::besideProgram());
        log.write("MSIInstallDriver called");
        ombrix::devices::DeviceSetup setup;
        ombrix::drvinst::runInstaller(nullptr, false, false, setup, log);
        log.write("Install done");
    } catch (...) {
    }
    return 0;
}

OMX_EXPORT unsigned int MSIUnInstallDriver(unsigned long /*installHandle*/) {
    try {
        std::lock_guard lock(g_callMutex);
        InstallLog log(InstallLog::besideProgram());
        log.write("MSIUnInstallDriver called");
        ombrix::devices::DeviceSetup setup;
        ombrix::drvinst::runInstaller(nullptr, true, true, setup, log);
    } catch (...) {
    }
    return 0;
}
