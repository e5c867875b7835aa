#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/logical_drives.h"

// The drive editor's list without its window: the 26 letters with their state, which the user
// may tick, and when "Set drives" and "Reset" are offered.
namespace ombrix::tools {

namespace drivetext {
inline constexpr int kDrive = 102;
inline constexpr int kNoHelper = 107;
inline constexpr int kSetting = 111;
inline constexpr int kListTip = 112;
inline constexpr int kSetTip = 113;
inline constexpr int kRefreshTip = 114;
inline constexpr int kCancelTip = 115;
inline constexpr int kSetFailed = 116;
inline constexpr int kStatus = 57346;
inline constexpr int kAvailable = 57347;
inline constexpr int kInUse = 57348;
inline constexpr int kVirtualDrive = 57349;
}  // namespace drivetext
std::string driveEditorText(int id);

enum class DriveState { Available, InUse, Virtual };

struct DriveRow {
    char letter = 'A';
    std::string display;  // "E:"-style name: a disc's label "%s (%C:)", else " (%C:)"
    DriveState state = DriveState::Available;
    bool checked = false;
    bool checkable = false;
    friend bool operator==(const DriveRow&, const DriveRow&) = default;
};

// What the list asks of the machine about one letter.
struct DriveProbes {
    std::function<platform::DriveType(char letter)> type;
    std::function<std::string(char letter)> cdLabel;      // a CD drive's volume label
    std::function<std::string(char letter)> displayName;  // the name of another drive in use
};
DriveProbes systemDriveProbes(uint32_t session);

// The rows A to Z. `virtualLetters` are the session's virtual drives (any case).
std::vector<DriveRow> driveRows(const std::string& virtualLetters, const DriveProbes& probes);
// The letters of the checked rows in list order.
std::string checkedLetters(const std::vector<DriveRow>& rows);
// "Set drives" is offered when the checked letters differ from the current ones.
bool setDrivesEnabled(const std::vector<DriveRow>& rows, const std::string& current);
// "Reset" is offered when the current letters differ from the standard ones as a set.
bool resetEnabled(const std::string& current, const std::string& standard);

// The drive editor's calls into the helper library.
struct DriveLetterPorts {
    std::function<std::string()> current;   // the session's virtual letters, upper case
    std::function<std::string()> standard;  // the standard letters, upper case
    std::function<bool(const std::string& letters, bool allSessions)> set;
};
DriveLetterPorts systemDriveLetterPorts();

}  // namespace ombrix::tools
