#pragma once

#include <string>

namespace ombrix {

// The one name of a file however it was reached: the folder's canonical path (links and mounted
// aliases resolved) joined with the file name. A path whose folder does not exist stays as given.
std::string toUncForm(const std::string& path);

}  // namespace ombrix
