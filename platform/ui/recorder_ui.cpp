// Boxes and dialogs that are not shown: each appends "caption<TAB>icon<TAB>text" to the record
// file (line breaks written as \n) and takes the next line of the answers file as its answer
// ("ok", "cancel", "yes", "no", "password:<text>", "text:<text>"); with none left it is cancelled.
// A text prompt is recorded as "title<TAB>text<TAB>what the field held"; "ok" accepts that text.
#include <fcntl.h>
#include <unistd.h>

#include <string>

#include "platform/locked_file.h"
#include "platform/ui/user_interface.h"
#include "platform/unique_fd.h"

namespace ombrix::ui {
namespace {

std::string oneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += "\\n";
        } else if (c != '\r') {
            out += c;
        }
    }
    return out;
}

class Recorder : public UserInterface {
  public:
    Recorder(std::string recordFile, std::string answersFile)
        : recordFile_(std::move(recordFile)), answersFile_(std::move(answersFile)) {}

    Answer messageBox(const std::string& caption, const std::string& text, Icon icon, Buttons,
                      const BoxOptions&) override {
        record(caption, iconName(icon), text);
        std::string answer = nextAnswer();
        if (answer == "ok") return Answer::Ok;
        if (answer == "yes") return Answer::Yes;
        if (answer == "no") return Answer::No;
        return Answer::Cancel;
    }

    std::optional<std::string> askPassword(const PasswordPrompt& prompt) override {
        record(prompt.title, "password", prompt.item);
        std::string answer = nextAnswer();
        for (const char* prefix : {"password:", "text:"}) {
            std::string p(prefix);
            if (answer.compare(0, p.size(), p) == 0) {
                return answer.substr(p.size(), static_cast<size_t>(prompt.maxLength));
            }
        }
        return std::nullopt;
    }

    std::optional<std::string> askText(const TextPrompt& prompt) override {
        record(prompt.title, "text", prompt.text);
        std::string answer = nextAnswer();
        const std::string typed = "text:";
        if (answer.compare(0, typed.size(), typed) == 0) return answer.substr(typed.size());
        if (answer == "ok") return prompt.text;
        return std::nullopt;
    }

  private:
    void record(const std::string& caption, const char* icon, const std::string& text) {
        std::string line = oneLine(caption) + '\t' + icon + '\t' + oneLine(text) + '\n';
        platform::UniqueFd fd(
            ::open(recordFile_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
        if (fd.valid()) (void)!::write(fd.get(), line.data(), line.size());
    }

    // Takes the first line of the answers file away, so that the answers hold across the
    // processes of one scripted run.
    std::string nextAnswer() {
        if (answersFile_.empty()) return "cancel";
        platform::LockedFile file;
        for (int attempt = 0; attempt < 100; ++attempt) {
            int err = file.open(answersFile_, platform::FileAccess::Update);
            if (err != 32) break;
            ::usleep(10 * 1000);
        }
        std::string text;
        if (!file.isOpen() || file.readAll(text) != 0 || text.empty()) return "cancel";
        size_t end = text.find('\n');
        std::string answer = text.substr(0, end);
        std::string rest = end == std::string::npos ? "" : text.substr(end + 1);
        file.writeAt(rest.data(), rest.size(), 0);
        file.truncate(static_cast<off_t>(rest.size()));
        if (!answer.empty() && answer.back() == '\r') answer.pop_back();
        return answer;
    }

    std::string recordFile_;
    std::string answersFile_;
};

}  // namespace

std::unique_ptr<UserInterface> makeRecorder(const std::string& recordFile,
                                            const std::string& answersFile) {
    return std::make_unique<Recorder>(recordFile, answersFile);
}

}  // namespace ombrix::ui
