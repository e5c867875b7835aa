#include "cmd/prompt.h"

#include "platform/ascii.h"
#include "platform/ui/user_interface.h"

namespace ombrix::cmd {

std::string optionHelp() {
    return "/I <ombrix>  -  insert an ombrix: an image file or a description\n"
           "/E <drive>  -  eject the ombrix from a drive, or /E <ombrix> from its drive\n"
           "/X <program>  -  program to run, after an insert or alone\n"
           "/W <folder>  -  working directory of the program";
}

void runPrompt(Runner& runner) {
    ui::TextPrompt prompt{kPromptTitle, "&Enter argument(s)", optionHelp(), "", "&Run", "&Cancel"};
    for (;;) {
        auto typed = ui::userInterface().askText(prompt);
        if (!typed) return;
        std::string line(ascii::trim(*typed));
        if (line.empty()) return;
        prompt.text = runner.runLine(line) ? std::string() : line;
    }
}

}  // namespace ombrix::cmd
