#include "tools/settings/language_list.h"

#include "common/inifile.h"
#include "platform/ascii.h"

namespace ombrix::tools {

std::vector<InstalledLanguage> installedLanguages(const std::string& homePath) {
    std::string folder = homePath;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    folder += "Language/";
    CIniFile file(folder + "lg.cfg");
    std::vector<InstalledLanguage> languages;
    if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) return languages;
    std::string codes;
    if (!file.GetValue("LG", "Language", codes)) return languages;
    // Three letters, then one separator, for each language.
    for (size_t at = 0; at + 3 <= codes.size(); at += 4) {
        InstalledLanguage language;
        language.code = codes.substr(at, 3);
        if (!file.GetValue("LG", language.code + "_Name", language.name) || language.name.empty())
            language.name = language.code;
        std::string icon;
        if (file.GetValue("LG", language.code + "_Icon", icon) && !icon.empty())
            language.icon = folder + icon;
        languages.push_back(std::move(language));
    }
    return languages;
}

int languageIndex(const std::vector<InstalledLanguage>& languages, const std::string& code) {
    for (size_t i = 0; i < languages.size(); ++i) {
        if (ascii::equalsIgnoreCase(languages[i].code, code)) return static_cast<int>(i);
    }
    return -1;
}

}  // namespace ombrix::tools
