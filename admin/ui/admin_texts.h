#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// The administration program's texts by number. The language library of the program may give
// its own for any of them; the built-in English ones stand wherever it has none.
namespace ombrix::admin {

// Title of the main window and caption of the program's message boxes.
inline constexpr const char* kAdminTitle = "Ombrix TS Administration";

namespace text {
inline constexpr int kDescription = 129;
inline constexpr int kFile = 130;
inline constexpr int kOmbrixUser = 131;
inline constexpr int kDrives = 133;
inline constexpr int kOverwriteCaution = 134;
inline constexpr int kNoNotifications = 136;
inline constexpr int kStatus = 144;
inline constexpr int kUp = 149;
inline constexpr int kDown = 150;
inline constexpr int kSearchOnDisk = 151;
inline constexpr int kDelete = 152;
inline constexpr int kEdit = 153;
inline constexpr int kAdd = 154;
inline constexpr int kPoolName = 155;
inline constexpr int kPath = 156;
inline constexpr int kChoosePoolPath = 157;
inline constexpr int kCannotCreatePool = 158;
inline constexpr int kNoSessionDrives = 171;
inline constexpr int kSetLettersFailed = 172;
inline constexpr int kInsertEjectFailed = 173;
inline constexpr int kViewSettings = 174;
inline constexpr int kInUse = 32783;
inline constexpr int kUpdateServer = 32786;
inline constexpr int kAvailable = 32788;
inline constexpr int kVirtualDrive = 32789;
inline constexpr int kServerInPool = 32791;
}  // namespace text

// The text of a number: the language library's, else the built-in one ("" for an unknown one).
// Menu commands' texts are "status prompt\ntool tip" where they have a tool tip.
std::string adminText(int id);
QString adminQText(int id);
// Where texts come from before the built-in ones (the language library); empty: built-in only.
void setAdminTextSource(std::function<std::optional<std::string>(int id)> source);

// Fills the "%s" and "%d" of a pattern with the arguments in order, as text; the arguments are
// never read as patterns themselves, and a pattern with too few places drops the rest.
std::string fillText(const std::string& pattern, const std::vector<std::string>& args);

// A button label with a mnemonic: the text as it is when it has one, else "&" before it.
QString withMnemonic(const QString& label);

}  // namespace ombrix::admin
