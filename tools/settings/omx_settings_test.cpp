#include "tools/settings/omx_settings.h"

#include <gtest/gtest.h>

#include <QtCore/qnamespace.h>
#include <filesystem>
#include <map>

#include "outside/env/oxtenv.h"
#include "support/temp_root.h"
#include "tools/settings/hot_key.h"
#include "tools/settings/language_list.h"
#include "tools/settings/settings_program.h"

namespace {

namespace t = ombrix::test;
using namespace ombrix::tools;

// The stores behind the settings: what the setting lookup finds, the session's own values, the
// user's registry key, and the global defaults file in a temporary root.
struct Stores {
    t::TempRoot root;
    std::map<std::string, std::string> settings, session, registry;
    std::string globalFile = (root / "config/oxtenv.dat").string();

    SettingsStorage storage() {
        SettingsStorage s;
        s.setting = [this](const std::string& key) -> std::optional<std::string> {
            auto it = settings.find(key);
            return it == settings.end() ? std::nullopt : std::optional(it->second);
        };
        s.userValue = [this](const std::string& key) -> std::optional<std::string> {
            auto it = session.find(key);
            return it == session.end() ? std::nullopt : std::optional(it->second);
        };
        s.setUserValue = [this](const std::string& key, const std::string& value) {
            session[key] = value;
            return true;
        };
        s.setRegistryValue = [this](const std::string& key, const std::string& value) {
            registry[key] = value;
            return true;
        };
        s.globalFile = [this] { return globalFile; };
        return s;
    }
};

TEST(Settings, EveryKeyIsReadAndWrittenInItsStoredForm) {
    Stores stores;
    stores.settings = {{"OmxHomePath", "/opt/ombrix/"}, {"OmxSettings", "10101"},
                       {"OmxUseXPIcons", "1"},          {"OmxLanguage", "DEU"},
                       {"OmxTrayKeyModifier", "6"},     {"OmxTrayKeyVK", "75"},
                       {"OmxMngSettings", "0100101"},   {"OmxMngROWOrder", "0102"}};
    COmxSettings general(stores.storage());
    EXPECT_EQ(general.homePath, "/opt/ombrix/");
    EXPECT_TRUE(general.cdDatabase);
    EXPECT_FALSE(general.selectionProgram);
    EXPECT_TRUE(general.trayIcon);
    EXPECT_FALSE(general.tooltips);
    EXPECT_TRUE(general.catalogueOverview);
    EXPECT_TRUE(general.newerIcons);
    EXPECT_EQ(general.language, "DEU");
    EXPECT_EQ(general.trayKeyModifier, 6);
    EXPECT_EQ(general.trayKeyVirtualKey, 75);
    COmxMNGSettings view(stores.storage());
    EXPECT_EQ(view.optionsText(), "0100101");
    EXPECT_EQ(view.rowOrder, "0102");

    // Nothing is written while nothing changed.
    EXPECT_EQ(general.save(), 0);
    EXPECT_EQ(view.save(), 0);
    EXPECT_TRUE(stores.session.empty());

    general.tooltips = true;
    general.trayKeyVirtualKey = 0x70;
    general.setDirty();
    view.options[COmxMNGSettings::kAnimation] = true;
    view.rowOrder = "1413";
    view.setDirty();
    ASSERT_EQ(general.save(), 0);
    ASSERT_EQ(view.save(), 0);
    EXPECT_FALSE(general.dirty());
    EXPECT_FALSE(view.dirty());
    const std::map<std::string, std::string> written = {
        {"OmxSettings", "10111"},    {"OmxUseXPIcons", "1"},  {"OmxLanguage", "DEU"},
        {"OmxTrayKeyModifier", "6"}, {"OmxTrayKeyVK", "112"}, {"OmxMngSettings", "0110101"},
        {"OmxMngROWOrder", "1413"}};
    EXPECT_EQ(stores.session, written);
    EXPECT_EQ(stores.registry, written);  // mirrored in the user's key
    EXPECT_FALSE(stores.session.contains("OmxHomePath"));

    // What was written reads back the same.
    stores.settings = written;
    COmxSettings again(stores.storage());
    EXPECT_EQ(again.settingsText(), "10111");
    EXPECT_EQ(again.trayKeyVirtualKey, 0x70);
    EXPECT_EQ(COmxMNGSettings(stores.storage()).optionsText(), "0110101");
}

TEST(Settings, ShortOrOddTextsAreReadByTheirRules) {
    Stores stores;
    // Four characters or fewer: passed over, the defaults stay; the same for six view options.
    stores.settings = {{"OmxSettings", "0000"}, {"OmxMngSettings", "000000"}};
    COmxSettings general(stores.storage());
    EXPECT_EQ(general.settingsText(), "01110");
    EXPECT_EQ(COmxMNGSettings(stores.storage()).optionsText(), "1010000");

    // Only '1' sets a preference; any character but '0' sets a view option.
    stores.settings = {{"OmxSettings", "01x1y"},
                       {"OmxMngSettings", "0x00000"},
                       {"OmxUseXPIcons", "2"},
                       {"OmxTrayKeyVK", "x"}};
    general = COmxSettings(stores.storage());
    EXPECT_EQ(general.settingsText(), "01010");
    EXPECT_FALSE(general.newerIcons);
    EXPECT_EQ(general.trayKeyVirtualKey, 0);
    EXPECT_EQ(COmxMNGSettings(stores.storage()).optionsText(), "0100000");

    // A row order is kept to its 40 bytes.
    stores.settings = {{"OmxMngROWOrder", std::string(50, '1')}};
    EXPECT_EQ(COmxMNGSettings(stores.storage()).rowOrder.size(), 40u);
}

TEST(Settings, GlobalModeWorksOnTheDefaultsFileOnly) {
    Stores stores;
    t::writeFile(stores.globalFile,
                 "[Settings]\r\nOmxSettings=00110\r\nOmxUseXPIcons=1\r\nOmxTrayKeyVK=65\r\n"
                 "OmxMngSettings=0000001\r\n");
    stores.settings = {{"OmxSettings", "11111"}, {"OmxUseXPIcons", "0"}};  // the user's own
    stores.session = {{kGlobalSettingsKey, "1"}};
    COmxSettings general(stores.storage());
    ASSERT_TRUE(general.global());
    EXPECT_EQ(general.settingsText(), "00110");
    EXPECT_TRUE(general.newerIcons);
    EXPECT_EQ(general.trayKeyVirtualKey, 65);
    EXPECT_EQ(general.trayKeyModifier, 0);  // missing in the file: 0
    COmxMNGSettings view(stores.storage());
    EXPECT_TRUE(view.options[COmxMNGSettings::kOneCategoryPerImage]);
    EXPECT_FALSE(view.options[COmxMNGSettings::kTreeView]);

    general.language = "FRA";
    general.setDirty();
    ASSERT_EQ(general.save(), 0);
    EXPECT_EQ(stores.session.size(), 1u);  // only the flag itself
    EXPECT_TRUE(stores.registry.empty());
    const std::string file = t::readFile(stores.globalFile);
    EXPECT_NE(file.find("FRA"), std::string::npos) << file;
    stores.session.clear();
    stores.settings.clear();
    stores.session = {{kGlobalSettingsKey, "1"}};
    EXPECT_EQ(COmxSettings(stores.storage()).language, "FRA");

    // Without a configured folder the save fails and the values stay to be saved.
    stores.globalFile.clear();
    general.setDirty();
    EXPECT_NE(general.save(), 0);
    EXPECT_TRUE(general.dirty());

    // Only the exact "1" is global mode.
    stores.session = {{kGlobalSettingsKey, "11"}};
    EXPECT_FALSE(COmxSettings(stores.storage()).global());
}

TEST(Settings, TheDefaultsFileIsFoundInAnyCase) {
    t::TempRoot root;
    const std::string folder = (root / "pool").string();
    std::filesystem::create_directories(folder);
    ASSERT_EQ(EnvSetGlobalValue("OmxConfigPathNet", (folder + "/").c_str()), 1);
    const SettingsStorage storage = systemSettingsStorage();
    // A new file takes the name the network service publishes the defaults from.
    EXPECT_EQ(storage.globalFile(), folder + "/Oxtenv.dat");
    t::writeFile(folder + "/OXTENV.DAT", "[Settings]\r\n");
    EXPECT_EQ(storage.globalFile(), folder + "/OXTENV.DAT");
}

TEST(SettingsProgram, GlobalModeLastsOneRunAndOkTellsWhatChanged) {
    Stores stores;
    stores.session = {{kGlobalSettingsKey, "1"}};
    EXPECT_TRUE(takeGlobalFlag(stores.storage()));
    EXPECT_EQ(stores.session[kGlobalSettingsKey], "");
    EXPECT_FALSE(takeGlobalFlag(stores.storage()));

    int reRead = 0;
    std::vector<int> posted;
    const SettingsNotices notices{[&] { ++reRead; }, [&](int lParam) { posted.push_back(lParam); }};
    COmxSettings general(stores.storage());
    COmxMNGSettings view(stores.storage());
    EXPECT_EQ(finishSettings(general, view, notices).lParam, 0);  // nothing changed, nothing sent
    view.setDirty();
    EXPECT_EQ(finishSettings(general, view, notices).lParam, 1);
    general.setDirty();
    EXPECT_EQ(finishSettings(general, view, notices).lParam, 2);
    general.setDirty();
    view.setDirty();
    EXPECT_EQ(finishSettings(general, view, notices).lParam, 3);
    EXPECT_EQ(posted, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(reRead, 0);

    // In global mode the services read the file again and the session hears nothing.
    t::writeFile(stores.globalFile, "[Settings]\r\n");
    stores.session = {{kGlobalSettingsKey, "1"}};
    COmxSettings globalGeneral(stores.storage());
    COmxMNGSettings globalView(stores.storage());
    globalGeneral.setDirty();
    const SettingsOutcome outcome = finishSettings(globalGeneral, globalView, notices);
    EXPECT_EQ(outcome.error, 0);
    EXPECT_EQ(outcome.lParam, 0);
    EXPECT_EQ(reRead, 1);
    EXPECT_EQ(posted.size(), 3u);
}

TEST(SettingsProgram, ColumnListsMoveAndWriteBack) {
    ColumnLists lists = columnListsFrom("0102030405");
    EXPECT_EQ(lists.shown, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(lists.hidden, (std::vector<int>{6, 7, 8, 9, 10, 11, 12, 13, 14}));
    removeColumn(lists, 2);
    addColumn(lists, 14);
    addColumn(lists, 14);  // already shown: nothing
    EXPECT_EQ(lists.hidden, (std::vector<int>{2, 6, 7, 8, 9, 10, 11, 12, 13}));
    EXPECT_EQ(rowOrderOf(lists.shown), "0103040514");
    ColumnLists one = columnListsFrom("07");
    removeColumn(one, 7);
    EXPECT_EQ(one.shown, std::vector<int>{7});
    // Repeats and numbers out of range are passed over; an empty value shows everything.
    EXPECT_EQ(columnListsFrom("0303xx99").shown, std::vector<int>{3});
    EXPECT_EQ(columnListsFrom("").shown.size(), 14u);
    EXPECT_TRUE(columnListsFrom("").hidden.empty());
    EXPECT_EQ(columnName(1), "Ombrix");
    EXPECT_EQ(columnName(14), "Category");
    EXPECT_EQ(columnName(15), "");

    EXPECT_EQ(firstPageFromArguments({"1"}, 2), 1);
    EXPECT_EQ(firstPageFromArguments({"2"}, 2), 0);
    EXPECT_EQ(firstPageFromArguments({"-1"}, 2), 0);
    EXPECT_EQ(noticeForOption(COmxMNGSettings::kOneCategoryPerImage, true),
              ChangeNotice::OneCategoryQuestion);
    EXPECT_EQ(noticeForOption(COmxMNGSettings::kOneCategoryPerImage, false), ChangeNotice::None);
    EXPECT_EQ(noticeForOption(COmxMNGSettings::kLargeSymbols, false), ChangeNotice::ManagerRestart);
}

TEST(SettingsProgram, InstalledLanguagesComeFromTheListFile) {
    t::TempRoot root;
    const std::string home = (root / "home").string() + "/";
    t::writeFile(root / "home/Language/lg.cfg",
                 "[LG]\r\nLanguage=ENU;DEU;FRA\r\nENU_Name=English\r\nENU_Icon=enu.png\r\n"
                 "DEU_Name=Deutsch\r\n");
    const auto languages = installedLanguages(home);
    ASSERT_EQ(languages.size(), 3u);
    EXPECT_EQ(languages[0].name, "English");
    EXPECT_EQ(languages[0].icon, home + "Language/enu.png");
    EXPECT_EQ(languages[1].name, "Deutsch");
    EXPECT_EQ(languages[1].icon, "");
    EXPECT_EQ(languages[2].name, "FRA");
    EXPECT_EQ(languageIndex(languages, "deu"), 1);
    EXPECT_EQ(languageIndex(languages, "ITA"), -1);
    EXPECT_TRUE(installedLanguages((root / "none").string()).empty());
}

TEST(HotKey, StoredFormsAndQtKeysConvertBothWays) {
    const std::vector<std::pair<StoredHotKey, QtHotKey>> pairs = {
        {{kHotKeyControl | kHotKeyAlt, 'K'}, {Qt::Key_K, Qt::ControlModifier | Qt::AltModifier}},
        {{kHotKeyShift, 0x70}, {Qt::Key_F1, Qt::ShiftModifier}},
        {{0, 0x87}, {Qt::Key_F24, 0}},
        {{kHotKeyControl, 0x63}, {Qt::Key_3, Qt::ControlModifier | Qt::KeypadModifier}},
        {{kHotKeyAlt, 0x6D}, {Qt::Key_Minus, Qt::AltModifier | Qt::KeypadModifier}},
        {{kHotKeyAlt, 0xBD}, {Qt::Key_Minus, Qt::AltModifier}},
        {{0, 0x2E}, {Qt::Key_Delete, 0}},
        {{kHotKeyControl, '7'}, {Qt::Key_7, Qt::ControlModifier}},
    };
    for (const auto& [stored, qt] : pairs) {
        EXPECT_EQ(toQt(stored), qt) << stored.virtualKey;
        EXPECT_EQ(fromQt(qt), stored) << qt.key;
    }
    // No key, or one without a virtual key: no hot key at all.
    EXPECT_EQ(toQt({kHotKeyControl, 0}), QtHotKey{});
    EXPECT_EQ(fromQt({Qt::Key_Launch0, Qt::ControlModifier}), StoredHotKey{});
}

}  // namespace
