#include "common/catalogue_edit.h"

namespace ombrix::catalogue {

// This server does not serve session drives yet, so no drive can hold the image.
void ejectFromSessionDrives(const std::string& /*imagePath*/) {}

}  // namespace ombrix::catalogue
