#pragma once

#include <QObject>
#include <QPoint>
#include <functional>
#include <memory>
#include <string>

#include "tools/tray/tray_menu.h"

class QMenu;
class QSystemTrayIcon;

// The tray program's icon and its menu: the menu is built afresh from the system's state each
// time it opens (the right button's release, the hot key), a double click starts the
// management program, and each command goes to the system through the ports.
namespace ombrix::tray {

struct TrayPorts {
    std::function<TrayState()> state;                   // read when the menu opens
    std::function<int(char letter, int index)> insert;  // 0 or the client library's code
    std::function<void(int code)> reportInsertError;    // for a non-zero insert result
    std::function<int(char letter)> eject;
    std::function<void(char letter)> explore;  // opens the drive's folder
    // Starts a tool's program ("/start" for the management program from the menu, nothing from
    // a double click); false when it could not be started.
    std::function<bool(const TrayTool& tool, const std::string& arguments)> startTool;
    std::function<void()> about;
    std::function<void(const std::string& text)> tellError;  // text 142 and the like
    std::function<std::string(int id)> text = trayBuiltInText;
};

class TrayApp : public QObject {
  public:
    explicit TrayApp(TrayPorts ports, QObject* parent = nullptr);
    ~TrayApp() override;

    // Shows the icon with its tool tip (text 152).
    void show();
    // A menu of the state now; the caller owns it.
    std::unique_ptr<QMenu> buildMenu();
    // Builds the menu and opens it at `at` (the first item is the default one).
    void popupMenu(const QPoint& at);
    // What a menu command does; Exit quits the application.
    void trigger(int command);
    // The double click: the management program without arguments.
    void startManagement();

    QSystemTrayIcon* icon() const { return icon_.get(); }
    QMenu* openMenu() const { return open_.get(); }  // the menu opened last, while it lives

  private:
    TrayPorts ports_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    std::unique_ptr<QMenu> open_;
    TrayState shown_;  // the state the open menu was built from
};

// A key that works wherever the focus is: on X11 a key grab on the root window, on Wayland the
// desktop's global-shortcuts portal when it offers one. Without either the key is not
// registered, which is said once through `log`.
class GlobalHotKey {
  public:
    virtual ~GlobalHotKey() = default;
    // Registers `modifier`/`virtualKey` (the stored form of the settings), dropping the key
    // registered before; (0, 0) only drops it. False when the key could not be registered.
    virtual bool set(int modifier, int virtualKey) = 0;

    static std::unique_ptr<GlobalHotKey> create(std::function<void()> pressed,
                                                std::function<void(const std::string&)> log);
};

}  // namespace ombrix::tray
