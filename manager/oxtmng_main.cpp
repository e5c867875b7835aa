// OXTmng: the session's CD management window.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "manager/access_state.h"
#include "manager/command_ids.h"
#include "manager/image_columns.h"
#include "manager/mng_document.h"
#include "manager/mng_sources.h"
#include "manager/start_options.h"
#include "manager/ui/mng_main_window.h"
#include "outside/env/oxtenv.h"
#include "platform/named_mutex.h"
#include "platform/ui/user_interface.h"

namespace {

using namespace ombrix::mng;

void printUsage() {
    std::puts(
        "usage: OXTmng [IMAGE.om4] [/search | /Convert | /Create] [/log | /logmin | /logmax]\n"
        "The CD management window of the session: the session's drives, the image folders\n"
        "and the images in them.\n"
        "  IMAGE.om4  an image file to add to the catalogue\n"
        "  /search    opens the search for image files; /Convert the same for conversion\n"
        "  /Create    starts the image builder\n"
        "  /log, /logmin, /logmax  write OMXMNG.log in the user's state folder\n"
        "             ($XDG_STATE_HOME/ombrix or ~/.local/state/ombrix) at level 1, 0 or 2");
}

std::string userSetting(const char* key) {
    char value[256] = "";
    return EnvGetSetting(key, value, sizeof value) ? std::string(value) : std::string();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }
    const StartOptions options = parseStartOptions(std::vector<std::string>(argv + 1, argv + argc));

    // A start while another is still starting ends at once.
    ombrix::platform::NamedMutex starting("OXTMng");
    if (starting.lock(0) == ombrix::platform::NamedMutex::WaitResult::TimedOut) return 0;

    QApplication app(argc, argv);
    ProgramLog log;
    if (options.logLevel) log.open(programLogPath(), *options.logLevel);

    const AccessProbes probes = systemProbes(&log);
    AccessState access = evaluateAccess(probes);
    std::vector<int> disabled = disabledCommands(access, probes);

    MngDocument document;
    const DocumentSources sources = systemSources(&log);
    ViewOptions view;
    document.load(sources, view);

    MngMainWindow* window = nullptr;
    MngMainWindow::Handlers handlers;
    handlers.refresh = [&] {
        access = evaluateAccess(probes);
        document.load(sources, view);
        window->setDisabledCommands(disabledCommands(access, probes));
        window->showDocument();
    };
    handlers.command = [](int) {
        ombrix::ui::userInterface().messageBox(
            "Ombrix TS v5 - CD Management", "This command is not available yet.",
            ombrix::ui::Icon::Information, ombrix::ui::Buttons::Ok, {});
    };
    MngMainWindow main(document, disabled, shownColumns(userSetting("OmxMngROWOrder")), handlers);
    window = &main;
    main.show();
    starting.unlock();
    return app.exec();
}
