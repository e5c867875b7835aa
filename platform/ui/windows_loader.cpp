#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/module_folder.h"
#include "platform/ui/user_interface.h"

namespace ombrix::ui {
namespace {

// The folder of the executable or library this code was linked into.
std::string folderOfThisCode() {
    return platform::moduleFolderOf(reinterpret_cast<const void*>(&folderOfThisCode));
}

// Loads the window module once: beside this code, in the installation's system folder, then
// wherever the loader finds it. Null when it cannot be loaded (said once on the error output).
// The module stays loaded for the life of the process.
std::unique_ptr<UserInterface> loadWindows() {
    std::vector<std::string> candidates;
    if (std::string here = folderOfThisCode(); !here.empty())
        candidates.push_back(here + "/" + kWindowModule);
    if (const char* system = std::getenv("OMBRIX_SYSTEM_DIR"); system != nullptr && *system)
        candidates.push_back(std::string(system) + "/" + kWindowModule);
    candidates.push_back(kWindowModule);
    for (const std::string& candidate : candidates) {
        void* module = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module == nullptr) continue;
        using Make = UserInterface* (*)();
        auto make = reinterpret_cast<Make>(::dlsym(module, kWindowModuleEntry));
        if (make != nullptr) return std::unique_ptr<UserInterface>(make());
    }
    const char* why = ::dlerror();
    std::fprintf(stderr, "cannot load the window module %s: %s\n", kWindowModule,
                 why != nullptr ? why : "not found");
    return nullptr;
}

class LazyWindows : public UserInterface {
  public:
    Answer messageBox(const std::string& caption, const std::string& text, Icon icon,
                      Buttons buttons, const BoxOptions& options) override {
        if (UserInterface* w = windows())
            return w->messageBox(caption, text, icon, buttons, options);
        // No screen to show it on: the text goes to the error output instead.
        std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
        return Answer::Cancel;
    }
    std::optional<std::string> askPassword(const PasswordPrompt& prompt) override {
        UserInterface* w = windows();
        return w != nullptr ? w->askPassword(prompt) : std::nullopt;
    }
    std::optional<std::string> askText(const TextPrompt& prompt) override {
        UserInterface* w = windows();
        return w != nullptr ? w->askText(prompt) : std::nullopt;
    }

  private:
    UserInterface* windows() {
        if (!haveDisplay()) return nullptr;
        std::call_once(loaded_, [this] { windows_ = loadWindows(); });
        return windows_.get();
    }

    std::once_flag loaded_;
    std::unique_ptr<UserInterface> windows_;
};

}  // namespace

std::unique_ptr<UserInterface> makeWindows() {
    return std::make_unique<LazyWindows>();
}

}  // namespace ombrix::ui
