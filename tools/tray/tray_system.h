#pragma once

#include <string>

#include "tools/tray/tray_menu.h"

// What the tray menu shows, read from the client library, the helper library and the pool's
// category tree; and the tools of the installation.
namespace ombrix::tray {

// The installation's tools the user may start (decided once, at start).
std::vector<TrayTool> systemTools();
// The drives, the catalogue (local indexes 1 to the highest, network ones from 5001 when the
// pool publishes any) with the drive holding each image and its category folders, and how the
// catalogue is listed.
TrayState systemTrayState(std::vector<TrayTool> offered);

}  // namespace ombrix::tray
