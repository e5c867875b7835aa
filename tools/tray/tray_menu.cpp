#include "tools/tray/tray_menu.h"

#include <algorithm>
#include <map>
#include <optional>

#include "platform/ascii.h"

namespace ombrix::tray {
namespace {

using menus::commandEntry;
using menus::disabledEntry;
using menus::menuText;
using menus::separator;
using menus::submenu;

std::string imageText(const TrayImage& image) {
    if (!image.description.empty()) return menuText(image.description);
    const size_t slash = image.path.find_last_of("/\\");
    return menuText(slash == std::string::npos ? image.path : image.path.substr(slash + 1));
}

}  // namespace

std::string trayBuiltInText(int id) {
    static const std::map<int, const char*> texts = {
        {traytext::kNoImages, "(No ombrixs found)"},
        {traytext::kEmptyDrive, "(Empty drive)"},
        {traytext::kManagement, "CD Management"},
        {traytext::kExplorer, "Explorer"},
        {traytext::kEject, "Eject"},
        {traytext::kInsert, "Insert"},
        {traytext::kAbout, "About..."},
        {traytext::kExit, "Exit"},
        {traytext::kSettings, "Settings"},
        {traytext::kCannotRun, "Error - Cannot execute the '%s' program."},
        {traytext::kDriveEditor, "Add/remove virtual drives"},
        {traytext::kNoDrives, "(No virtual drives found)"},
        {traytext::kNoPlayer, "Fatal error - Cannot find the Ombrix Player."},
        {traytext::kNetworkMode, "Network mode"},
        {traytext::kLocal, "Local"},
        {traytext::kNetwork, "Network"},
        {traytext::kAdministration, "Administration"},
        {traytext::kTooltip, "Ombrix TS v5"},
    };
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

std::vector<TrayTool> availableTools(const std::function<bool(const std::string& program)>& exists,
                                     const std::function<bool(int right)>& hasRight,
                                     bool adminFolderSet) {
    const auto has = [&](const char* program) { return exists && exists(program); };
    const auto right = [&](int r) { return hasRight && hasRight(r); };
    std::vector<TrayTool> tools;
    if (has("OXTmng.exe"))
        tools.push_back({command::kManagement, traytext::kManagement, "OXTmng.exe"});
    if (right(8) && has("OXTAdm.exe"))
        tools.push_back({command::kAdministration, traytext::kAdministration, "OXTAdm.exe"});
    if (has("OXTSet.exe")) tools.push_back({command::kSettings, traytext::kSettings, "OXTSet.exe"});
    if (right(4) && has("OXTDrive.exe"))
        tools.push_back({command::kDriveEditor, traytext::kDriveEditor, "OXTDrive.exe"});
    if (right(8) && adminFolderSet && has("OXTMode.exe"))
        tools.push_back({command::kNetworkMode, traytext::kNetworkMode, "OXTMode.exe"});
    return tools;
}

int itemNumber(int index, int localIndexHi) {
    if (index >= kFirstNetworkIndex) return std::max(localIndexHi, 0) + (index - 5000);
    return index;
}

std::optional<InsertChoice> insertChoice(int command, const std::string& letters,
                                         int localIndexHi) {
    // About and Exit lie in the range of the 25th drive; they stay what they are.
    if (command <= command::kInsertBase || command == command::kAbout || command == command::kExit)
        return std::nullopt;
    const int position = (command - command::kInsertBase) / 1000;
    const int item = (command - command::kInsertBase) % 1000;
    if (item == 0 || position >= static_cast<int>(letters.size())) return std::nullopt;
    const int localHi = std::max(localIndexHi, 0);
    const int index = item <= localHi ? item : 5000 + (item - localHi);
    return InsertChoice{letters[static_cast<size_t>(position)], index};
}

namespace {

char letterAt(int command, int base, const std::string& letters) {
    const int position = command - base;
    if (position < 0 || position >= static_cast<int>(letters.size()) || position >= 26) return 0;
    return letters[static_cast<size_t>(position)];
}

}  // namespace

char ejectLetter(int command, const std::string& letters) {
    return letterAt(command, command::kEjectBase, letters);
}

char explorerLetter(int command, const std::string& letters) {
    return letterAt(command, command::kExplorerBase, letters);
}

std::vector<MenuEntry> trayMenu(const TrayState& state,
                                const std::function<std::string(int id)>& text) {
    std::vector<MenuEntry> menu;
    for (const TrayTool& tool : state.tools)
        menu.push_back(commandEntry(text(tool.text), tool.command));
    if (!state.tools.empty()) menu.push_back(separator());

    std::vector<MenuEntry> explorer, eject, insert;
    const std::vector<TrayImage>* ranges[] = {&state.local, &state.network};
    const bool anyImage = !state.local.empty() || !state.network.empty();
    for (size_t p = 0; p < state.letters.size() && p < 26; ++p) {
        const char letter = state.letters[p];
        const int position = static_cast<int>(p);
        const std::string name = std::string(1, letter) + ":";
        explorer.push_back(commandEntry(name, command::kExplorerBase + position));

        // What the drive holds, as its Eject item tells it.
        std::string held = text(traytext::kEmptyDrive);
        for (const auto* range : ranges) {
            for (const TrayImage& image : *range) {
                if (image.drive == letter) held = imageText(image);
            }
        }
        eject.push_back(commandEntry(name + "  " + held, command::kEjectBase + position));

        if (!anyImage) {
            insert.push_back(submenu(name, {disabledEntry(text(traytext::kNoImages))}));
            continue;
        }
        const auto entryOf = [&](const TrayImage& image) -> std::optional<MenuEntry> {
            const int item = itemNumber(image.index, state.localIndexHi);
            const int command = command::kInsertBase + 1000 * position + item;
            // About and Exit lie in the 25th drive's range: those two numbers are never items.
            if (item < 1 || item > kMaxItemsPerDrive || command == command::kAbout ||
                command == command::kExit)
                return std::nullopt;
            return commandEntry(imageText(image), command, image.drive == letter);
        };
        std::vector<MenuEntry> images;
        if (state.overview) {
            for (const auto* range : ranges) {
                for (const TrayImage& image : *range) {
                    if (auto entry = entryOf(image)) images.push_back(std::move(*entry));
                }
            }
        } else {
            std::vector<std::vector<MenuEntry>> trees;
            for (const auto* range : ranges) {
                std::vector<menus::PlacedEntry> placed;
                for (const TrayImage& image : *range) {
                    if (auto entry = entryOf(image)) placed.push_back({*entry, image.folders});
                }
                trees.push_back(menus::byCategory(placed));
            }
            if (!state.local.empty() && !state.network.empty()) {
                images.push_back(submenu(text(traytext::kLocal), std::move(trees[0])));
                images.push_back(submenu(text(traytext::kNetwork), std::move(trees[1])));
            } else {
                images = std::move(state.local.empty() ? trees[1] : trees[0]);
            }
        }
        insert.push_back(submenu(name, std::move(images)));
    }
    if (state.letters.empty()) {
        for (auto* list : {&explorer, &eject, &insert})
            list->push_back(disabledEntry(text(traytext::kNoDrives)));
    }
    menu.push_back(submenu(text(traytext::kExplorer), std::move(explorer)));
    menu.push_back(submenu(text(traytext::kEject), std::move(eject)));
    menu.push_back(submenu(text(traytext::kInsert), std::move(insert)));
    menu.push_back(separator());
    menu.push_back(commandEntry(text(traytext::kAbout), command::kAbout));
    menu.push_back(separator());
    menu.push_back(commandEntry(text(traytext::kExit), command::kExit));
    menu.front().isDefault = true;
    return menu;
}

}  // namespace ombrix::tray
