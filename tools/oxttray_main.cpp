// OXTTray: the tray quick-start program. Its icon's menu inserts the catalogue's images into the
// session's drives, ejects them, opens a drive's folder and starts the other programs.
#include <unistd.h>

#include <QApplication>
#include <QCursor>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/install_folder.h"
#include "common/language_resources.h"
#include "common/names.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "log/oxtlog.h"
#include "outside/help/drive_folder.h"
#include "outside/help/oxthelp.h"
#include "platform/ascii.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/shell_execute.h"
#include "platform/ui/bus_messages.h"
#include "platform/ui/user_interface.h"
#include "tools/settings/omx_settings.h"
#include "tools/settings/settings_program.h"
#include "tools/tray/tray_system.h"
#include "tools/tray/ui/tray_app.h"

namespace {

namespace tray = ombrix::tray;
namespace ui = ombrix::ui;

void printUsage() {
    std::puts(
        "usage: OXTTray [/Stop | /check]\n"
        "The tray program: an icon in the notification area whose menu inserts the catalogue's\n"
        "images into the session's virtual drives, ejects them, opens a drive's folder and starts\n"
        "the other programs; its hot key (set in OXTSet) opens the menu from anywhere.\n"
        "  /Stop   ends the tray program running in this session\n"
        "  /check  starts only when the user's settings ask for the icon (log-on)");
}

void logLine(const std::string& line) {
    std::fprintf(stderr, "OXTTray: %s\n", line.c_str());
    OXTLog(1, "OXTTray: %s", line.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (ombrix::ascii::startsWithIgnoreCase(argument, "/Stop")) {
            ombrix::platform::postToSession(
                {tray::kTrayStopMessage, static_cast<uint64_t>(::getpid()), 0});
            return 0;
        }
        if (ombrix::ascii::equalsIgnoreCase(argument, "/check") &&
            !ombrix::tools::COmxSettings().trayIcon)
            return 0;
    }
    if (OMXTSHasRight(2) == 0) return 0;
    ombrix::platform::NamedMutex running(tray::kTrayMutex);
    if (running.lock(2000) == ombrix::platform::NamedMutex::WaitResult::TimedOut) return 0;

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    ombrix::strings::LanguageResources language("oxttray", 1);
    const auto text = [&language](int id) {
        return language.text(id).value_or(tray::trayBuiltInText(id));
    };
    const std::string caption = text(tray::traytext::kTooltip);
    if (OMXCheckOMXPlay() == 0) {
        ui::userInterface().messageBox(caption, text(tray::traytext::kNoPlayer), ui::Icon::Error,
                                       ui::Buttons::Ok, {});
        return 1;
    }

    const std::vector<tray::TrayTool> tools = tray::systemTools();
    tray::TrayPorts ports;
    ports.text = text;
    ports.state = [tools] { return tray::systemTrayState(tools); };
    ports.insert = [](char letter, int index) { return OMXInsertIndex(letter, index); };
    ports.reportInsertError = [](int code) { OMXReportInsertError(code); };
    ports.eject = [](char letter) { return OMXEject(letter); };
    ports.explore = [](char letter) {
        const std::filesystem::path folder =
            ombrix::helper::userDriveFolder() / std::string(1, letter);
        ombrix::platform::shellOpen(folder.string(), "", "");
    };
    ports.startTool = [](const tray::TrayTool& tool, const std::string& arguments) {
        const std::string file = ombrix::client::installedProgram(tool.program);
        return !file.empty() && ombrix::platform::shellOpen(file, arguments, "") > 32;
    };
    ports.about = [caption] {
        ui::userInterface().messageBox(caption,
                                       caption +
                                           "\nVirtual drives and disc images for the "
                                           "sessions of this server.",
                                       ui::Icon::Information, ui::Buttons::Ok, {});
    };
    ports.tellError = [caption](const std::string& message) {
        ui::userInterface().messageBox(caption, message, ui::Icon::Error, ui::Buttons::Ok, {});
    };
    tray::TrayApp trayApp(ports);
    trayApp.show();

    // The hot key opens the menu where the mouse is; it is registered again when the settings
    // change.
    const auto hotKey =
        tray::GlobalHotKey::create([&trayApp] { trayApp.popupMenu(QCursor::pos()); }, logLine);
    std::pair<int, int> registered{0, 0};
    const auto registerHotKey = [&hotKey, &registered](bool atStart) {
        const ombrix::tools::COmxSettings settings;
        const std::pair<int, int> wanted{settings.trayKeyModifier, settings.trayKeyVirtualKey};
        // At start only a key that is set; later (0, 0) drops the key registered before. A key
        // that stays the same is not registered again (a desktop may ask the user each time).
        if (atStart ? wanted == std::pair{0, 0} : wanted == registered) return;
        hotKey->set(wanted.first, wanted.second);
        registered = wanted;
    };
    registerHotKey(true);

    const auto messages =
        ui::BusMessages::listen(&trayApp, [&](const ombrix::platform::BusMessage& message) {
            if (message.name == tray::kTrayStopMessage) {
                logLine("asked to stop");
                QCoreApplication::quit();
            } else if (message.name == ombrix::tools::kSettingsChangedMessage &&
                       (message.lParam & 2) != 0) {
                registerHotKey(false);
            } else if (message.name == ombrix::names::kMsgDrivesChanged) {
                OMXReInitializeScsi();
            }
        });
    if (!messages) logLine("cannot listen on the session's bus: /Stop will not reach this tray");
    return app.exec();
}
