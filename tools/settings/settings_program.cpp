#include "tools/settings/settings_program.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "manager/image_columns.h"
#include "platform/ascii.h"

namespace ombrix::tools {

std::string settingsBuiltInText(int id) {
    static const std::map<int, const char*> texts = {
        {settext::kStyleClassic, "Windows 98/Me/NT4/2000"},
        {settext::kStyleNewer, "Windows XP"},
        {settext::kNoPlayer, "Fatal error - Cannot find the Ombrix Player!"},
        {settext::kLanguageRestart,
         "To activate this option in all Ombrix v4 programs, you need to restart your system."},
        {settext::kManagerRestart,
         "To activate this option, close the CD Management program and start it again."},
        {settext::kOneCategoryQuestion,
         "If you want the ombrix to appear only once, all duplicates will be deleted.\nDo you "
         "wish to continue?"},
        {settext::kTitle, "Ombrix TS v5.0 - Settings"},
        {settext::kTitleGlobal, "Ombrix TS v5.0 - Settings (GLOBAL)"},
        {settext::kHotKeyRefused,
         "This key cannot open the tray menu. Choose a letter, digit or other key together with "
         "Ctrl or Alt, or a function key."},
    };
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

bool takeGlobalFlag(const SettingsStorage& storage) {
    const auto flag = storage.userValue ? storage.userValue(kGlobalSettingsKey) : std::nullopt;
    if (!flag) return false;
    if (storage.setUserValue) storage.setUserValue(kGlobalSettingsKey, "");
    return *flag == "1";
}

int firstPageFromArguments(const std::vector<std::string>& arguments, int pageCount) {
    for (const std::string& argument : arguments) {
        if (argument.empty() || argument.size() > 9 ||
            !std::all_of(argument.begin(), argument.end(),
                         [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        const int page = std::stoi(argument);
        if (page < pageCount) return page;
    }
    return 0;
}

std::string columnName(int number) {
    // Stored number n is the list's column n + 1; the first column (the description) is fixed.
    if (number < 1 || number > kOptionalColumns) return {};
    return std::string(ascii::trim(mng::imageColumns()[static_cast<size_t>(number)].title));
}

ColumnLists columnListsFrom(const std::string& rowOrder) {
    ColumnLists lists;
    for (int column : mng::shownColumns(rowOrder)) {
        if (column >= 2) lists.shown.push_back(column - 1);
    }
    for (int number = 1; number <= kOptionalColumns; ++number) {
        if (std::find(lists.shown.begin(), lists.shown.end(), number) == lists.shown.end())
            lists.hidden.push_back(number);
    }
    return lists;
}

void removeColumn(ColumnLists& lists, int number) {
    const auto it = std::find(lists.shown.begin(), lists.shown.end(), number);
    // The last shown column stays: an empty order would show every column.
    if (it == lists.shown.end() || lists.shown.size() == 1) return;
    lists.shown.erase(it);
    lists.hidden.insert(std::lower_bound(lists.hidden.begin(), lists.hidden.end(), number), number);
}

void addColumn(ColumnLists& lists, int number) {
    const auto it = std::find(lists.hidden.begin(), lists.hidden.end(), number);
    if (it == lists.hidden.end()) return;
    lists.hidden.erase(it);
    lists.shown.push_back(number);
}

std::string rowOrderOf(const std::vector<int>& shown) {
    std::string text;
    for (int number : shown) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02d", number % 100);
        text += digits;
    }
    return text;
}

ChangeNotice noticeForOption(COmxMNGSettings::Option option, bool on) {
    switch (option) {
        case COmxMNGSettings::kTreeView:
        case COmxMNGSettings::kLargeSymbols: return ChangeNotice::ManagerRestart;
        case COmxMNGSettings::kOneCategoryPerImage:
            return on ? ChangeNotice::OneCategoryQuestion : ChangeNotice::None;
        default: return ChangeNotice::None;
    }
}

SettingsOutcome finishSettings(COmxSettings& general, COmxMNGSettings& view,
                               const SettingsNotices& notices) {
    SettingsOutcome outcome;
    const bool viewChanged = view.dirty();
    const bool generalChanged = general.dirty();
    if (int err = view.save()) outcome.error = err;
    if (int err = general.save(); err != 0 && outcome.error == 0) outcome.error = err;
    if (general.global() || view.global()) {
        // The services publish the defaults file again; nothing goes to the session's programs.
        if (notices.reReadEnvFile) notices.reReadEnvFile();
        return outcome;
    }
    // Only what was written is announced.
    outcome.lParam =
        (viewChanged && !view.dirty() ? 1 : 0) + (generalChanged && !general.dirty() ? 2 : 0);
    if (outcome.lParam != 0 && notices.post) notices.post(outcome.lParam);
    return outcome;
}

}  // namespace ombrix::tools
