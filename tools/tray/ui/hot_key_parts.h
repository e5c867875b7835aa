#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "tools/settings/hot_key.h"
#include "tools/tray/ui/tray_app.h"

// What the two ways of a global hot key share: their messages, saying each once, and the keys'
// X keysyms and shortcut names.
namespace ombrix::tray::hotkey {

using Log = std::function<void(const std::string&)>;

inline constexpr const char* kTaken = "The tray hot key is taken by another program.";
inline constexpr const char* kNoHotKey =
    "No global hot key on this desktop: the tray menu opens with the mouse only.";
inline constexpr const char* kNoSuchKey = "The tray hot key is not on this keyboard.";
inline constexpr const char* kRefused = "The desktop did not register the tray hot key.";

// Says each message once: the hot key is set again whenever the settings change, and a desktop
// that refused it once refuses it again.
class OnceLog {
  public:
    explicit OnceLog(Log log) : log_(std::move(log)) {}
    void operator()(const std::string& message) {
        if (log_ && said_.insert(message).second) log_(message);
    }

  private:
    Log log_;
    std::set<std::string> said_;
};

// The keysym and name of a Qt key; keysym 0 for a key this table does not know.
struct KeySym {
    uint32_t keysym = 0;
    QString name;
};
KeySym keySym(const tools::QtHotKey& key);

// A key grab on the X server's root window, through the application's connection (an
// xcb_connection_t).
std::unique_ptr<GlobalHotKey> makeX11HotKey(void* connection, std::function<void()> pressed,
                                            Log log);
// The desktop's global-shortcuts portal on the session's D-Bus; it says when there is none.
std::unique_ptr<GlobalHotKey> makePortalHotKey(std::function<void()> pressed, Log log);

}  // namespace ombrix::tray::hotkey
