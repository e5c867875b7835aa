#pragma once

#include <string>

#include "manager/access_state.h"
#include "manager/client_ports.h"
#include "manager/mng_document.h"
#include "manager/start_options.h"

// The management program's facts as the client library, the environment store and the helper
// library give them.
namespace ombrix::mng {

// A setting of the user (session store, then the user's and the machine's); empty when unset.
std::string userSetting(std::string_view key);
// The language's folder of local pages: <installation>/Language/<code>/HTML.
std::string homePageFolder();

// The folder of the user's own tree file: beside the user's catalogue file when the settings
// name one, else $XDG_CONFIG_HOME/ombrix (~/.config/ombrix).
std::string userConfigFolder();
// The installation's system folder, where its programs and the outside ones are looked for.
std::string systemFolder();

AccessProbes systemProbes(ProgramLog* log);
// The client library's calls for the image operations.
ClientPorts systemPorts();
// Keeps a setting of the user (the session store and the user's key).
void setUserSetting(std::string_view key, const std::string& value);
// The user's desktop folder (`xdg-user-dir DESKTOP`, else ~/Desktop) and temporary folder.
std::string desktopFolder();
std::string temporaryFolder();
DocumentSources systemSources(ProgramLog* log);

}  // namespace ombrix::mng
