#pragma once

#include <sys/types.h>

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The registered messages the management program answers, what each asks of it, and the
// document's busy flags that hold back refreshes while a dialog or a drag is running.
namespace ombrix::mng {

enum class Notice {
    SettingsChanged,
    IndexChanged,
    Insert,
    Eject,
    ImageAdded,
    ImageRemoved,
    DrivesChanged,
    DrivesChanging,
    TreeChanged,
    ImageFileChanged,
    ConfigPathChanged,
};

// The message's registered name ("MSG_OXTNOTIFY_EJECT") and back.
std::string_view noticeName(Notice notice);
std::optional<Notice> noticeNamed(std::string_view name);
// Sent to all programs before a full refresh re-reads the files; not answered.
constexpr std::string_view kImageFileUpdate = "MSG_OXTIMGFILE_UPDATE";

enum class Reaction {
    Ignore,  // sent by this program itself
    LogOnly,
    ReevaluateSettings,  // access again, then redraw or a forced full refresh
    UpdateImageRow,      // the list row of image lParam
    UpdateDrive,         // the drive of letter lParam and the row of the image it held
    AddImage,            // catalogue entry lParam into tree and list
    RemoveImage,         // every tree entry of index lParam, then the tree file written
    RebuildDrives,
    FullRefresh,
    RefreshLater,  // a busy flag is set: only remember that a refresh is due
    ReloadMenus,   // access again, menus and toolbar rebuilt without the disabled commands
};

// The document's five busy flags (2 adding, 3 new folder, 4 deleting; 0 and 1 other list and
// tree work) and the refresh that waits for them.
class BusyFlags {
  public:
    void set(int flag) { flags_.set(static_cast<size_t>(flag)); }
    // Clears a flag; true when that was the last one set and a refresh was held back, which is
    // then due now (and no longer pending).
    bool clear(int flag);
    bool any() const { return flags_.any(); }
    void holdRefresh() { refreshPending_ = true; }
    bool refreshPending() const { return refreshPending_; }

  private:
    std::bitset<5> flags_;
    bool refreshPending_ = false;
};

// What the program does with a message from `sender` (its process id), given its own id.
Reaction reactionTo(Notice notice, pid_t sender, pid_t self, const BusyFlags& busy);

// The log line written when a message arrives.
std::string arrivalLine(Notice notice, uint64_t wParam, pid_t self, int64_t lParam);

}  // namespace ombrix::mng
