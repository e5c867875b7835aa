#include "common/menu_tree.h"

#include <algorithm>
#include <map>

#include "platform/ascii.h"

namespace ombrix::menus {
namespace {

bool byText(const MenuEntry& a, const MenuEntry& b) {
    return ascii::compareIgnoreCase(a.text, b.text) < 0;
}

struct Category {
    std::map<std::string, Category, std::less<>> folders;  // upper-cased name → folder
    std::string name;
    std::vector<MenuEntry> entries;

    std::vector<MenuEntry> menu() const {
        std::vector<MenuEntry> out;
        for (const auto& [key, folder] : folders)
            out.push_back(submenu(menuText(folder.name), folder.menu()));
        std::sort(out.begin(), out.end(), byText);
        std::vector<MenuEntry> sorted = entries;
        std::stable_sort(sorted.begin(), sorted.end(), byText);
        out.insert(out.end(), sorted.begin(), sorted.end());
        return out;
    }
};

Category& categoryOf(Category& top, const std::string& folderPath) {
    Category* at = &top;
    size_t start = 0;
    while (start < folderPath.size()) {
        const size_t end = folderPath.find('\\', start);
        const std::string name = folderPath.substr(start, end - start);
        if (!name.empty()) {
            std::string key = name;
            for (char& c : key)
                c = ascii::upper(c);
            Category& next = at->folders[key];
            if (next.name.empty()) next.name = name;
            at = &next;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return *at;
}

}  // namespace

MenuEntry commandEntry(std::string text, int command, bool checked) {
    MenuEntry entry;
    entry.text = std::move(text);
    entry.command = command;
    entry.checked = checked;
    return entry;
}

MenuEntry disabledEntry(std::string text) {
    MenuEntry entry = commandEntry(std::move(text), 0);
    entry.enabled = false;
    return entry;
}

MenuEntry submenu(std::string text, std::vector<MenuEntry> entries) {
    MenuEntry entry;
    entry.kind = MenuEntry::Kind::Submenu;
    entry.text = std::move(text);
    entry.entries = std::move(entries);
    return entry;
}

MenuEntry separator() {
    MenuEntry entry;
    entry.kind = MenuEntry::Kind::Separator;
    return entry;
}

std::string menuText(const std::string& text) {
    std::string out;
    for (char c : text) {
        out += c;
        if (c == '&') out += '&';
    }
    return out;
}

std::vector<MenuEntry> byCategory(const std::vector<PlacedEntry>& placed) {
    Category top;
    for (const PlacedEntry& item : placed) {
        if (item.folders.empty()) top.entries.push_back(item.entry);
        for (const std::string& folder : item.folders)
            categoryOf(top, folder).entries.push_back(item.entry);
    }
    return top.menu();
}

std::vector<std::string> foldersOf(const std::string& imagePath,
                                   const std::vector<std::string>& treeLines) {
    std::vector<std::string> folders;
    for (const std::string& line : treeLines) {
        const size_t bar = line.find('|');
        if (bar == std::string::npos || line.compare(bar + 1, std::string::npos, imagePath) != 0)
            continue;
        std::string folder = line.substr(0, bar);
        if (folder.empty() || folder.front() != '\\') continue;
        if (folder.back() != '\\') folder += '\\';
        folders.push_back(std::move(folder));
    }
    return folders;
}

}  // namespace ombrix::menus
