#include "platform/ui/user_interface.h"

#include <cstdlib>
#include <mutex>

namespace ombrix::ui {
namespace {

std::mutex guard;
std::unique_ptr<UserInterface> current;
std::string currentRecordFile;
bool replaced = false;

}  // namespace

const char* iconName(Icon icon) {
    switch (icon) {
        case Icon::Information: return "information";
        case Icon::Warning: return "warning";
        case Icon::Error: return "error";
        case Icon::Question: return "question";
        case Icon::None: break;
    }
    return "none";
}

UserInterface& userInterface() {
    std::lock_guard<std::mutex> lock(guard);
    if (!replaced) {
        const char* record = std::getenv("OMBRIX_UI_RECORD");
        std::string wanted = record != nullptr ? record : "";
        if (!current || wanted != currentRecordFile) {
            const char* answers = std::getenv("OMBRIX_UI_ANSWERS");
            current = wanted.empty() ? makeWindows()
                                     : makeRecorder(wanted, answers != nullptr ? answers : "");
            currentRecordFile = wanted;
        }
    }
    return *current;
}

void setUserInterface(std::unique_ptr<UserInterface> replacement) {
    std::lock_guard<std::mutex> lock(guard);
    replaced = replacement != nullptr;
    current = std::move(replacement);
    currentRecordFile.clear();
}

}  // namespace ombrix::ui
