#pragma once

#include <optional>
#include <string>

namespace ombrix {

// The password dialog: asks until the digest of the typed password equals `expectedDigest`
// (a mismatch is told in a box and the dialog stays) or the user cancels (nothing).
std::optional<std::string> askForPassword(const std::string& item,
                                          const std::string& expectedDigest, bool centred);

}  // namespace ombrix
