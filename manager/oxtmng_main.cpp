// OXTmng: the session's CD management window.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/language_resources.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_drives.h"
#include "manager/access_state.h"
#include "manager/command_ids.h"
#include "manager/image_columns.h"
#include "manager/mng_document.h"
#include "manager/mng_sources.h"
#include "manager/start_options.h"
#include "manager/ui/mng_about_dialog.h"
#include "manager/ui/mng_controller.h"
#include "manager/ui/qt_operation_dialogs.h"
#include "outside/help/oxthelp.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/shell_execute.h"
#include "platform/ui/front_requests.h"
#include "platform/ui/user_interface.h"
#include "tools/settings/omx_settings.h"

namespace {

using namespace ombrix::mng;
using namespace ombrix::mng::command;

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

// Adds an image file to the session's own catalogue: its index, or 0 or less when it was not.
int addImage(const std::string& path) {
    // The client library takes the description from the image's header.
    OmxImageInfo info{};
    std::snprintf(info.path, sizeof info.path, "%s", path.c_str());
    info.driveLetter = '0';
    const int index = OMXAddImage(&info, OMX_RANGE_LOCAL);
    if (index <= 0) {
        const std::string why = index == 0 ? " is in the catalogue already."
                                           : " could not be added to the catalogue: it is no "
                                             "image, or the catalogue cannot be changed.";
        ombrix::ui::userInterface().messageBox(
            "Ombrix TS v5 - CD Management", "The image " + path + why,
            index == 0 ? ombrix::ui::Icon::Information : ombrix::ui::Icon::Warning,
            ombrix::ui::Buttons::Ok, {});
    }
    return index;
}

// The programs of the installation some commands start.
const char* outsideProgram(int command) {
    switch (command) {
        case kSettings: return "OXTSet.exe";
        case kChangeDrives: return "OXTDrive.exe";
        case kNetworkMode: return "OXTMode.exe";
        case kAdministration: return "OXTAdm.exe";
        default: return nullptr;
    }
}

void startOutsideProgram(const char* program) {
    const std::string file = ombrix::platform::findProgramFile(systemFolder(), program).string();
    if (file.empty() || ombrix::platform::shellOpen(file, "", "") <= 32) {
        ombrix::ui::userInterface().messageBox(
            "Ombrix TS v5 - CD Management",
            std::string("Cannot start ") + program + ". Please check the installation.",
            ombrix::ui::Icon::Error, ombrix::ui::Buttons::Ok, {});
    }
}

// The window's place and choices, in the user's settings.
ombrix::mng::PositionStore positionStore() {
    static constexpr std::string_view kKey =
        "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\OXTMNG\\Position";
    ombrix::mng::PositionStore store;
    store.get = [](std::string_view name) -> std::optional<std::string> {
        std::string value;
        if (ombrix::registry::getString(kKey, name, value) != 0) return std::nullopt;
        return value;
    };
    store.set = [](std::string_view name, const std::string& value) {
        ombrix::registry::setString(kKey, name, value);
    };
    return store;
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
    // A window of this session already open comes to the front instead, and adds the image the
    // command line names.
    ombrix::platform::NamedMutex running("OXTMngWindow");
    if (!ombrix::ui::firstInSession(running, 0, kBringToFront)) {
        if (!options.imageToAdd.empty()) return addImage(options.imageToAdd) > 0 ? 0 : 1;
        return 0;
    }

    // With no arguments, the settings may ask for the start program instead.
    const std::string settings = userSetting("OmxSettings");
    if (options.empty && settings.size() >= 2 && settings[1] == '1') {
        const std::string start = "\"" + systemFolder() + "/omxstart\"";
        if (OMXExecute(start.c_str(), "") > 32) return 0;
    }

    QApplication app(argc, argv);
    ProgramLog log;
    if (options.logLevel) log.open(programLogPath(), *options.logLevel);

    ombrix::strings::LanguageResources language("OXTMNG", 1, [] {
        ombrix::ui::userInterface().messageBox(
            "Ombrix TS v5 - CD Management",
            "The language file has the wrong version - using build in language. Please "
            "download the current language files.",
            ombrix::ui::Icon::Warning, ombrix::ui::Buttons::Ok, {});
    });
    (void)language.helpFile();  // a wrong version is told now, before the window

    QLabel wait("One moment please...\nInitializing Ombrix Management");
    wait.setObjectName("startingBox");
    wait.setWindowTitle("Ombrix TS v5");
    wait.setAlignment(Qt::AlignCenter);
    wait.setMargin(24);
    wait.show();
    QApplication::processEvents();

    MngController::Setup setup;
    setup.sources = systemSources(&log);
    setup.probes = systemProbes(&log);
    const auto readSettings = [](ViewOptions& view, std::vector<int>& columns) {
        const ombrix::tools::COmxMNGSettings settings;
        columns = shownColumns(settings.rowOrder);
        view = viewOptionsFrom(settings.optionsText());
    };
    readSettings(setup.view, setup.columns);
    setup.readSettings = readSettings;
    setup.log = &log;
    MngController* current = nullptr;
    setup.command = [&](int command) {
        if (command == kAbout) {
            MngAboutDialog(systemFolder(), OMBRIX_VERSION, &current->window()).exec();
        } else if (command == kHelp && !language.helpFile().empty()) {
            ombrix::platform::shellOpen(language.helpFile(), "", "");
        } else if (const char* program = outsideProgram(command)) {
            startOutsideProgram(program);
        } else if (command == kHelp) {
            ombrix::ui::userInterface().messageBox(
                "Ombrix TS v5 - CD Management", "No help is installed for this language.",
                ombrix::ui::Icon::Information, ombrix::ui::Buttons::Ok, {});
        }
    };
    setup.ports = systemPorts();
    setup.dialogs = [](QWidget* parent) -> std::unique_ptr<ombrix::mng::OperationDialogs> {
        return std::make_unique<ombrix::mng::QtOperationDialogs>(parent);
    };
    setup.setting = [](std::string_view key) { return userSetting(key); };
    setup.setSetting = [](std::string_view key, const std::string& value) {
        setUserSetting(key, value);
    };
    setup.desktopFolder = desktopFolder();
    setup.temporaryFolder = temporaryFolder();
    setup.reachable = [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; };
    setup.homePageFolder = homePageFolder();
    setup.treeWritten = [] { OMXTSReReadTreeFile(); };
    setup.modified = [](const std::string& path) -> int64_t {
        struct stat st {};
        return ::stat(path.c_str(), &st) == 0
                   ? st.st_mtim.tv_sec * 1000 + st.st_mtim.tv_nsec / 1000000
                   : 0;
    };
    MngController controller(std::move(setup));
    current = &controller;
    controller.listenOnBus();
    controller.startAvailability();
    if (!options.imageToAdd.empty() && addImage(options.imageToAdd) > 0) controller.refresh();
    controller.window().show();
    wait.close();
    // "/search" and "/Convert" open the search at once, "/Create" the image builder.
    if (options.open == StartOptions::Open::Search || options.open == StartOptions::Open::Convert) {
        QMetaObject::invokeMethod(
            &controller.window(),
            [&controller, &options] {
                const auto roots = controller.document().roots();
                controller.operations().find(roots.front(),
                                             options.open == StartOptions::Open::Convert);
            },
            Qt::QueuedConnection);
    } else if (options.open == StartOptions::Open::Create) {
        startOutsideProgram("OMXBuild.exe");
    }
    const ombrix::mng::PositionStore placement = positionStore();
    controller.window().restorePlacement(placement);
    QObject::connect(&app, &QApplication::aboutToQuit,
                     [&] { controller.window().savePlacement(placement); });
    starting.unlock();
    return app.exec();
}
