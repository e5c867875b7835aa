// OMXTSEditRights: the rights dialog is the profile editor of the installation.
#include <string>

#include "oxtenv.h"
#include "oxthelp.h"
#include "platform/export.h"
#include "platform/shell_execute.h"
#include "platform/win_error.h"

OMX_EXPORT int OMXTSEditRights(void* /*parent: the editor is a window of its own*/) {
    char home[4096] = "";
    if (EnvGetGlobalValue("OMXHomePath", home, sizeof home) == 0 || home[0] == '\0') {
        return ombrix::win::kPathNotFound;
    }
    const std::string folder = std::string(home) + "system";
    const auto editor = ombrix::platform::findProgramFile(folder, "oxtprfed");
    if (editor.empty()) return ombrix::win::kFileNotFound;
    long started = ombrix::platform::shellOpen(editor.string(), "", folder);
    return started > 32 ? 0 : static_cast<int>(started);
}
