#include "service/unit_setup.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "platform/ascii.h"
#include "platform/device_io.h"
#include "platform/object_manager.h"
#include "platform/scsi_miniport.h"
#include "platform/terminal_sessions.h"
#include "platform/win_error.h"

namespace om = ombrix::objmgr;
namespace win = ombrix::win;

namespace {

constexpr int kDeviceNumbers = 2048;
constexpr size_t kMaxLinkName = 1024;

std::string deviceNameOf(int number) {
    return "\\Device\\CdRom" + std::to_string(number);
}

}  // namespace

void CBoolString::Set(int position) {
    if (position < 0) return;
    if (m_text.size() <= static_cast<size_t>(position)) m_text.resize(position + 1, '0');
    m_text[position] = '1';
}

bool CBoolString::Get(int position) const {
    return position >= 0 && static_cast<size_t>(position) < m_text.size() &&
           m_text[position] == '1';
}

int GrantInteractiveAccess(const std::filesystem::path& deviceFile) {
    struct stat info {};
    if (::stat(deviceFile.c_str(), &info) != 0) return win::fromErrno(errno, deviceFile.c_str());
    mode_t add = S_ISDIR(info.st_mode) ? (S_IRGRP | S_IXGRP | S_IROTH | S_IXOTH)
                                       : (S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH);
    if ((info.st_mode & add) != add && ::chmod(deviceFile.c_str(), info.st_mode | add) != 0) {
        return win::fromErrno(errno, deviceFile.c_str());
    }
    std::filesystem::path control = ombrix::platform::deviceControlSocket(deviceFile);
    if (control != deviceFile && ::stat(control.c_str(), &info) == 0) {
        add = S_IRGRP | S_IWGRP | S_IROTH | S_IWOTH;
        if ((info.st_mode & add) != add && ::chmod(control.c_str(), info.st_mode | add) != 0) {
            return win::fromErrno(errno, control.c_str());
        }
    }
    return 0;
}

int FindUnits(int port, ServiceRequests& units, CBoolString& deviceMap) {
    int found = 0;
    for (int n = 0; n < kDeviceNumbers; ++n) {
        std::string name, target;
        for (int k = n;; ++k) {
            name = "OMX_" + std::to_string(k);
            if (om::queryDosDevice(name, target, 0) != 0) break;
        }
        const std::string device = deviceNameOf(n);
        if (om::defineDosDevice(om::kRawTargetPath, name, device, 0) != 0) continue;
        // The units' control sockets stay root's: reading a unit's disc is granted per session
        // by the driver, and nobody but the service may put images in or take them out.
        int error = 0;
        auto handle = ombrix::platform::DeviceHandle::open("\\\\.\\" + name, 0, error);
        if (handle.valid()) {
            unsigned char address[sizeof(ombrix::scsi::Address)] = {};
            size_t returned = 0;
            if (handle.ioControl(ombrix::scsi::kIoctlGetAddress, nullptr, 0, address,
                                 sizeof address, returned) == 0 &&
                returned >= sizeof address && address[4] == port) {
                auto unit = std::make_unique<CDriveInfo>();
                unit->number = n;
                unit->pathId = address[5];
                unit->targetId = address[6];
                unit->lun = address[7];
                unit->deviceName = device;
                units.addUnit(std::move(unit));
                deviceMap.Set(n);
                ++found;
            }
        }
        om::defineDosDevice(om::kRawTargetPath | om::kRemoveDefinition | om::kExactMatchOnRemove,
                            name, device, 0);
    }
    return found;
}

void PrepareMountPoints(ServiceRequests& units) {
    std::vector<std::string> names;
    om::listDosDevices(names, 0);
    for (const auto& name : names) {
        if (!ombrix::ascii::startsWithIgnoreCase(name, "volume{")) continue;
        std::string target;
        if (om::queryDosDevice(name, target, 0) != 0) continue;
        for (char& c : target)
            c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        int number = -1;
        if (std::sscanf(target.c_str(), "\\device\\cdrom%d", &number) != 1) continue;
        if (CDriveInfo* unit = units.findUnit(number)) unit->volumeName = "\\\\?\\" + name + "\\";
    }
    bool deleted = false;
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        std::string target;
        if (om::queryDosDevice(std::string(1, letter) + ":", target, 0) != 0) continue;
        for (CDriveInfo* unit : units.units()) {
            if (ombrix::ascii::equalsIgnoreCase(target, unit->deviceName)) {
                deleted =
                    om::deleteVolumeMountPoint(std::string(1, letter) + ":\\") == 0 || deleted;
                break;
            }
        }
    }
    if (!deleted) return;
    // Mounting each unit once at a free letter and taking it off again leaves the units without
    // a global letter for good.
    char spare = 0;
    for (char letter = 'Z'; letter >= 'A' && spare == 0; --letter) {
        std::string target;
        if (om::queryDosDevice(std::string(1, letter) + ":", target, 0) != 0) spare = letter;
    }
    if (spare == 0) return;
    const std::string root = std::string(1, spare) + ":\\";
    for (CDriveInfo* unit : units.units()) {
        if (unit->volumeName.empty()) continue;
        if (om::setVolumeMountPoint(root, unit->volumeName) == 0) om::deleteVolumeMountPoint(root);
    }
}

int OpenSessionLink(std::string_view name, uint32_t session) {
    if (name.empty() || name.size() > kMaxLinkName) return win::kInvalidParameter;
    std::filesystem::path folder = om::dosDevicesFolder(session);
    std::filesystem::path link = folder / std::string(name);
    struct stat info {};
    if (name.find('/') != std::string_view::npos || ::lstat(link.c_str(), &info) != 0 ||
        !S_ISLNK(info.st_mode)) {
        return win::kInvalidHandle;
    }
    ombrix::wts::SessionInfo who;
    if (ombrix::wts::querySession(session, who) != 0 || who.user.empty()) return 0;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* account = nullptr;
    if (::getpwnam_r(who.user.c_str(), &entry, buffer.data(), buffer.size(), &account) != 0 ||
        account == nullptr) {
        return 0;
    }
    if (session != 0 && ::chown(folder.c_str(), account->pw_uid, static_cast<gid_t>(-1)) != 0) {
        return win::fromErrno(errno, folder.c_str());
    }
    if (::lchown(link.c_str(), account->pw_uid, static_cast<gid_t>(-1)) != 0) {
        return win::fromErrno(errno, link.c_str());
    }
    return 0;
}
