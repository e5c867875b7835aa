// oxtmode: the network mode program. Switches this computer between normal and central network
// mode for an administrator, and leaves central mode whenever it ends.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/language_resources.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/session_id.h"
#include "platform/ui/bus_messages.h"
#include "platform/ui/front_requests.h"
#include "platform/ui/user_interface.h"
#include "tools/network_mode.h"
#include "tools/settings/settings_program.h"
#include "tools/ui/network_mode_dialog.h"
#include "tools/ui/session_end_watch.h"

namespace {

namespace tools = ombrix::tools;
namespace ui = ombrix::ui;

void printUsage() {
    std::puts(
        "usage: oxtmode\n"
        "The network mode program: shows whether this computer holds the central network mode\n"
        "of the pool, switches it on and off, and changes its password. Needs the right to\n"
        "administer; central mode is left whenever the program ends.");
}

// The controller the process-exit hook leaves central mode through: an end that passes by
// main's own return (the display connection lost) still leaves it.
tools::NetworkModeController* exitController = nullptr;

void leaveOnExit() {
    if (exitController != nullptr) exitController->endQuietly();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }

    tools::NetworkModePorts ports = tools::systemNetworkModePorts();
    std::string message;
    switch (tools::networkModeStart(ports, message)) {
        case tools::ModeStart::EndSilently: return 0;
        case tools::ModeStart::OtherComputer:
            ui::userInterface().messageBox(tools::networkModeText(tools::modetext::kCaption),
                                           message, ui::Icon::Error, ui::Buttons::Ok, {});
            return 0;
        case tools::ModeStart::Run: break;
    }

    // One dialog per session: a later start brings the running one forward.
    ombrix::platform::NamedMutex running(tools::kNetModeMutex);
    if (!ui::firstInSession(running, 2000, tools::kNetModeToFrontMessage)) return 0;

    QApplication app(argc, argv);
    ombrix::strings::LanguageResources language("oxtmode", 1, [] {
        ui::userInterface().messageBox(tools::networkModeText(tools::modetext::kCaption),
                                       tools::networkModeText(tools::modetext::kWrongLanguage),
                                       ui::Icon::Information, ui::Buttons::Ok, {});
    });
    (void)language.helpFile();  // a wrong version is told now, before the dialog
    const auto text = [&language](int id) {
        return language.text(id).value_or(tools::networkModeText(id));
    };
    const std::string caption = text(tools::modetext::kCaption);
    for (const char* key : {"HKCU\\SOFTWARE\\Norvane", "HKCU\\SOFTWARE\\Norvane\\Ombrix 4",
                            "HKCU\\SOFTWARE\\Norvane\\Ombrix 4\\Settings"})
        ombrix::registry::createKey(key);
    if (!tools::adminFolderConfigured(ports)) {
        ui::userInterface().messageBox(caption, text(tools::modetext::kNoAdminFolder),
                                       ui::Icon::Error, ui::Buttons::Ok, {});
        return 1;
    }

    tools::NetworkModeController controller(ports);
    exitController = &controller;
    std::atexit(leaveOnExit);

    const tools::PlacementStore store = tools::systemPlacementStore();
    tools::NetworkModeDialog::Setup setup;
    setup.text = text;
    setup.placement = tools::readPlacement(store);
    setup.tell = [&caption](const std::string& note) {
        ui::userInterface().messageBox(caption, note, ui::Icon::Information, ui::Buttons::Ok, {});
    };
    setup.savePlacement = [&store](int x, int y, bool topMost) {
        tools::writePlacement(store, x, y, topMost);
    };
    tools::NetworkModeDialog dialog(controller, setup);

    const auto front = ui::FrontRequests::listen(&dialog, tools::kNetModeToFrontMessage);
    const auto settings =
        ui::BusMessages::listen(&dialog, [&dialog](const ombrix::platform::BusMessage& received) {
            if (received.name == tools::kSettingsChangedMessage) dialog.refreshMode();
        });
    // Ended from outside: central mode is left without a word, and every window closes (a
    // password prompt open over the dialog included).
    const auto watch = tools::SessionEndWatch::start(
        &dialog, ombrix::platform::currentSessionId(), [&controller](const char* why) {
            std::fprintf(stderr, "oxtmode: ending on %s\n", why);
            controller.endQuietly();
            QCoreApplication::exit(0);
        });
    if (!watch) std::fprintf(stderr, "oxtmode: cannot watch for the session's end\n");

    dialog.exec();
    controller.endQuietly();  // the dialog went by another way than its own buttons
    exitController = nullptr;
    return 0;
}
