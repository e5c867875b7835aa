#pragma once

#include <functional>
#include <vector>

#include "common/menu_tree.h"

class QAction;
class QMenu;

// A menu of plain data (menus::MenuEntry) as Qt's: sub-menus, separators, and one action per
// command, its command in the action's data and in its object name ("command<N>").
namespace ombrix::ui {

// Adds `entries` to `menu`; `added` is called for each command's action (to connect it).
void addMenuEntries(QMenu* menu, const std::vector<menus::MenuEntry>& entries,
                    const std::function<void(QAction* action, int command)>& added = {});

}  // namespace ombrix::ui
