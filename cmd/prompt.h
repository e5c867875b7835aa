#pragma once

#include <string>

#include "cmd/runner.h"

namespace ombrix::cmd {

inline constexpr const char* kPromptTitle = "Ombrix TS v5 - Command Line Program";

// The option help shown in the prompt dialog, one line per option.
std::string optionHelp();

// Asks for command lines until the user cancels or enters an empty line. After a line that
// failed the dialog opens with that line again, after one that succeeded it opens empty.
void runPrompt(Runner& runner);

}  // namespace ombrix::cmd
