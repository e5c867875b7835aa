// Runs arbitrary bytes as a command line of the command-line program: tokens, mode flags and
// the walk over the arguments, against a client that holds a two-entry catalogue and answers
// every drive call. Checks that unquoted tokens never carry blanks and that a line joined from
// quote-free arguments splits into them again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cmd/client.h"
#include "cmd/command_line.h"
#include "cmd/messages.h"
#include "cmd/runner.h"
#include "platform/ascii.h"
#include "platform/ui/user_interface.h"

namespace {

using namespace ombrix::cmd;

class Silent : public ombrix::ui::UserInterface {
  public:
    ombrix::ui::Answer messageBox(const std::string&, const std::string&, ombrix::ui::Icon,
                                  ombrix::ui::Buttons, const ombrix::ui::BoxOptions&) override {
        return ombrix::ui::Answer::Ok;
    }
    std::optional<std::string> askPassword(const ombrix::ui::PasswordPrompt&) override {
        return std::nullopt;
    }
    std::optional<std::string> askText(const ombrix::ui::TextPrompt&) override {
        return std::nullopt;
    }
};

class AnsweringClient : public Client {
  public:
    bool playerRunning() override { return true; }
    std::string driveLetters() override { return "EFG"; }
    std::string setting(const std::string&) override { return "1"; }
    std::string sessionValue(const std::string&) override { return ""; }
    int indexHi() override { return 1; }
    int indexHiNet() override { return 5001; }
    bool imageInfo(int index, OmxImageInfo& info) override {
        if (index != 1 && index != 5001) return false;
        info = OmxImageInfo{};
        ombrix::ascii::copyToBuffer(index == 1 ? "/nonexistent/a.om4" : "/nonexistent/b.om4",
                                    info.path, sizeof info.path);
        ombrix::ascii::copyToBuffer("disc", info.description, sizeof info.description);
        ombrix::ascii::copyToBuffer("%OMXDrive%/setup", info.program, sizeof info.program);
        info.driveLetter = index == 1 ? 'F' : 'Z';
        return true;
    }
    int indexFromImageFile(const std::string&, int) override { return -1; }
    int addImage(OmxImageInfo&, int) override { return 5002; }
    int header(const std::string&, OmxImageHeader& header) override {
        header = OmxImageHeader{};
        return 0;
    }
    std::string imageFolder(bool) override { return "/tmp/"; }
    bool askPassword(const std::string&, std::string&) override { return true; }
    int insert(char, const std::string&, const std::string&) override { return 0; }
    int insertIndex(char, int) override { return 0; }
    int eject(char) override { return 0; }
    char mountDrive(const std::string&) override { return 'F'; }
    std::string mountedFile(char drive) override { return drive == 'E' ? "/x.om4" : ""; }
    int driveIndex(char) override { return 1; }
    void reportInsertError(int) override {}
    long execute(const std::string&, const std::string&) override { return 2; }
    std::string replaceDriveVar(const std::string& text, char) override { return text; }
    void pause(int) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool installed = [] {
        ombrix::ui::setUserInterface(std::make_unique<Silent>());
        return true;
    }();
    (void)installed;
    std::string line(reinterpret_cast<const char*>(data), size);

    std::vector<std::string> plain;
    for (const Token& token : tokenize(line)) {
        if (!token.quoted && token.text.find_first_of(" \t\r\n") != std::string::npos &&
            token.text.front() != '"') {
            std::abort();
        }
        if (!token.text.empty() && token.text.find('"') == std::string::npos &&
            token.text.find_first_of("\r\n") == std::string::npos) {
            plain.push_back(token.text);
        }
    }
    std::vector<Token> again = tokenize(joinArguments(plain));
    if (again.size() != plain.size()) std::abort();
    for (size_t i = 0; i < plain.size(); ++i) {
        if (again[i].text != plain[i]) std::abort();
    }

    AnsweringClient client;
    Messages messages;
    Runner runner(client, messages);
    if (!runner.start()) std::abort();
    runner.runLine(line);
    return 0;
}
