#include "manager/command_table.h"

#include <algorithm>

#include "manager/command_ids.h"

namespace ombrix::mng {

using namespace command;

const std::vector<CommandText>& commandTexts() {
    static const std::vector<CommandText> texts{
        {kAdministration, "&Administration",
         "Starts the administration of the servers and sessions"},
        {kExit, "&Exit", "Quits the application"},
        {kInsert, "&Insert\tCtrl+I", "Inserts the selected image into the selected virtual drive",
         true},
        {kEject, "&Eject\tCtrl+E", "Ejects the selected virtual drive", true},
        {kOpen, "&Open...", "Opens the selected file of the image with its program"},
        {kExtract, "E&xtract...", "Copies the selected file out of the image"},
        {kFind, "&Find...\tCtrl+F", "Searches folders for image files", true},
        {kAdd, "&Add...\tCtrl+A", "Adds image files to the catalogue", true},
        {kDelete, "&Delete\tCtrl+D", "Deletes the selected image or folder", true},
        {kNewFolder, "&New folder", "Makes a new folder in the image tree", true},
        {kCreate, "&Create\tCtrl+N", "Creates a new image with the image builder", true},
        {kEditor, "E&ditor\tCtrl+C", "Starts the image editor"},
        {kChangeDrives, "Change Dri&ves...", "Changes the virtual drives of this session"},
        {kNetworkMode, "&Network mode...", "Changes the network mode of the server pool"},
        {kProperties, "&Properties...", "Shows the properties of the selected entry", true},
        {kToolButtons, "&Tool buttons", "Shows or hides the tool buttons"},
        {kToolButtonTexts, "Tool button te&xts", "Shows or hides the texts of the tool buttons"},
        {kStatusBar, "Status &bar", "Shows or hides the status bar"},
        {kImageView, "&Image view", "Shows or hides the image list and the image contents"},
        {kSeparatedView, "&Seperated view", "Shows local and network images in separate branches"},
        {kLargeSymbols, "&Large symbols", "Shows the images with large symbols"},
        {kSmallSymbols, "&Small symbols", "Shows the images with small symbols"},
        {kList, "&List", "Shows the images as a list"},
        {kDetails, "&Details", "Shows the images with all their details"},
        {kSettings, "&Ombrix settings...", "Changes the settings of Ombrix TS"},
        {kRefresh, "&Refresh\tF5", "Reads the catalogue, the image tree and the drives again",
         true},
        {kHelp, "&Help\tF1", "Shows the help"},
        {kAbout, "&About...", "Shows the version of the program and its parts"},
        {kRename, "&Rename", "Renames the selected entry"},
        {kEdit, "Edi&t", "Edits the selected image with the image editor"},
        {kExplorer, "&Explorer", "Opens the drive in the file manager"},
        {kCreateFromDrive, "&Create image", "Creates an image of the disc in this drive"},
        {kEjectPhysical, "&Eject", "Ejects the disc of this drive"},
        {kEjectAllVirtual, "&Eject all", "Ejects every virtual drive of this session"},
        {kEjectAllPhysical, "&Eject all CDs", "Ejects the discs of every CD drive"},
        {kUpOneLevel, "Go up one level", "Shows the folder above"},
    };
    return texts;
}

std::optional<CommandText> commandText(int id) {
    for (const auto& c : commandTexts()) {
        if (c.id == id) return c;
    }
    return std::nullopt;
}

std::vector<MenuModel> mainMenu() {
    return {
        {"&File", {kInsert, kEject, 0, kOpen, kExtract, 0, kAdministration, 0, kExit}},
        {"&Edit", {kFind, kAdd, kDelete, kNewFolder, 0, kCreate, kEditor, 0, kProperties}},
        {"&View",
         {kToolButtons, kToolButtonTexts, kStatusBar, kImageView, kSeparatedView, 0, kLargeSymbols,
          kSmallSymbols, kList, kDetails, 0, kRefresh}},
        {"&Tools", {kChangeDrives, kNetworkMode, kSettings}},
        {"&Help", {kHelp, 0, kAbout}},
    };
}

MenuModel contextMenu(ItemKind kind) {
    switch (kind) {
        case ItemKind::ImageList:
            return {"",
                    {kInsert, kEject, 0, kDelete, kNewFolder, kRename, kEdit, 0, kLargeSymbols,
                     kSmallSymbols, kList, kDetails, 0, kProperties}};
        case ItemKind::VirtualDrive:
            return {"", {kInsert, kEject, 0, kExplorer, kCreateFromDrive, 0, kChangeDrives}};
        case ItemKind::PhysicalDrive:
            return {"", {kEjectPhysical, kExplorer, kCreateFromDrive, 0, kProperties}};
        case ItemKind::ImageFolder: return {"", {kDelete, kNewFolder, kRename, 0, kSeparatedView}};
        case ItemKind::VirtualDriveGroup: return {"", {kEjectAllVirtual, 0, kChangeDrives}};
        case ItemKind::PhysicalDriveGroup: return {"", {kEjectAllPhysical}};
        case ItemKind::ImageRoot: return {"", {kNewFolder, 0, kSeparatedView}};
        case ItemKind::Contents: return {"", {kProperties, kOpen, kRename, kExtract}};
    }
    return {};
}

MenuModel withoutDisabled(const MenuModel& menu, const std::vector<int>& disabled) {
    MenuModel out{menu.title, {}};
    for (int id : menu.items) {
        if (id != 0 && std::find(disabled.begin(), disabled.end(), id) != disabled.end()) continue;
        if (id == 0 && (out.items.empty() || out.items.back() == 0)) continue;
        out.items.push_back(id);
    }
    if (!out.items.empty() && out.items.back() == 0) out.items.pop_back();
    return out;
}

}  // namespace ombrix::mng
