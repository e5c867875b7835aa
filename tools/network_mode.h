#pragma once

#include <functional>
#include <optional>
#include <string>

// The network mode program without its window: whether it may start, what it shows, toggling
// central mode and changing its password, where the window goes, and leaving central mode on
// every way the program ends.
namespace ombrix::tools {

namespace modetext {
inline constexpr int kAbout = 101;
inline constexpr int kPasswordsDiffer = 102;
inline constexpr int kNormal = 103;
inline constexpr int kCentral = 104;
inline constexpr int kAlwaysOnTop = 105;
inline constexpr int kNoAdminFolder = 106;
inline constexpr int kCaption = 107;
inline constexpr int kExitTip = 108;
inline constexpr int kPasswordTip = 109;
inline constexpr int kModeTip = 110;
inline constexpr int kOtherComputer = 111;
inline constexpr int kWrongLanguage = 173;
inline constexpr int kLeavingCentral = 174;
}  // namespace modetext
std::string networkModeText(int id);

inline constexpr const char* kNetModeToFrontMessage = "WM_OXT_NET_MODE_TO_FRONT";
inline constexpr const char* kNetModeMutex = "OMX_MODE";
inline constexpr int kPasswordLength = 15;

struct NetworkModePorts {
    std::function<bool(int right)> hasRight;
    std::function<int()> adminMode;  // 0 normal, 1 central here, 2 central elsewhere
    std::function<std::string()> adminComputer;
    std::function<std::string()> adminFolder;  // "OmxAdmPathNet", trailing blanks kept
    std::function<bool()> adminFileExists;     // the pool's administration file
    std::function<int()> enter;
    std::function<int()> leave;
    std::function<int(const std::string& oldPassword, const std::string& newPassword)> setPassword;
};
NetworkModePorts systemNetworkModePorts();

enum class ModeStart {
    EndSilently,    // no right 8
    OtherComputer,  // central mode is held elsewhere: text 111 with its name, then end
    Run,
};
// The checks before the single-instance mutex; `message` is the text to show for OtherComputer.
ModeStart networkModeStart(const NetworkModePorts& ports, std::string& message,
                           const std::function<std::string(int id)>& text = networkModeText);
// The administration folder is configured (not empty once trailing blanks are cut).
bool adminFolderConfigured(const NetworkModePorts& ports);

class NetworkModeController {
  public:
    explicit NetworkModeController(NetworkModePorts ports);

    bool central() const;
    // Text 103 or 104 for the mode now.
    int modeText() const;
    // The administration file does not exist yet: a toggle asks for a new password first.
    bool needsNewPassword() const;
    // Leaves central mode when in it, else enters it (the client library asks the password).
    void toggle();
    // "OK" of the password dialog: false (text 102, the dialog stays) when the two new entries
    // differ; otherwise the password is handed to the client library.
    bool changePassword(const std::string& oldPassword, const std::string& newPassword,
                        const std::string& again);

    // An end by the user (exit button, closing the window): when in central mode, `tell` shows
    // text 174 and the mode is left. Other ends (a signal, the session's log-off, the window
    // destroyed) leave it without a word. Either happens once.
    void endByUser(const std::function<void()>& tell);
    void endQuietly();

  private:
    static constexpr int kPublishWaits = 40;  // 50 ms each
    void leave();

    NetworkModePorts ports_;
    bool ended_ = false;
    bool entered_ = false;  // entered by this program and not left since
};

// Where the window stands: "OmxModeX"/"OmxModeY" (both, else the default place) and
// "OmxModeTopWnd" (top-most unless it begins with something other than '1').
struct ModePlacement {
    std::optional<int> x, y;
    bool topMost = true;
};
struct PlacementStore {
    std::function<std::optional<std::string>(const std::string& key)> read;
    // The session store and, when it opens, the user's key "Software\Norvane\Ombrix 4\Settings".
    std::function<void(const std::string& key, const std::string& value)> write;
};
PlacementStore systemPlacementStore();
ModePlacement readPlacement(const PlacementStore& store);
void writePlacement(const PlacementStore& store, int x, int y, bool topMost);

}  // namespace ombrix::tools
