#include <xcb/xcb.h>

#include <QtGui/qguiapplication_platform.h>
#include <QGuiApplication>

#include "tools/tray/ui/hot_key_parts.h"
#include "tools/tray/ui/tray_app.h"

namespace ombrix::tray {

std::unique_ptr<GlobalHotKey> GlobalHotKey::create(std::function<void()> pressed, hotkey::Log log) {
    if (QGuiApplication::platformName() == "xcb") {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        auto* x11 = app ? app->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
        if (xcb_connection_t* connection = x11 ? x11->connection() : nullptr) {
            return hotkey::makeX11HotKey(connection, std::move(pressed), std::move(log));
        }
    }
    // Wayland and anything else: the portal, which tells when the desktop offers none.
    return hotkey::makePortalHotKey(std::move(pressed), std::move(log));
}

}  // namespace ombrix::tray
