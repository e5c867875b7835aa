// oxtcmd: inserts an image into one of the session's virtual drives, ejects one, or starts a
// program, as its command line says; without a command line it asks for one. All output is
// message boxes.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cmd/command_line.h"
#include "cmd/library_client.h"
#include "cmd/messages.h"
#include "cmd/prompt.h"
#include "cmd/runner.h"
#include "common/language_resources.h"
#include "platform/ascii.h"

namespace {

const char* kUsage =
    "usage: oxtcmd [/Q|/N|/V] [/T n] [/I image] [drive] [/E drive|image] [/P password]\n"
    "              [/W folder] [/X program] [/D code] [image|description] [file.cmd]\n"
    "\n"
    "Inserts an image (an image file, or the description of a catalogue entry) into one of\n"
    "the session's virtual drives, ejects one, or starts a program. Several commands may stand\n"
    "on one line; a .cmd file holds one command line per line. Without arguments a dialog asks\n"
    "for command lines. Options begin with / or -, in any case:\n"
    "  /Q /N /V     quiet (no boxes), normal (errors only, the default), verbose (all boxes)\n"
    "  /T n         attempts to start a program (default 1)\n"
    "  /I image     insert the image     /E drive|image  eject the drive, or the image\n"
    "  /P password  the image's password /W folder       working directory of the program\n"
    "  /X program   program to run       /D code         catalogue code (D52F60 .. D52F6B)\n"
    "Exits with 1 when a command failed, else 0.\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace ombrix::cmd;
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    ombrix::strings::LanguageResources* language = nullptr;
    Messages messages([&language](int id) -> std::optional<std::string> {
        if (language == nullptr) return std::nullopt;
        return language->text(id);
    });
    ombrix::strings::LanguageResources resources(
        "OXTCMD", 1, [&messages] { messages.show(kWrongLanguageVersion); });
    // Loads the language now, so that a wrong version is told at start (in the built-in text:
    // the language is taken into use only afterwards).
    (void)resources.helpFile();
    language = &resources;

    LibraryClient client;
    Runner runner(client, messages);
    if (!runner.start()) return 1;

    std::string line(
        ombrix::ascii::trim(joinArguments(std::vector<std::string>(argv + 1, argv + argc))));
    if (line.empty()) {
        runPrompt(runner);
    } else {
        runner.runLine(line);
    }
    return runner.anyFailed() ? 1 : 0;
}
