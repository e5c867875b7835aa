#include "driverinstall/driver_installer.h"

#include <sys/stat.h>

#include <cerrno>
#include <optional>
#include <string>

#include "driverinstall/inf_hardware_id.h"
#include "driverinstall/install_device.h"
#include "driverinstall/install_result.h"
#include "driverinstall/remove_device.h"
#include "platform/inf_file.h"
#include "platform/machine_root.h"

namespace ombrix::drvinst {
namespace {

bool fileMissing(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

}  // namespace

std::filesystem::path windowsFolder() {
    return platform::rootPath("windows", false);
}

std::filesystem::path defaultInfPath() {
    return windowsFolder() / "inf" / "nrvoxt.inf";
}

int runInstaller(const char* infPath, bool remove, bool guardDrives, devices::DeviceSetup& setup,
                 const InstallLog& log) {
    InstallResult result(log);
    result.begin();
    try {
        const std::string path =
            infPath != nullptr ? std::string(infPath) : defaultInfPath().string();
        if (fileMissing(path)) {
            result.fail("Inf file '" + path + "' not found");
        } else {
            inf::InfFile inf;
            inf.load(path);  // an unreadable file has no sections, hence no hardware id
            std::optional<std::string> hardwareId = hardwareIdFromInf(inf);
            if (!hardwareId) {
                result.fail("GetHardwareID() failed");
            } else if (remove) {
                removeDevice(setup, log, result, inf, *hardwareId, guardDrives);
            } else {
                installDevice(setup, log, result, path, *hardwareId);
            }
        }
    } catch (...) {
        // Nothing may escape to the caller; the outcome must still not read as success.
        log.write("Exception caught");
        result.fail(result.error().empty() ? "Unknown error" : result.error());
    }
    result.finish();
    return result.code();
}

}  // namespace ombrix::drvinst
