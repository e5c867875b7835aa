#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>

namespace ombrix::strings {

// A program's language resource library: a shared object named
// <OmxHomePath>Language/<code>/Res/<module>.<code>, where <code> is the three-letter
// "OmxLanguage" (session store, else global). It exports
//   int GetLGVersion(void);
//   int GetLGString(int id, char* buffer, int size);   // length, 0 when it has no such text
// and is used only when its version is the one the program expects; otherwise a notice is shown
// once (the program's own, when it gives one) and the built-in texts stay. Loaded on first use.
class LanguageResources {
  public:
    LanguageResources(std::string module, int expectedVersion,
                      std::function<void()> wrongVersionNotice = {});
    ~LanguageResources();
    LanguageResources(const LanguageResources&) = delete;
    LanguageResources& operator=(const LanguageResources&) = delete;

    std::optional<std::string> text(int id);
    // The help file of the language in use, empty with the built-in language.
    std::string helpFile();

  private:
    void load();

    std::string module_;
    int expectedVersion_;
    std::function<void()> wrongVersionNotice_;
    std::once_flag loaded_;
    void* library_ = nullptr;
    int (*getString_)(int, char*, int) = nullptr;
    std::string helpFile_;
};

}  // namespace ombrix::strings
