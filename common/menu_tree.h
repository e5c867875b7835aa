#pragma once

#include <string>
#include <vector>

// A menu as plain data, for the programs whose menus are built afresh each time they open (the
// tray, the file manager's menus): commands, sub-menus and separators, and the category tree of
// images as nested sub-menus.
namespace ombrix::menus {

struct MenuEntry {
    enum class Kind { Command, Submenu, Separator };
    Kind kind = Kind::Command;
    std::string text;
    int command = 0;
    bool checked = false;
    bool enabled = true;
    bool isDefault = false;
    std::vector<MenuEntry> entries;  // of a submenu
};

MenuEntry commandEntry(std::string text, int command, bool checked = false);
MenuEntry disabledEntry(std::string text);
MenuEntry submenu(std::string text, std::vector<MenuEntry> entries);
MenuEntry separator();

// A text as a menu shows it: "&" stands for itself, not for a keyboard mnemonic.
std::string menuText(const std::string& text);

// Commands placed in category folders ("\Games\Cars\"; none, or "\", for the top), as nested
// sub-menus: at each level the folders first, by name, then the commands, by text (both
// ignoring case). A command in several folders stands in each.
struct PlacedEntry {
    MenuEntry entry;
    std::vector<std::string> folders;
};
std::vector<MenuEntry> byCategory(const std::vector<PlacedEntry>& placed);

// The category folders tree lines ("\Games\|/srv/chess.om4") give an image file.
std::vector<std::string> foldersOf(const std::string& imagePath,
                                   const std::vector<std::string>& treeLines);

}  // namespace ombrix::menus
