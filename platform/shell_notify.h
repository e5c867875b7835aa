#pragma once

// Tells the programs of the caller's session (file managers, the tray) that a drive's medium
// came or went, as the shell's change notification does: a session-bus message with the drive
// letter in lParam.
namespace ombrix::platform {

constexpr const char* kShellMediaInserted = "SHCNE_MEDIAINSERTED";
constexpr const char* kShellMediaRemoved = "SHCNE_MEDIAREMOVED";

void notifyMediaChange(bool inserted, char letter);

}  // namespace ombrix::platform
