#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/user_interface.h"

namespace ombrix::test {

// Message boxes in window tests: each box's text and icon are written down, and it is answered
// from `answers` in order, then with `fallback`. Password and text prompts are cancelled.
class BoxLog : public ui::UserInterface {
  public:
    explicit BoxLog(ui::Answer fallbackAnswer = ui::Answer::Ok) : fallback(fallbackAnswer) {}

    ui::Answer messageBox(const std::string&, const std::string& text, ui::Icon icon, ui::Buttons,
                          const ui::BoxOptions&) override {
        texts.push_back(text);
        icons.push_back(icon);
        if (answers.empty()) return fallback;
        const ui::Answer answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::optional<std::string> askPassword(const ui::PasswordPrompt&) override {
        return std::nullopt;
    }
    std::optional<std::string> askText(const ui::TextPrompt&) override { return std::nullopt; }

    std::vector<std::string> texts;
    std::vector<ui::Icon> icons;
    std::vector<ui::Answer> answers;
    ui::Answer fallback;
};

}  // namespace ombrix::test
