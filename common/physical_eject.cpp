// Ejecting the medium of a physical CD drive of the machine.
#include <chrono>
#include <string>
#include <thread>

#include "common/oxtcomm_drives.h"
#include "platform/device_io.h"
#include "platform/export.h"
#include "platform/scsi_miniport.h"
#include "platform/session_id.h"
#include "platform/shell_notify.h"

namespace {

bool control(const ombrix::platform::DeviceHandle& volume, uint32_t code, const void* in = nullptr,
             size_t inSize = 0) {
    size_t returned = 0;
    return volume.ioControl(code, in, inSize, nullptr, 0, returned) == 0;
}

}  // namespace

OMX_EXPORT int OMXEjectPhysicalDrive(char drive) {
    namespace scsi = ombrix::scsi;
    int error = 0;
    std::string name = std::string("\\\\.\\") + drive + ":";
    auto volume =
        ombrix::platform::DeviceHandle::open(name, ombrix::platform::currentSessionId(), error);
    if (!volume.valid()) return 0;
    if (!control(volume, scsi::kFsctlDismountVolume)) {
        bool locked = false;
        for (int attempt = 0; attempt < 3 && !locked; ++attempt) {
            if (attempt > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
            locked = control(volume, scsi::kFsctlLockVolume);
        }
        if (!locked || !control(volume, scsi::kFsctlDismountVolume)) return 0;
    }
    const unsigned char allow = 0;
    if (!control(volume, scsi::kIoctlMediaRemoval, &allow, 1)) return 0;
    if (!control(volume, scsi::kIoctlEjectMedia)) return 0;
    ombrix::platform::notifyMediaChange(false, drive);
    return 1;
}
