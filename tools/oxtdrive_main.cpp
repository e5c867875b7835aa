// OXTDrive: the drive editor. Chooses the drive letters of the session's virtual drives, or of
// every session's.
#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/language_resources.h"
#include "common/oxtcomm_drives.h"
#include "outside/help/oxthelp.h"
#include "platform/named_mutex.h"
#include "platform/session_id.h"
#include "platform/ui/user_interface.h"
#include "tools/drive_editor.h"
#include "tools/ui/drive_editor_dialog.h"

namespace {

namespace tools = ombrix::tools;
namespace ui = ombrix::ui;

constexpr const char* kCaption = "Ombrix TS Drive Editor";

void printUsage() {
    std::puts(
        "usage: OXTDrive\n"
        "The drive editor: lists the letters A: to Z: with their state and lets you tick the\n"
        "letters the virtual drives of this session use, or of every session. Needs the right\n"
        "to change drive letters; one editor runs per session.");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }

    // While one editor is open in the session, a later start ends without a word.
    ombrix::platform::NamedMutex running("_OXT_DRIVES_MUTEX_");
    if (running.lock(0) == ombrix::platform::NamedMutex::WaitResult::TimedOut) return 0;

    QApplication app(argc, argv);
    ombrix::strings::LanguageResources language("oxtdrive", 1);
    const auto text = [&language](int id) {
        return language.text(id).value_or(tools::driveEditorText(id));
    };
    if (OMXCheckOMXPlay() == 0) {
        ui::userInterface().messageBox(kCaption, text(tools::drivetext::kNoHelper), ui::Icon::Error,
                                       ui::Buttons::Ok, {});
        return 1;
    }
    if (OMXTSHasRight(4) == 0) {
        ui::userInterface().messageBox(kCaption, "Access denied", ui::Icon::Error, ui::Buttons::Ok,
                                       {});
        return 1;
    }

    tools::DriveEditorDialog::Setup setup;
    setup.ports = tools::systemDriveLetterPorts();
    setup.probes = tools::systemDriveProbes(ombrix::platform::currentSessionId());
    setup.text = text;
    setup.tell = [](const std::string& message) {
        ui::userInterface().messageBox(kCaption, message, ui::Icon::Error, ui::Buttons::Ok, {});
    };
    tools::DriveEditorDialog dialog(setup);
    dialog.exec();
    return 0;
}
