#include "manager/ui/operation_commands.h"

#include "manager/command_ids.h"

namespace ombrix::mng {
namespace {

// The folder new entries go to: the selected folder, else the first branch root.
std::string targetFolder(const Selection& s, const MngDocument& document) {
    if (!s.folder.empty()) return s.folder;
    return document.roots().front();
}

std::vector<TreeItem> imageRows(const Selection& s) {
    std::vector<TreeItem> images;
    for (const TreeItem& row : s.rows) {
        if (row.index > 0) images.push_back(row);
    }
    return images;
}

int firstImage(const Selection& s) {
    for (const TreeItem& row : s.rows) {
        if (row.index > 0) return row.index;
    }
    return 0;
}

bool onVirtualDrive(const Selection& s) {
    return s.view == Selection::View::Tree && s.treeKind == ItemKind::VirtualDrive;
}

}  // namespace

bool runOperation(int command, const Selection& s, ImageOperations& ops, MngMainWindow& window,
                  const MngDocument& document) {
    using namespace command;
    switch (command) {
        case kAdd: ops.add(targetFolder(s, document)); return true;
        case kFind: ops.find(targetFolder(s, document), false); return true;
        case kInsert: {
            const int index = firstImage(s);
            if (index > 0)
                ops.insert(s.treeKind == ItemKind::VirtualDrive ? s.driveLetter : 0, index);
            return true;
        }
        case kEject:
            if (onVirtualDrive(s)) {
                ops.eject(s.driveLetter);
                return true;
            }
            // The drives that hold the selected images, gathered before the first eject
            // changes the drives.
            {
                std::string letters;
                for (const TreeItem& row : imageRows(s)) {
                    for (const VirtualDrive& d : document.drives()) {
                        if (d.index == row.index && letters.find(d.letter) == std::string::npos)
                            letters += d.letter;
                    }
                }
                for (char letter : letters)
                    ops.eject(letter);
            }
            return true;
        case kEjectAllVirtual: ops.ejectAll(); return true;
        case kEjectPhysical:
            if (s.treeKind == ItemKind::PhysicalDrive) ops.ejectPhysical(s.driveLetter);
            return true;
        case kEjectAllPhysical: ops.ejectAllPhysical(); return true;
        case kExplorer:
            if (s.driveLetter != 0) ops.explore(s.driveLetter);
            return true;
        case kDelete:
            if (s.view == Selection::View::Tree) {
                if (s.treeKind == ItemKind::ImageFolder) ops.deleteFolder(s.folder);
                return true;
            }
            if (const auto images = imageRows(s); !images.empty()) {
                ops.deleteImages(images);
            } else if (!s.rows.empty()) {
                ops.deleteFolder(s.rows.front().folder);
            }
            return true;
        case kNewFolder: {
            const std::string folder = ops.newFolder(targetFolder(s, document));
            if (!folder.empty()) window.editFolderName(folder);
            return true;
        }
        case kRename:
            if (s.view == Selection::View::Tree && s.treeKind == ItemKind::ImageFolder) {
                window.editFolderName(s.folder);
            } else if (!s.rows.empty() && s.rows.front().index == 0) {
                window.editFolderName(s.rows.front().folder);
            }
            return true;
        case kProperties:
            if (s.view == Selection::View::Contents) {
                if (s.haveFile && window.shownContents() != nullptr)
                    ops.fileInformation(*window.shownContents(), s.track, s.node);
            } else if (const int index = firstImage(s); index > 0) {
                ops.properties(index);
            }
            return true;
        case kOpen:
        case kExtract:
            if (s.haveFile && window.shownContents() != nullptr) {
                if (command == kOpen) {
                    ops.openFile(*window.shownContents(), s.track, s.node);
                } else {
                    ops.extractFile(*window.shownContents(), s.track, s.node);
                }
            }
            return true;
        case kEdit:
        case kEditor:
            if (const int index = firstImage(s); index > 0) ops.startEditor(index);
            return true;
        case kCreate: ops.startBuilder(0); return true;
        case kCreateFromDrive:
            ops.startBuilder(s.treeKind == ItemKind::PhysicalDrive ? s.driveLetter : 0);
            return true;
        case kUpOneLevel:
            if (s.folder.size() > 1) window.selectFolder(QString::fromStdString(parentFolder(s.folder)));
            return true;
        default: return false;
    }
}

void dropOnto(const Selection& target, const std::vector<TreeItem>& items,
              const std::vector<std::string>& files, bool copy, ImageOperations& ops) {
    const bool onFolder =
        target.treeKind == ItemKind::ImageFolder || target.treeKind == ItemKind::ImageRoot;
    if (!files.empty()) {
        // Files from the desktop are added to the folder they are dropped on.
        if (onFolder) ops.addFiles(files, target.folder);
        return;
    }
    if (target.treeKind == ItemKind::VirtualDrive) {
        ops.dropOnDrive(items, target.driveLetter);
    } else if (onFolder) {
        ops.dropOnFolder(items, target.folder, copy);
    }
}

}  // namespace ombrix::mng
