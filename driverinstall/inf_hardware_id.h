#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/inf_file.h"

// What the installer takes from the driver's INF file.
namespace ombrix::drvinst {

// Longer ids are refused: the setup keeps ids in fixed 128-byte buffers.
inline constexpr size_t kMaxHardwareIdLength = 127;
inline constexpr std::string_view kServicesSection = "NRVOmx.NTx86.Services";

// The device's hardware id: the first entry of [Manufacturer] names the models section (the
// text after its '='); in the first entry of that section, the value's second comma-separated
// field, trimmed. None when a step finds nothing or the id is too long.
std::optional<std::string> hardwareIdFromInf(const inf::InfFile& inf);

// The driver's service: "AddService" in the services section, up to the first ',', without
// leading blanks, up to the first blank or tab. None when missing or empty.
std::optional<std::string> serviceNameFromInf(const inf::InfFile& inf);

}  // namespace ombrix::drvinst
