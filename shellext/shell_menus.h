#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/menu_tree.h"

// The file managers' side of the system: which files are images of this system and the icon of
// their disc type, the menu of an image file (manage it, insert it into a drive of the session),
// the menu of a drive folder (insert an image of the shared catalogue) and the image's
// properties. The file managers' plug-ins only show what this code decides.
namespace ombrix::shellext {

namespace text {
inline constexpr int kInsertInto = 102;
inline constexpr int kCaption = 104;
inline constexpr int kNotCatalogued = 105;  // "%s": the image's path
inline constexpr int kNoSuchDrive = 106;
inline constexpr int kPropertiesTitle = 107;
inline constexpr int kMegabytes = 108;  // "%d MB"
inline constexpr int kManage = 109;
inline constexpr int kInsertImage = 110;
inline constexpr int kNoImage = 111;
inline constexpr int kManageHelp = 112;
inline constexpr int kInsertIntoHelp = 113;
inline constexpr int kInsertImageHelp = 114;
inline constexpr int kNoDrive = 129;
}  // namespace text
std::string builtInText(int id);

// --- image files -------------------------------------------------------------------------

// The header of an image of this system: it reads, and holds the current format's mark.
bool isSystemImage(const std::string& path);
// The icon of a disc type (the header's first number; nothing when the header does not read),
// in the classic set or the newer one.
int iconIndex(std::optional<uint32_t> discType, bool newerSet);
// The icon's name in the icon theme ("ombrix-disc-07").
std::string iconName(int index);
inline constexpr int kIconCount = 34;
// The icon of a file as the user's setting "OmxUseXPIcons" chooses the set.
int iconIndexOfFile(const std::string& path);

struct ImageProperties {
    std::string path;
    std::string description;
    std::string imageSize;  // "%d MB"
    std::string cdSize;
    std::string tracks;
    std::string comment;
};
std::optional<ImageProperties> imageProperties(
    const std::string& path, const std::function<std::string(int id)>& text = builtInText);

// --- the menu of an image file -----------------------------------------------------------

inline constexpr int kManageCommand = 1;
inline constexpr int kInsertCommandBase = 100;  // + the drive's position

struct ImagePorts {
    std::function<std::string()> letters;                 // the session's virtual drives
    std::function<std::string(char letter)> mountedFile;  // the image in a drive, "" for none
    std::function<bool()> managerPresent;
    std::function<int(const std::string& path)> indexOf;  // > 0 when catalogued
    std::function<int(const std::string& path)> add;      // adds to the catalogue
    std::function<int(char letter, int index)> insert;
    std::function<bool(const std::string& path)> runManager;
    std::function<void(const std::string& caption, const std::string& text)> tellError;
    std::function<std::string(int id)> text = builtInText;
};
ImagePorts systemImagePorts();

std::vector<menus::MenuEntry> imageMenu(const std::string& path, const ImagePorts& ports);
// Runs a command of the image's menu; false when it did nothing.
bool invokeImageCommand(const std::string& path, int command, const ImagePorts& ports);

// --- the menu of a drive folder ----------------------------------------------------------

inline constexpr int kMaxDriveItems = 1000;
inline constexpr int kMaxCatalogueIndexes = 100000;  // the most index numbers looked at

struct DriveImage {
    int index = 0;
    std::string description;
    std::string path;
};
struct DrivePorts {
    std::function<std::string()> letters;
    std::function<bool(char letter)> isCdDrive;
    // The letter a folder stands for: the user's drive folder ("~/OmbrixDrives/E") or the
    // session's drive link ("DosDevices/E:"); 0 for any other folder.
    std::function<char(const std::string& folder)> letterOfFolder;
    std::function<std::vector<DriveImage>()> sharedImages;  // from 5001
    std::function<std::string(char letter)> mountedFile;
    // "OmxSettings" position 5 is "0" and the pool publishes its tree: its lines, else nothing.
    std::function<std::optional<std::vector<std::string>>()> treeLines;
    std::function<int(char letter, int index)> insert;
    std::function<std::string(int id)> text = builtInText;
};
DrivePorts systemDrivePorts();

// The drive a folder stands for when it is a CD drive of the session's virtual drives.
std::optional<char> virtualDriveOf(const std::string& folder, const DrivePorts& ports);
// The Insert menu of a drive: each command is the image's catalogue index.
std::vector<menus::MenuEntry> driveMenu(char letter, const DrivePorts& ports);
bool invokeDriveCommand(char letter, int index, const DrivePorts& ports);

// --- the plug-ins' form ------------------------------------------------------------------

// A menu as lines for the file managers' plug-ins: "DEPTH<TAB>COMMAND<TAB>FLAGS<TAB>TEXT", FLAGS
// holding 's' for a sub-menu, 'c' checked, 'd' disabled, '-' for a separator line; the text
// without mnemonics.
std::string menuLines(const std::vector<menus::MenuEntry>& menu);

}  // namespace ombrix::shellext
