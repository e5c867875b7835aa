#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/settings/omx_settings.h"

// What the settings program decides, without its windows: global mode for one run, the title,
// which pages are shown, the management columns' two lists, the notices an option change
// brings, and what happens after OK.
namespace ombrix::tools {

namespace settext {
inline constexpr int kStyleClassic = 106;  // "Windows 98/Me/NT4/2000"
inline constexpr int kStyleNewer = 107;    // "Windows XP"
inline constexpr int kNoPlayer = 146;
inline constexpr int kLanguageRestart = 157;
inline constexpr int kManagerRestart = 188;
inline constexpr int kOneCategoryQuestion = 213;
inline constexpr int kTitle = 215;
inline constexpr int kTitleGlobal = 216;
inline constexpr int kHotKeyRefused = 1001;
}  // namespace settext

// The program's built-in English text of `id` ("" for an unknown one).
std::string settingsBuiltInText(int id);

// Reads the session value "OmxGlobalSettings" and, when it is there, empties it: the flag
// applies to one run only. True when it was "1".
bool takeGlobalFlag(const SettingsStorage& storage);

// The page a command line asks for: a decimal number between 0 and `pageCount` - 1, else 0.
int firstPageFromArguments(const std::vector<std::string>& arguments, int pageCount);

// The columns of the management program's image list the page offers, numbered as stored
// (1 image file … 14 category).
inline constexpr int kOptionalColumns = 14;
std::string columnName(int number);

struct ColumnLists {
    std::vector<int> shown;   // in display order
    std::vector<int> hidden;  // ascending
    friend bool operator==(const ColumnLists&, const ColumnLists&) = default;
};
// The lists of a stored "OmxMngROWOrder". An empty value shows every column, as the management
// program does, so the page lists them all as shown.
ColumnLists columnListsFrom(const std::string& rowOrder);
// "<< Remove": the column leaves the shown list for the hidden one (kept ascending); the last
// shown column stays, since an empty order stands for every column.
void removeColumn(ColumnLists& lists, int number);
// ">> Add": the column leaves the hidden list and is shown last.
void addColumn(ColumnLists& lists, int number);
// The stored form of the shown list: "%02d" per column.
std::string rowOrderOf(const std::vector<int>& shown);

// What a change on a page brings before it is taken.
enum class ChangeNotice {
    None,
    LanguageRestart,      // text 157, information
    ManagerRestart,       // text 188, information
    OneCategoryQuestion,  // text 213, yes/no; "no" takes the change back
    HotKeyRefused,        // the key cannot be the tray's hot key; the sheet stays open
};
ChangeNotice noticeForOption(COmxMNGSettings::Option option, bool on);

// After OK: saves what changed, then tells the others. In global mode the services read the
// defaults file again; otherwise every program of the session gets "WM_OXT_SETTINGS_CHANGED"
// with lParam 1 when the view options changed plus 2 when the preferences changed (nothing is
// sent when neither changed).
struct SettingsNotices {
    std::function<void()> reReadEnvFile;   // OMXTSReReadEnvFile
    std::function<void(int lParam)> post;  // the bus message
};
struct SettingsOutcome {
    int error = 0;   // a save's error (the values stay dirty), 0 when all was written
    int lParam = 0;  // what was sent, 0 when nothing
};
SettingsOutcome finishSettings(COmxSettings& general, COmxMNGSettings& view,
                               const SettingsNotices& notices);

inline constexpr const char* kSettingsChangedMessage = "WM_OXT_SETTINGS_CHANGED";
inline constexpr const char* kSettingsToFrontMessage = "WM_OXT_SETTINGS_TO_FRONT";

}  // namespace ombrix::tools
