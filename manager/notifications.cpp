#include "manager/notifications.h"

#include <array>

#include "platform/text_printf.h"

namespace ombrix::mng {
namespace {

struct NoticeText {
    Notice notice;
    std::string_view name;
    const char* arrival;  // printf form: sender, own id, lParam (the eject adds the letter)
};

constexpr std::array<NoticeText, 11> kNotices{{
    {Notice::SettingsChanged, "WM_OXT_SETTINGS_CHANGED",
     "---->MSG: MSG_OMXSETTINGSCHANGED (%d/%d)"},
    {Notice::IndexChanged, "WM_OXTNOTIFY_INDEXCHANGED",
     "---->MSG: OnOMXMSGIndexChanged(%d[%d]/%d)"},
    {Notice::Insert, "MSG_OXTNOTIFY_INSERT", "---->MSG: OnOMXMSGInsert(%d[%d]/%d)"},
    {Notice::Eject, "MSG_OXTNOTIFY_EJECT", "---->MSG: OnOMXMSGEject(%d[%d]/%d (%c:)"},
    {Notice::ImageAdded, "MSG_OXTNOTIFY_IMAGEADDED", "---->MSG: OnOMXMSGImageAdded(%d[%d]/%d)"},
    {Notice::ImageRemoved, "MSG_OXTNOTIFY_IMAGEREMOVED", "---->MSG: OnOMXMSGImageDel(%d[%d]/%d)"},
    {Notice::DrivesChanged, "MSG_OXTNOTIFY_DRIVESCHANGED",
     "---->MSG: OnOMXMSGDrvChanged(%d[%d]/%d)"},
    {Notice::DrivesChanging, "MSG_OXTNOTIFY_DRIVESCHANGING",
     "---->MSG: OnOMXMSGDrvChanging(%d[%d]/%d)"},
    {Notice::TreeChanged, "MSG_OXTTREE_CHANGED", "---->MSG: OnOMXMSGTreeChanged(%d[%d]/%d)"},
    {Notice::ImageFileChanged, "MSG_OXTIMGFILE_CHANGED",
     "---->MSG: OnOMXMSGMNGDatChanged(%d[%d]/%d)"},
    {Notice::ConfigPathChanged, "MSG_OXTCFGPATH_CHANGED",
     "---->MSG: OnOMXCfgPathChanged(%d[%d]/%d)"},
}};

const NoticeText& textOf(Notice notice) {
    return kNotices[static_cast<size_t>(notice)];
}

}  // namespace

std::string_view noticeName(Notice notice) {
    return textOf(notice).name;
}

std::optional<Notice> noticeNamed(std::string_view name) {
    for (const auto& n : kNotices) {
        if (n.name == name) return n.notice;
    }
    return std::nullopt;
}

bool BusyFlags::clear(int flag) {
    flags_.reset(static_cast<size_t>(flag));
    if (flags_.any() || !refreshPending_) return false;
    refreshPending_ = false;
    return true;
}

Reaction reactionTo(Notice notice, pid_t sender, pid_t self, const BusyFlags& busy) {
    const bool own = sender == self;
    switch (notice) {
        case Notice::SettingsChanged: return Reaction::ReevaluateSettings;
        case Notice::IndexChanged: return own ? Reaction::Ignore : Reaction::UpdateImageRow;
        case Notice::Insert: return own ? Reaction::Ignore : Reaction::UpdateDrive;
        // Ejects are followed even when this program made them: the drive shows it at once.
        case Notice::Eject: return Reaction::UpdateDrive;
        case Notice::ImageAdded: return own ? Reaction::Ignore : Reaction::AddImage;
        case Notice::ImageRemoved: return own ? Reaction::Ignore : Reaction::RemoveImage;
        case Notice::DrivesChanged: return Reaction::RebuildDrives;
        case Notice::DrivesChanging: return Reaction::LogOnly;
        case Notice::TreeChanged:
        case Notice::ImageFileChanged:
            if (own) return Reaction::Ignore;
            return busy.any() ? Reaction::RefreshLater : Reaction::FullRefresh;
        case Notice::ConfigPathChanged: return Reaction::ReloadMenus;
    }
    return Reaction::LogOnly;
}

std::string arrivalLine(Notice notice, uint64_t wParam, pid_t self, int64_t lParam) {
    const auto sender = static_cast<int>(wParam);
    const auto value = static_cast<int>(lParam);
    const char* form = textOf(notice).arrival;
    if (notice == Notice::SettingsChanged) return platform::format(form, sender, value);
    if (notice == Notice::Eject) {
        return platform::format(form, sender, static_cast<int>(self), value,
                                static_cast<char>(value));
    }
    return platform::format(form, sender, static_cast<int>(self), value);
}

}  // namespace ombrix::mng
