#include "common/language_resources.h"

#include <dlfcn.h>

#include <filesystem>
#include <vector>

#include "oxtenv.h"
#include "platform/ui/user_interface.h"

namespace ombrix::strings {
namespace {

constexpr const char* kWrongVersion =
    "The language file has the wrong version - using build in language.\n"
    "Please download the current language files.";

std::string languageCode() {
    char code[64] = "";
    if (!EnvGetUserValue("OmxLanguage", code, sizeof code)) {
        EnvGetGlobalValue("OmxLanguage", code, sizeof code);
    }
    return code;
}

}  // namespace

LanguageResources::LanguageResources(std::string module, int expectedVersion,
                                     std::function<void()> wrongVersionNotice)
    : module_(std::move(module)),
      expectedVersion_(expectedVersion),
      wrongVersionNotice_(std::move(wrongVersionNotice)) {}

LanguageResources::~LanguageResources() {
    if (library_ != nullptr) ::dlclose(library_);
}

void LanguageResources::load() {
    std::string code = languageCode();
    if (code.size() != 3 || code.find('/') != std::string::npos || code == "..") return;
    char home[4096] = "";
    if (!EnvGetGlobalValue("OmxHomePath", home, sizeof home) || home[0] == '\0') return;
    std::filesystem::path base = std::filesystem::path(home) / "Language" / code;
    std::filesystem::path file = base / "Res" / (module_ + "." + code);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return;

    void* library = ::dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    auto version = reinterpret_cast<int (*)()>(::dlsym(library, "GetLGVersion"));
    auto getString = reinterpret_cast<int (*)(int, char*, int)>(::dlsym(library, "GetLGString"));
    if (version == nullptr || getString == nullptr || version() != expectedVersion_) {
        ::dlclose(library);
        if (wrongVersionNotice_) {
            wrongVersionNotice_();
            return;
        }
        ui::userInterface().messageBox("Ombrix TS", kWrongVersion, ui::Icon::Information,
                                       ui::Buttons::Ok, {});
        return;
    }
    library_ = library;
    getString_ = getString;
    helpFile_ = (base / "Help" / (module_ + ".hlp")).string();
}

std::optional<std::string> LanguageResources::text(int id) {
    std::call_once(loaded_, [this] { load(); });
    if (getString_ == nullptr) return std::nullopt;
    std::vector<char> buffer(4096);
    int length = getString_(id, buffer.data(), static_cast<int>(buffer.size()));
    if (length <= 0) return std::nullopt;
    buffer.back() = '\0';
    return std::string(buffer.data());
}

std::string LanguageResources::helpFile() {
    std::call_once(loaded_, [this] { load(); });
    return helpFile_;
}

}  // namespace ombrix::strings
