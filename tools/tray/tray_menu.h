#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/menu_tree.h"

// The tray program's menu without widgets: which tools it offers, the drives with their
// Explorer, Eject and Insert entries, the images of each drive's Insert list (one overview, or
// by the category tree, apart for local and network images), and which drive and catalogue
// index a chosen command stands for.
namespace ombrix::tray {

namespace traytext {
inline constexpr int kNoImages = 129;    // "(No ombrixs found)"
inline constexpr int kEmptyDrive = 130;  // "(Empty drive)"
inline constexpr int kManagement = 131;
inline constexpr int kExplorer = 132;
inline constexpr int kEject = 133;
inline constexpr int kInsert = 134;
inline constexpr int kAbout = 135;
inline constexpr int kExit = 136;
inline constexpr int kSettings = 141;
inline constexpr int kCannotRun = 142;  // "Error - Cannot execute the '%s' program."
inline constexpr int kDriveEditor = 143;
inline constexpr int kNoDrives = 145;  // "(No virtual drives found)"
inline constexpr int kNoPlayer = 146;
inline constexpr int kNetworkMode = 148;
inline constexpr int kLocal = 149;
inline constexpr int kNetwork = 150;
inline constexpr int kAdministration = 151;
inline constexpr int kTooltip = 152;  // "Ombrix TS v5"
}  // namespace traytext
std::string trayBuiltInText(int id);

namespace command {
inline constexpr int kDriveEditor = 32769;
inline constexpr int kManagement = 32771;
inline constexpr int kAdministration = 32774;
inline constexpr int kSettings = 32775;
inline constexpr int kNetworkMode = 32780;
inline constexpr int kEjectBase = 32800;     // + the drive's position
inline constexpr int kExplorerBase = 32826;  // + the drive's position
inline constexpr int kInsertBase = 33000;    // + 1000 × the drive's position + the item number
inline constexpr int kAbout = 57664;
inline constexpr int kExit = 57665;
}  // namespace command

inline constexpr const char* kTrayStopMessage = "WM_OXT_TRAY_STOP";
inline constexpr const char* kTrayMutex = "OMBRIX5_TS_TRAY";
inline constexpr int kFirstNetworkIndex = 5001;
// An Insert list holds at most this many images: the item number must stay below 1000, or the
// command would name the next drive.
inline constexpr int kMaxItemsPerDrive = 999;

// A tool of the installation the menu offers.
struct TrayTool {
    int command = 0;
    int text = 0;
    std::string program;  // its file name as the installation names it ("OXTmng.exe")
};
// The tools present, in menu order: each when its program is in "system/" and the user holds
// its right (administration and network mode: right 8, the latter also needing the
// administration folder; the drive editor: right 4).
std::vector<TrayTool> availableTools(const std::function<bool(const std::string& program)>& exists,
                                     const std::function<bool(int right)>& hasRight,
                                     bool adminFolderSet);

struct TrayImage {
    int index = 0;
    std::string description;
    std::string path;
    char drive = 0;  // the session's drive that holds it, 0 when none
    // The category folders the image stands in ("\Games\", "\" for the top); none: the top.
    std::vector<std::string> folders;
};

struct TrayState {
    std::vector<TrayTool> tools;
    std::string letters;  // the session's virtual drives, in order
    std::vector<TrayImage> local;
    std::vector<TrayImage> network;
    int localIndexHi = 0;   // the highest local index: network items are numbered after it
    bool overview = false;  // the catalogue is listed as one overview (else by category)
};

using MenuEntry = menus::MenuEntry;

// The whole menu, built afresh each time it opens.
std::vector<MenuEntry> trayMenu(const TrayState& state,
                                const std::function<std::string(int id)>& text = trayBuiltInText);

// The number an image has in every drive's Insert list: a local index as it is, a network
// index after the highest local one.
int itemNumber(int index, int localIndexHi);
struct InsertChoice {
    char letter = 0;
    int index = 0;
    friend bool operator==(const InsertChoice&, const InsertChoice&) = default;
};
// The drive and catalogue index an Insert command stands for; nothing for another command or a
// drive the session does not have.
std::optional<InsertChoice> insertChoice(int command, const std::string& letters, int localIndexHi);
// The drive letter an Eject or Explorer command stands for (0 for another command).
char ejectLetter(int command, const std::string& letters);
char explorerLetter(int command, const std::string& letters);

}  // namespace ombrix::tray
