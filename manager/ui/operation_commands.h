#pragma once

#include <string>
#include <vector>

#include "manager/image_operations.h"
#include "manager/ui/mng_main_window.h"

// The image commands of the main window, carried out on what the user has selected.
namespace ombrix::mng {

// Runs an image command; false when `command` is none of them.
bool runOperation(int command, const Selection& selected, ImageOperations& operations,
                  MngMainWindow& window, const MngDocument& document);

// What is dropped onto a tree item or the list: entries of the program or files of the desktop.
void dropOnto(const Selection& target, const std::vector<TreeItem>& items,
              const std::vector<std::string>& files, bool copy, ImageOperations& operations);

}  // namespace ombrix::mng
