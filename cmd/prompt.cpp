#include "cmd/prompt.h"

#include "platform/ascii.h"
#include "platform/ui/user_interface.h"

namespace ombrix::cmd {

std::string optionHelp() {
    return "/I <ombrix>\tinsert an ombrix: an image file or a description\n"
           "/E <drive>\teject the ombrix from a drive, or /E <ombrix> from its drive\n"
           "/X <program>\tprogram to run, after an insert or alone\n"
           "/W <folder>\tworking directory of the program";
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
