#pragma once

#include <filesystem>
#include <string>

#include "common/omx_image_types.h"

namespace ombrix::samples {

// Minimal image containers for tests and the demo: the header of the current format with a
// valid checksum.
OmxImageHeader makeHeader(const std::string& description, const std::string& password = "");

// Writes a container of `header` followed by some track-list bytes.
void writeImage(const std::filesystem::path& path, const OmxImageHeader& header);

}  // namespace ombrix::samples
