// OXTSet: the settings program. Edits the user's preferences and the management program's view
// options, or, for one run after an administrator asked for it, the global defaults file.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/install_folder.h"
#include "common/language_resources.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/shell_execute.h"
#include "platform/ui/front_requests.h"
#include "platform/ui/user_interface.h"
#include "tools/settings/language_list.h"
#include "tools/settings/omx_settings.h"
#include "tools/settings/settings_program.h"
#include "tools/ui/settings_sheet.h"

namespace {

namespace tools = ombrix::tools;
namespace ui = ombrix::ui;

void printUsage() {
    std::puts(
        "usage: OXTSet [PAGE]\n"
        "The settings program: language, icon style, tool tips, the tray icon and its hot key,\n"
        "how the catalogue is listed, and the management program's view options and columns.\n"
        "PAGE is the number of the page to open first (0 Global Settings, 1 CD Management).\n"
        "After an administrator set the session value OmxGlobalSettings to 1, one run edits the\n"
        "global defaults file oxtenv.dat instead of the user's own values.");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }

    // The flag of global mode is taken first, whatever this run does: it is meant for this
    // run only and must not stay behind for the next program of the session. The objects see
    // it as it stood.
    tools::COmxSettings general;
    tools::COmxMNGSettings view;
    const bool global = tools::takeGlobalFlag(tools::systemSettingsStorage());

    // One settings program per session: a later start brings the running one forward.
    ombrix::platform::NamedMutex running("OMBRIXTS5_SETTINGS");
    if (!ui::firstInSession(running, 2000, tools::kSettingsToFrontMessage)) return 0;

    QApplication app(argc, argv);
    ombrix::strings::LanguageResources language("oxtset", 1);
    const auto text = [&language](int id) {
        return language.text(id).value_or(tools::settingsBuiltInText(id));
    };
    const std::string caption = tools::settingsBuiltInText(tools::settext::kTitle);
    if (OMXCheckOMXPlay() == 0) {
        ui::userInterface().messageBox(caption, text(tools::settext::kNoPlayer), ui::Icon::Error,
                                       ui::Buttons::Ok, {});
        return 1;
    }

    tools::SettingsSheet::Setup setup;
    setup.title = QString::fromStdString(
        text(global ? tools::settext::kTitleGlobal : tools::settext::kTitle));
    const std::string home = ombrix::client::installFolder();
    setup.managementPage = !ombrix::client::installedProgram("OXTmng.exe").empty();
    std::vector<char> disabled(16);
    setup.cdDatabaseShown =
        !(EnvGetSetting("OmxDisabledFeatures", disabled.data(), 16) == 1 && disabled[0] == '1');
    setup.firstPage = tools::firstPageFromArguments(std::vector<std::string>(argv + 1, argv + argc),
                                                    setup.managementPage ? 2 : 1);
    setup.languages = tools::installedLanguages(general.homePath.empty() ? home : general.homePath);
    setup.text = text;
    setup.notice = [&](tools::ChangeNotice notice) {
        switch (notice) {
            case tools::ChangeNotice::LanguageRestart:
            case tools::ChangeNotice::ManagerRestart:
                ui::userInterface().messageBox(caption,
                                               text(notice == tools::ChangeNotice::LanguageRestart
                                                        ? tools::settext::kLanguageRestart
                                                        : tools::settext::kManagerRestart),
                                               ui::Icon::Information, ui::Buttons::Ok, {});
                return true;
            case tools::ChangeNotice::OneCategoryQuestion:
                return ui::userInterface().messageBox(
                           caption, text(tools::settext::kOneCategoryQuestion), ui::Icon::Question,
                           ui::Buttons::YesNo, {}) == ui::Answer::Yes;
            case tools::ChangeNotice::HotKeyRefused:
                ui::userInterface().messageBox(caption, text(tools::settext::kHotKeyRefused),
                                               ui::Icon::Warning, ui::Buttons::Ok, {});
                return false;
            case tools::ChangeNotice::None: break;
        }
        return true;
    };

    tools::SettingsSheet sheet(general, view, setup);
    const auto front = ui::FrontRequests::listen(&sheet, tools::kSettingsToFrontMessage);
    if (sheet.exec() != QDialog::Accepted) return 0;

    tools::SettingsNotices notices;
    notices.reReadEnvFile = [] { OMXTSReReadEnvFile(); };
    notices.post = [](int lParam) {
        ombrix::platform::postToSession(
            {tools::kSettingsChangedMessage, 0, static_cast<int64_t>(lParam)});
    };
    const tools::SettingsOutcome outcome = tools::finishSettings(general, view, notices);
    if (outcome.error != 0) {
        ui::userInterface().messageBox(
            caption,
            "The settings could not be saved (error " + std::to_string(outcome.error) + ").",
            ui::Icon::Warning, ui::Buttons::Ok, {});
        return 1;
    }
    std::fprintf(stderr, "OXTSet: settings saved%s\n", global ? " to the global defaults" : "");
    return 0;
}
