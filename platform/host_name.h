#pragma once

#include <string>

namespace ombrix::platform {

// This server's name: $OMBRIX_HOST when set (several machine roots on one host are several
// servers), else the system's host name.
std::string hostName();

}  // namespace ombrix::platform
