#pragma once

#include <QImage>
#include <QPoint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/menu_tree.h"
#include "shellext/shell_menus.h"

class QWidget;

// The few windows of the file-manager integration: the icons of the disc types, the image's
// property dialog, and a menu shown at the mouse for file managers whose own menus are fixed.
namespace ombrix::shellext {

// The icon of `index` (0 .. kIconCount - 1) drawn at `size` pixels square: a disc whose colour
// and mark tell the disc type; indexes from 17 on are the newer set's style of the same types.
QImage discIcon(int index, int size);

// "Ombrix image" with the image's path, description, image size, CD size, tracks and comment,
// read-only, and a Close button.
std::unique_ptr<QWidget> makePropertyDialog(const ImageProperties& properties,
                                            const std::function<std::string(int id)>& text,
                                            QWidget* parent = nullptr);

// Shows `menu` at `at` and waits; the chosen command, or nothing when the user chose none.
std::optional<int> popupMenu(const std::vector<menus::MenuEntry>& menu, const QPoint& at);

}  // namespace ombrix::shellext
