#pragma once

#include <optional>
#include <string_view>
#include <vector>

// The management program's commands as menus, toolbar and status bar show them, the main menu
// and the context menu of each kind of item, and the menus as a user may see them.
namespace ombrix::mng {

struct CommandText {
    int id;
    std::string_view menuText;  // with "&" before the access key and "\t" before the shortcut
    std::string_view prompt;    // the status bar's text while the item is highlighted
    bool onToolbar = false;
};

const std::vector<CommandText>& commandTexts();
std::optional<CommandText> commandText(int id);

// A menu's items in order; 0 stands for a separator.
struct MenuModel {
    std::string_view title;
    std::vector<int> items;
};

std::vector<MenuModel> mainMenu();

enum class ItemKind {
    ImageList,
    VirtualDrive,
    PhysicalDrive,
    ImageFolder,
    VirtualDriveGroup,
    PhysicalDriveGroup,
    ImageRoot,
    Contents,
};
MenuModel contextMenu(ItemKind kind);

// The menu without the disabled commands, and without separators left at either end or next
// to each other.
MenuModel withoutDisabled(const MenuModel& menu, const std::vector<int>& disabled);

}  // namespace ombrix::mng
