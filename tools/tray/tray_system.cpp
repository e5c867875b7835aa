#include "tools/tray/tray_system.h"
#include "common/install_folder.h"
#include "common/listed_images.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "outside/help/published_tree_lines.h"
#include "platform/shell_execute.h"
#include "tools/settings/omx_settings.h"

namespace ombrix::tray {
namespace {

void readRange(int first, int last, std::vector<TrayImage>& images,
               const std::vector<std::string>& lines) {
    for (client::ListedImage& listed : client::imagesInRange(first, last, kMaxItemsPerDrive)) {
        TrayImage image;
        image.index = listed.index;
        image.path = std::move(listed.path);
        image.description = std::move(listed.description);
        image.drive = OMXGetMountDrive(image.path.c_str());
        image.folders = menus::foldersOf(image.path, lines);
        images.push_back(std::move(image));
    }
}

}  // namespace

std::vector<TrayTool> systemTools() {
    const std::string folder = client::systemFolder();
    char adminFolder[260] = {};
    const bool adminFolderSet =
        EnvGetGlobalValue("OmxAdmPathNet", adminFolder, sizeof adminFolder) == 1 &&
        adminFolder[0] != '\0';
    return availableTools(
        [&folder](const std::string& program) {
            return !folder.empty() && !platform::findProgramFile(folder, program).empty();
        },
        [](int right) { return OMXTSHasRight(right) != 0; }, adminFolderSet);
}

TrayState systemTrayState(std::vector<TrayTool> offered) {
    TrayState state;
    state.tools = std::move(offered);
    char letters[30] = {};
    OMXGetOMXDriveLetters(letters, sizeof letters);
    state.letters = letters;
    state.overview = tools::COmxSettings().catalogueOverview;
    const std::vector<std::string> lines =
        state.overview ? std::vector<std::string>{} : helper::publishedTreeLines();
    // Only the numbers a menu can show are read: each costs a call into the catalogue.
    state.localIndexHi = OMXGetIndexHi();
    readRange(1, std::min(state.localIndexHi, kMaxItemsPerDrive), state.local, lines);
    char published[32];
    if (EnvGetGlobalValue("OMXIndexHiNet", published, sizeof published) == 1) {
        const int hiNet = OMXGetIndexHiNet();
        const int shownHi = 5000 + kMaxItemsPerDrive - std::max(state.localIndexHi, 0);
        if (hiNet > 5000)
            readRange(kFirstNetworkIndex, std::min(hiNet, shownHi), state.network, lines);
    }
    return state;
}

}  // namespace ombrix::tray
