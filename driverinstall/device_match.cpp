#include "driverinstall/device_match.h"

#include <vector>

#include "platform/ascii.h"

namespace ombrix::drvinst {

bool hasHardwareId(devices::DeviceSetup& setup, const devices::DeviceInfo& device,
                   std::string_view hardwareId) {
    registry::Value value;
    if (setup.getProperty(device, devices::Property::kHardwareId, value) != 0) return false;
    for (const std::string& id : devices::propertyStrings(value)) {
        if (id == hardwareId) return true;
    }
    return false;
}

bool isCdromDevice(devices::DeviceSetup& setup, const devices::DeviceInfo& device) {
    // GUIDs are numbers: their hexadecimal digits match in either case.
    return ascii::equalsIgnoreCase(textProperty(setup, device, devices::Property::kClassGuid),
                                   devices::kCdromClassGuid);
}

std::string textProperty(devices::DeviceSetup& setup, const devices::DeviceInfo& device,
                         devices::Property property) {
    registry::Value value;
    if (setup.getProperty(device, property, value) != 0) return {};
    std::vector<std::string> entries = devices::propertyStrings(value);
    return entries.empty() ? std::string() : entries.front();
}

}  // namespace ombrix::drvinst
