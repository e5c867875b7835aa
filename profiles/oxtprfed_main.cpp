// oxtprfed: the profile editor. Edits the pool's profile file "oxtprof.dat": the profiles, their
// rights, the images of their members' virtual drives and the users and groups they hold.
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/language_resources.h"
#include "common/listed_images.h"
#include "common/oxtcomm.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "platform/locked_file.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/ui/front_requests.h"
#include "platform/ui/user_interface.h"
#include "profiles/profile.h"
#include "profiles/profile_editing.h"
#include "profiles/ui/image_chooser.h"
#include "profiles/ui/profile_editor_window.h"

namespace {

using ombrix::prfed::kEditorTitle;
namespace ui = ombrix::ui;

constexpr const char* kNoNoticeKey = "OXTNoPrfEdMsg";
constexpr const char* kUserSettings = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\Settings";
constexpr int kFileAttempts = 6;  // 50 ms apart

void printUsage() {
    std::puts(
        "usage: oxtprfed\n"
        "The profile editor: the profiles of the server pool (oxtprof.dat in the folder the\n"
        "global value OMXSecurityPathNet names), their rights, the images of their members'\n"
        "virtual drives and the users and groups that belong to them. Needs the right to edit\n"
        "profiles; one editor runs per session.");
}

std::string globalValue(const char* key) {
    std::vector<char> buffer(4096);
    if (EnvGetGlobalValue(key, buffer.data(), static_cast<int>(buffer.size())) != 1) return {};
    return buffer.data();
}

// The session's value first, then the user's settings, then the machine's.
std::string setting(const char* key) {
    std::vector<char> buffer(4096);
    if (EnvGetSetting(key, buffer.data(), static_cast<int>(buffer.size())) != 1) return {};
    return buffer.data();
}

void tell(const std::string& text, ui::Icon icon) {
    ui::userInterface().messageBox(kEditorTitle, text, icon, ui::Buttons::Ok, {});
}

// What went wrong with the profile file, for a result of the file calls (-1: not a profile file).
std::string fileErrorText(int code, const std::string& path) {
    switch (code) {
        case 2: return "The file " + path + " does not exist.";
        case 3: return "The folder of " + path + " does not exist.";
        case 5: return "Access to " + path + " is denied.";
        case 32: return path + " is in use by another program.\nPlease try again in a moment.";
        case 112: return "There is not enough space on the disk to write " + path + ".";
        case 206: return "The path " + path + " is too long.";
        case -1:
        case 13:
        case 38: return path + " is not a valid profile file.";
        default: break;
    }
    return path + " cannot be read or written (error " + std::to_string(code) + ").";
}

// Reads the profile file; a missing file is an empty list. False when the error was shown.
bool loadProfiles(const std::string& path, CProfileList& list) {
    // Only a file that is not there makes an empty list; any other trouble is told by the open.
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
    ombrix::platform::LockedFile file;
    int err = file.openRetrying(path, ombrix::platform::FileAccess::Read, kFileAttempts, false);
    if (err == 0) err = list.Load(file);
    if (err != 0) {
        tell(fileErrorText(err, path), ui::Icon::Warning);
        return false;
    }
    return true;
}

// The images the chooser offers: every published catalogue entry, described by the catalogue
// or, without a description there, by its file name.
std::vector<ombrix::prfed::ImageEntry> catalogueImages() {
    std::vector<ombrix::prfed::ImageEntry> images;
    for (const ombrix::client::ListedImage& listed : ombrix::client::publishedImages()) {
        images.push_back({listed.description.empty() ? ombrix::prfed::fileTitle(listed.path)
                                                     : listed.description,
                          listed.path});
    }
    return images;
}

// Saves the list and has the profiles read again; the notice about the next log-on follows
// unless the user turned it off. False (the editor stays open) when the file could not be written.
bool saveProfiles(const CProfileList& list, const std::string& path, QWidget* over) {
    if (int err = ombrix::profiles::saveProfileFile(list, path, kFileAttempts)) {
        tell(fileErrorText(err, path), ui::Icon::Warning);
        return false;
    }
    OMXTSReReadSecurityFile();
    if (setting(kNoNoticeKey) != "1") {
        auto notice = ombrix::prfed::ProfileEditorWindow::makeNoticeDialog(over);
        notice->exec();
        if (ombrix::prfed::ProfileEditorWindow::noticeDismissedForGood(*notice)) {
            ombrix::registry::setString(kUserSettings, kNoNoticeKey, "1");
            EnvSetUserValue(kNoNoticeKey, "1");
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }

    // A start while another is still starting ends at once, without a word.
    ombrix::platform::NamedMutex starting("_OXT_PROFILE_MUTEX_");
    if (starting.lock(0) == ombrix::platform::NamedMutex::WaitResult::TimedOut) return 0;

    QApplication app(argc, argv);
    ombrix::strings::LanguageResources language("oxtprfed", 5, [] {
        tell(
            "The language file has the wrong version - using build in language.\n"
            "Please download the current language files.",
            ui::Icon::Information);
    });
    (void)language.helpFile();  // a wrong version is told now, before anything else

    // An editor already open in this session comes to the front instead.
    ombrix::platform::NamedMutex running("OXTPrfEdWindow");
    if (!ui::firstInSession(running, 0, ombrix::prfed::kBringToFront)) return 0;

    if (OMXTSHasRight(8) == 0) {
        tell("Access denied", ui::Icon::Error);
        return 1;
    }

    const std::string folder = globalValue("OMXSecurityPathNet");
    if (folder.empty()) {
        tell("The folder of the profile file is not configured (OMXSecurityPathNet).",
             ui::Icon::Warning);
        return 1;
    }
    const std::string path = folder + std::string(CProfileList::kFileName);
    CProfileList profiles;
    if (!loadProfiles(path, profiles)) return 1;

    QWidget* shown = nullptr;
    ombrix::prfed::EditorSetup setup;
    setup.services.accounts = [] { return ombrix::profiles::machineAccounts(); };
    setup.services.images = [] { return catalogueImages(); };
    setup.save = [&shown, path](const CProfileList& list) {
        return saveProfiles(list, path, shown);
    };
    ombrix::prfed::ProfileEditorWindow window(std::move(profiles), std::move(setup));
    shown = &window;
    window.listenOnBus();
    QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);
    window.show();
    starting.unlock();
    return app.exec();
}
