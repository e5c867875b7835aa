// oxtextse: what the file managers ask about the system's images and drives. The plug-ins and
// menu entries of the file managers call it; it answers with the menus and does their commands,
// draws the disc-type icons and shows an image's properties.
#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QWidget>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/language_resources.h"
#include "shellext/shell_menus.h"
#include "shellext/ui/shell_windows.h"

namespace {

namespace shell = ombrix::shellext;

const char* kUsage =
    "usage: oxtextse type FILE                 the file's type and icon, when it is an image\n"
    "       oxtextse menu FILE                 the image's menu, one line per item:\n"
    "                                          DEPTH TAB COMMAND TAB FLAGS TAB TEXT\n"
    "       oxtextse invoke FILE COMMAND       does a command of that menu\n"
    "       oxtextse popup FILE                shows the menu at the mouse\n"
    "       oxtextse properties FILE           the image's properties\n"
    "       oxtextse drive-menu FOLDER         the Insert menu of a drive folder of the session\n"
    "       oxtextse drive-invoke FOLDER COMMAND\n"
    "       oxtextse drive-popup FOLDER\n"
    "       oxtextse thumbnail FILE OUT.png SIZE   the icon of the file's disc type\n"
    "       oxtextse icon INDEX OUT.png SIZE       one of the disc-type icons (0-33)\n"
    "FLAGS: s sub-menu, c checked, d disabled, - separator. Exits 1 for a file that is no image\n"
    "of this system, a folder that is no drive of the session, or a failed command.\n";

int usage() {
    std::fputs(kUsage, stderr);
    return 2;
}

bool number(const char* text, int& out) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < -1000000 || value > 1000000) return false;
    out = static_cast<int>(value);
    return true;
}

// Icons are drawn offscreen: a thumbnailer runs without a screen of its own, or with one it
// cannot reach.
void needGui() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
}

int writeIcon(int index, const char* out, const char* sizeText, int argc, char** argv) {
    int size = 0;
    if (!number(sizeText, size) || size < 8 || size > 1024) return usage();
    needGui();
    QApplication app(argc, argv);
    if (!shell::discIcon(index, size).save(QString::fromLocal8Bit(out), "PNG")) {
        std::fprintf(stderr, "oxtextse: cannot write %s\n", out);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage();
    const std::string verb = argv[1];
    if (verb == "--help" || verb == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    ombrix::strings::LanguageResources language("oxtextse", 1);
    const auto text = [&language](int id) {
        return language.text(id).value_or(shell::builtInText(id));
    };

    if (verb == "icon" && argc == 5) {
        int index = 0;
        if (!number(argv[2], index) || index < 0 || index >= shell::kIconCount) return usage();
        return writeIcon(index, argv[3], argv[4], argc, argv);
    }
    if (verb == "thumbnail" && argc == 5)
        return writeIcon(shell::iconIndexOfFile(argv[2]), argv[3], argv[4], argc, argv);

    if (verb == "type" && argc == 3) {
        if (!shell::isSystemImage(argv[2])) return 1;
        std::printf("application/x-ombrix-image %s\n",
                    shell::iconName(shell::iconIndexOfFile(argv[2])).c_str());
        return 0;
    }

    const bool imageVerb =
        verb == "menu" || verb == "invoke" || verb == "popup" || verb == "properties";
    if (imageVerb) {
        const std::string path = argc >= 3 ? argv[2] : "";
        if (path.empty() || !shell::isSystemImage(path)) return 1;
        shell::ImagePorts ports = shell::systemImagePorts();
        ports.text = text;
        if (verb == "menu" && argc == 3) {
            std::fputs(shell::menuLines(shell::imageMenu(path, ports)).c_str(), stdout);
            return 0;
        }
        if (verb == "invoke" && argc == 4) {
            int command = 0;
            if (!number(argv[3], command)) return usage();
            return shell::invokeImageCommand(path, command, ports) ? 0 : 1;
        }
        if (argc != 3) return usage();
        QApplication app(argc, argv);
        if (verb == "popup") {
            const auto chosen = shell::popupMenu(shell::imageMenu(path, ports), QCursor::pos());
            if (!chosen) return 0;
            return shell::invokeImageCommand(path, *chosen, ports) ? 0 : 1;
        }
        const auto properties = shell::imageProperties(path, text);
        if (!properties) return 1;
        auto dialog = shell::makePropertyDialog(*properties, text);
        dialog->show();
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
        return app.exec();
    }

    if (verb == "drive-menu" || verb == "drive-invoke" || verb == "drive-popup") {
        if (argc < 3) return usage();
        shell::DrivePorts ports = shell::systemDrivePorts();
        ports.text = text;
        const auto letter = shell::virtualDriveOf(argv[2], ports);
        if (!letter) return 1;
        if (verb == "drive-menu" && argc == 3) {
            std::fputs(shell::menuLines(shell::driveMenu(*letter, ports)).c_str(), stdout);
            return 0;
        }
        if (verb == "drive-invoke" && argc == 4) {
            int index = 0;
            if (!number(argv[3], index)) return usage();
            return shell::invokeDriveCommand(*letter, index, ports) ? 0 : 1;
        }
        if (verb == "drive-popup" && argc == 3) {
            QApplication app(argc, argv);
            const auto chosen = shell::popupMenu(shell::driveMenu(*letter, ports), QCursor::pos());
            if (!chosen) return 0;
            return shell::invokeDriveCommand(*letter, *chosen, ports) ? 0 : 1;
        }
    }
    return usage();
}
