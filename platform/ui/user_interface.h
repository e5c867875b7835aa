#pragma once

#include <cstdlib>

#include <memory>
#include <optional>
#include <string>

// Message boxes and the few dialogs of the libraries go through this one interface, so that
// tests and headless runs can replace the windows with a recorder that answers from a script.
namespace ombrix::ui {

enum class Icon { None, Information, Warning, Error, Question };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
enum class Answer { Ok, Cancel, Yes, No };

struct BoxOptions {
    bool topMost = false;
};

struct PasswordPrompt {
    std::string title;  // window title
    std::string item;   // what the password is for, shown above the field
    int maxLength = 15;
    bool topMost = true;
    bool centred = true;  // on the desktop
};

// A one-line text field with a label, help lines and two buttons; the text as typed is the result.
struct TextPrompt {
    std::string title;  // window title
    std::string label;  // label of the field ("&" marks the mnemonic)
    std::string help;   // lines shown below the field
    std::string text;   // what the field holds when the dialog opens
    std::string acceptButton = "&OK";
    std::string rejectButton = "&Cancel";
};

class UserInterface {
  public:
    virtual ~UserInterface() = default;
    virtual Answer messageBox(const std::string& caption, const std::string& text, Icon icon,
                              Buttons buttons, const BoxOptions& options) = 0;
    // The typed password, or nothing when the user cancels.
    virtual std::optional<std::string> askPassword(const PasswordPrompt& prompt) = 0;
    // The text the user accepted, or nothing when the user cancels.
    virtual std::optional<std::string> askText(const TextPrompt& prompt) = 0;
};

// The interface in use: the recorder when $OMBRIX_UI_RECORD names a file, else windows.
UserInterface& userInterface();
// Replaces it (tests); null goes back to the choice above.
void setUserInterface(std::unique_ptr<UserInterface> replacement);

std::unique_ptr<UserInterface> makeRecorder(const std::string& recordFile,
                                            const std::string& answersFile);
// Windows from the window module, loaded the first time one is shown: a program that shows none
// never loads the window toolkit. Without a screen, or without the module, boxes go to the error
// output and prompts are cancelled.
std::unique_ptr<UserInterface> makeWindows();
// The windows themselves (the window module; tests link them in).
std::unique_ptr<UserInterface> makeQtWindows();

// Whether the process has a screen to show windows on.
inline bool haveDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

// The window module's file name and the function it exports to make its windows.
constexpr const char* kWindowModule = "libombrix_qt_ui.so";
constexpr const char* kWindowModuleEntry = "ombrix_ui_make_windows";

const char* iconName(Icon icon);

}  // namespace ombrix::ui
