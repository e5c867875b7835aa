#pragma once

#include <string>
#include <vector>

// The installed languages, as "Language/lg.cfg" below the installation folder lists them:
// section "LG", key "Language" holds three-letter codes each followed by one separator
// character ("ENU;DEU;"), "<code>_Name" the name shown and "<code>_Icon" a picture file in the
// "Language/" folder.
namespace ombrix::tools {

struct InstalledLanguage {
    std::string code;
    std::string name;  // the code itself when the file names none
    std::string icon;  // full path, empty when none is named
};

std::vector<InstalledLanguage> installedLanguages(const std::string& homePath);

// The position of `code` in `languages`, ignoring case; -1 when it is not there.
int languageIndex(const std::vector<InstalledLanguage>& languages, const std::string& code);

}  // namespace ombrix::tools
