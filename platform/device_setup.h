#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

// The machine's devices and their drivers, kept in the registry as the device tree would be:
// one key per device instance below "HKLM\SYSTEM\CurrentControlSet\Enum", named by its instance
// id ("ROOT\SCSIADAPTER\0000" is the key Enum\ROOT\SCSIADAPTER\0000). A device key holds
//   ClassGUID                 REG_SZ        "{4D36E965-E325-11CE-BFC1-08002BE10318}"
//   Class                     REG_SZ        "CDROM"
//   HardwareID                REG_MULTI_SZ  (a REG_SZ is read as one id)
//   PhysicalDeviceObjectName  REG_SZ        "\Device\Scsi\oxtmpdrv1Port2Path0Target0Lun0"
//   Service                   REG_SZ        the driver service bound to the device
//   Present                   REG_DWORD     1 while the device node exists; 0 or missing: phantom
// Drivers are bound by writing their service key below "HKLM\SYSTEM\CurrentControlSet\Services".
//
// Every call answers 0 or a Win32-style code; setup failures use the setup error values below.
namespace ombrix::devices {

inline constexpr std::string_view kEnumKey = "HKLM\\SYSTEM\\CurrentControlSet\\Enum";
inline constexpr std::string_view kServicesKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services";
inline constexpr std::string_view kCdromClassGuid = "{4D36E965-E325-11CE-BFC1-08002BE10318}";

// Setup error values (customer bit and error severity set, as the platform numbers them).
inline constexpr int kErrorSectionNotFound = static_cast<int>(0xE0000101u);
inline constexpr int kErrorNoDriverSelected = static_cast<int>(0xE0000203u);
inline constexpr int kErrorInvalidDevinstName = static_cast<int>(0xE0000205u);
inline constexpr int kErrorInvalidClass = static_cast<int>(0xE0000209u);
inline constexpr int kErrorNoSuchDevinst = static_cast<int>(0xE000020Bu);
// The configuration manager's answer for a device node that does not exist.
inline constexpr int kNoSuchDevnode = 13;

enum class Property { kHardwareId, kClassGuid, kClass, kPhysicalDeviceObjectName, kService };

// One device as listed, or one being created (not yet registered).
struct DeviceInfo {
    std::string instanceId;
    std::map<Property, registry::Value> properties;
    bool registered = false;
};

struct DeviceInfoList {
    std::string classGuid;  // empty for a list of all classes
    std::vector<DeviceInfo> devices;
};

// What a driver or test writes to make a device exist.
struct DeviceRecord {
    std::string instanceId;
    std::string classGuid;
    std::string className;
    std::vector<std::string> hardwareIds;
    std::string physicalDeviceObjectName;
    std::string service;
    bool present = true;
};

// The device setup calls. The operations are virtual so a caller's tests can make single
// calls fail; the class itself keeps no state.
class DeviceSetup {
  public:
    virtual ~DeviceSetup() = default;

    // Devices of all classes: the present ones, or every recorded one with `includeNonPresent`.
    virtual int listDevices(bool includeNonPresent, DeviceInfoList& out);
    // A property as read when listed or set since: 13 when the device has none.
    virtual int getProperty(const DeviceInfo& device, Property property, registry::Value& out);
    // 0 when the device node exists, kNoSuchDevnode for a phantom or a removed device.
    virtual int nodeStatus(const DeviceInfo& device);

    // The class named in the [Version] section of an INF file.
    virtual int infClass(const std::string& infPath, std::string& className,
                         std::string& classGuid);
    // An empty list for devices of one class; 87 for a malformed class GUID.
    virtual int createDeviceInfoList(std::string_view classGuid, DeviceInfoList& out);
    // A new, unregistered device of the list's class with the generated id
    // "ROOT\<NAME>\<nnnn>" (the first free number). The name must be a plain word.
    virtual int createDeviceInfo(DeviceInfoList& list, std::string_view name, DeviceInfo& out);
    // Sets a property; on a registered device it is written at once.
    virtual int setProperty(DeviceInfo& device, Property property, const registry::Value& value);
    // Records a created device in the device tree as present.
    virtual int registerDevice(DeviceInfo& device);
    // Removes the device's node and its key.
    virtual int removeDevice(const DeviceInfo& device);

    // Installs the INF's driver for every present device that has `hardwareId` (compared
    // without case): finds the model entry with that id, writes the service key of its
    // associated AddService with ImagePath naming the driver program, and binds the service
    // to the devices. A restart is needed when the service was installed with another program.
    virtual int updateDriverForPlugAndPlayDevices(std::string_view hardwareId,
                                                  const std::string& infPath, bool& restartNeeded);
};

// The entries of a hardware-id property: a multi-string up to its first empty entry, or a
// string as one entry.
std::vector<std::string> propertyStrings(const registry::Value& value);
registry::Value multiString(const std::vector<std::string>& entries);

// The registry key of a device instance; empty for an id that is not three plain parts.
std::string deviceKey(std::string_view instanceId);

// Writes a device as `record` says (replacing what the key held).
int addDevice(const DeviceRecord& record);

}  // namespace ombrix::devices
