#pragma once

#include <cstdint>
#include <string>

// Names every program of the system shares: kernel objects (pipes, mutexes, events) and the
// registered messages programs post to each other. "%d" is a session number, "%C"/"%c" a drive
// letter, "%.4d" a catalogue index.
namespace ombrix::names {

inline constexpr const char* kServicePipe = "OMX_TS_Pipe";
inline constexpr const char* kServicePipeMutex = "Global\\OMX_TS_Pipe_Mutex";
inline constexpr const char* kUiPipe = "OMX_TS_UIPipe";
inline constexpr const char* kUiPipeMutex = "Global\\OMX_TS_UIPipe_Mutex";
inline constexpr const char* kNetPipe = "OMX_TS_Net_Pipe";
inline constexpr const char* kNetPipeMutex = "Global\\OMX_TS_Net_Pipe_Mutex";
inline constexpr const char* kServiceNotifyChange = "Global\\OMX_TS_Service_Notify_Change%d";
inline constexpr const char* kHelperMutex = "OMX_TS_Helper_MUTEX";
inline constexpr const char* kProfileEditorMutex = "_OXT_PROFILE_MUTEX_";
inline constexpr const char* kAdminToolMutex = "_OXT_ADMIN_MUTEX_";
inline constexpr const char* kSessionKey = "Sid_%d";
inline constexpr const char* kDriveKey = "Drive_%C";
inline constexpr const char* kImageKey = "Image_%.4d";
inline constexpr const char* kRestoredKey = "_RSTD_";
inline constexpr const char* kDrivesSetEvent = "OMBRIX_4_SEC_EVENT";

// Registered messages (wParam: the posting process id; lParam: drive letter or image index).
inline constexpr const char* kMsgImageRemoved = "MSG_OXTNOTIFY_IMAGEREMOVED";
inline constexpr const char* kMsgImageAdded = "MSG_OXTNOTIFY_IMAGEADDED";
inline constexpr const char* kMsgIndexChanged = "WM_OXTNOTIFY_INDEXCHANGED";
inline constexpr const char* kMsgDrivesChanged = "MSG_OXTNOTIFY_DRIVESCHANGED";
inline constexpr const char* kMsgDrivesChanging = "MSG_OXTNOTIFY_DRIVESCHANGING";
inline constexpr const char* kMsgInsert = "MSG_OXTNOTIFY_INSERT";
inline constexpr const char* kMsgEject = "MSG_OXTNOTIFY_EJECT";

// The session pipe of session `session`'s helper program, "OMX_TS_SESSION" and the session id.
// It lies in the session's own pipe folder, where only the session's account can create it.
inline std::string sessionPipe(uint32_t session) {
    const std::string id = std::to_string(session);
    return "\\Sessions\\" + id + "\\pipe\\OMX_TS_SESSION" + id;
}

}  // namespace ombrix::names
