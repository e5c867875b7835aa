#pragma once

#include <string>
#include <string_view>

#include "platform/device_setup.h"

namespace ombrix::drvinst {

// True when one entry of the device's hardware-id property equals `hardwareId` exactly
// (letter case counts).
bool hasHardwareId(devices::DeviceSetup& setup, const devices::DeviceInfo& device,
                   std::string_view hardwareId);

// True when the device's class GUID is the CD-ROM class.
bool isCdromDevice(devices::DeviceSetup& setup, const devices::DeviceInfo& device);

// A text property (the first entry of a multi-string); empty when the device has none.
std::string textProperty(devices::DeviceSetup& setup, const devices::DeviceInfo& device,
                         devices::Property property);

}  // namespace ombrix::drvinst
