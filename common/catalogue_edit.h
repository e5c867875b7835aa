#pragma once

#include <string>

#include "common/omx_image_types.h"

namespace ombrix::catalogue {

// Stores a changed shared entry in the global catalogue file: the entry keeps its path and,
// unless `takeDescription`, its description. 1 when stored or already equal, else 0.
int changeEntry(int index, const OmxImageInfo& info, bool takeDescription);

// Ejects the image from every drive of the calling session that holds it, without the right
// check, before its entry goes.
void ejectFromSessionDrives(const std::string& imagePath);

}  // namespace ombrix::catalogue
