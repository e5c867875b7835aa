#include "common/password_prompt.h"

#include "common/md5_digest.h"
#include "common/string_table.h"
#include "platform/ui/user_interface.h"

namespace ombrix {

std::optional<std::string> askForPassword(const std::string& item,
                                          const std::string& expectedDigest, bool centred) {
    ui::PasswordPrompt prompt;
    prompt.title = strings::textOr(strings::kTitle);
    prompt.item = item;
    prompt.maxLength = 15;
    prompt.topMost = true;
    prompt.centred = centred;
    while (true) {
        auto typed = ui::userInterface().askPassword(prompt);
        if (!typed) return std::nullopt;
        auto digest = md5Hex(*typed);
        if (digest && *digest == expectedDigest) return typed;
        ui::userInterface().messageBox(
            strings::textOr(strings::kPasswordCaption),
            strings::formatText(strings::textOr(strings::kInvalidPassword), item),
            ui::Icon::Warning, ui::Buttons::Ok, {});
    }
}

}  // namespace ombrix
