#include "tools/ui/settings_sheet.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QKeySequenceEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <filesystem>
#include <map>
#include <memory>

#include "support/screenshots.h"
#include "tools/settings/hot_key.h"

namespace {

using namespace ombrix::tools;
namespace fs = std::filesystem;

constexpr int kVirtualKeyK = 0x4B;
constexpr int kVirtualKeyF5 = 0x74;

using ombrix::test::screenshotFolder;

template <typename Widget>
Widget* get(const QObject& parent, const char* name) {
    auto* widget = parent.findChild<Widget*>(name);
    if (widget == nullptr) ADD_FAILURE() << "no widget named " << name;
    return widget;
}

std::vector<int> numbers(const QListWidget* list) {
    std::vector<int> out;
    for (int row = 0; row < list->count(); ++row)
        out.push_back(list->item(row)->data(Qt::UserRole).toInt());
    return out;
}

// The number of the selected column, -1 when none is.
int selected(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : items.front()->data(Qt::UserRole).toInt();
}

void select(QListWidget* list, int number) {
    for (int row = 0; row < list->count(); ++row) {
        if (list->item(row)->data(Qt::UserRole).toInt() == number) list->setCurrentRow(row);
    }
}

// The values live in a map instead of the session store and the registry.
SettingsStorage memoryStorage(std::shared_ptr<std::map<std::string, std::string>> values) {
    const auto lookup = [values](const std::string& key) -> std::optional<std::string> {
        auto it = values->find(key);
        return it == values->end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    const auto store = [values](const std::string& key, const std::string& value) {
        (*values)[key] = value;
        return true;
    };
    return {lookup, lookup, store, store, [] { return std::string(); }};
}

class SettingsSheetTest : public ::testing::Test {
  protected:
    SettingsSheetTest() : general(memoryStorage(values)), view(memoryStorage(values)) {
        general.language = "deu";
        general.newerIcons = true;
        general.tooltips = false;
        general.trayIcon = true;
        general.cdDatabase = true;
        general.catalogueOverview = true;
        general.trayKeyModifier = kHotKeyControl | kHotKeyAlt;
        general.trayKeyVirtualKey = kVirtualKeyK;
        view.options = {false, true, false, true, true, false, false};
        view.rowOrder = "0102030405";
    }

    void SetUp() override {
        folder = fs::temp_directory_path() / ("settings_sheet_test_" + std::to_string(getpid()));
        fs::create_directories(folder);
        flag = (folder / "fra.png").string();
        QImage image(16, 12, QImage::Format_ARGB32);
        image.fill(Qt::blue);
        ASSERT_TRUE(image.save(QString::fromStdString(flag)));
    }
    void TearDown() override { fs::remove_all(folder); }

    SettingsSheet::Setup setup() {
        SettingsSheet::Setup s;
        s.title = "Ombrix Settings";
        s.languages = {{"ENU", "English", ""},
                       {"DEU", "Deutsch", (folder / "missing.png").string()},
                       {"FRA", "Francais", flag}};
        s.notice = [this](ChangeNotice notice) {
            notices.push_back(notice);
            if (answers.empty()) return true;
            const bool answer = answers.front();
            answers.erase(answers.begin());
            return answer;
        };
        return s;
    }

    std::unique_ptr<SettingsSheet> open(SettingsSheet::Setup s) {
        return std::make_unique<SettingsSheet>(general, view, std::move(s));
    }
    std::unique_ptr<SettingsSheet> open() { return open(setup()); }

    static void ok(SettingsSheet& sheet) {
        get<QPushButton>(sheet, "ok")->click();
        EXPECT_EQ(sheet.result(), QDialog::Accepted);
    }

    std::shared_ptr<std::map<std::string, std::string>> values =
        std::make_shared<std::map<std::string, std::string>>();
    COmxSettings general;
    COmxMNGSettings view;
    fs::path folder;
    std::string flag;
    std::vector<ChangeNotice> notices;
    std::vector<bool> answers;  // for the notices in turn; "yes" when used up
};

// ---- What the pages show ------------------------------------------------------------------------

TEST_F(SettingsSheetTest, PagesShowTheStoredValues) {
    SettingsSheet::Setup s = setup();
    s.text = [](int id) { return "text " + std::to_string(id); };
    auto sheet = open(std::move(s));
    EXPECT_EQ(sheet->windowTitle(), "Ombrix Settings");
    ASSERT_EQ(sheet->pageCount(), 2);
    EXPECT_EQ(sheet->pages()->currentIndex(), 0);

    // The stored code matches its language whatever its case; only a picture that loads is shown.
    auto* language = get<QComboBox>(*sheet, "language");
    ASSERT_EQ(language->count(), 3);
    EXPECT_EQ(language->currentIndex(), 1);
    EXPECT_EQ(language->itemData(2).toString(), "FRA");
    EXPECT_TRUE(language->itemIcon(1).isNull());
    EXPECT_FALSE(language->itemIcon(2).isNull());

    EXPECT_EQ(get<QRadioButton>(*sheet, "styleNewer")->text(), "text 107");
    EXPECT_TRUE(get<QRadioButton>(*sheet, "styleNewer")->isChecked());
    EXPECT_FALSE(get<QCheckBox>(*sheet, "tooltips")->isChecked());
    EXPECT_TRUE(get<QCheckBox>(*sheet, "cdDatabase")->isChecked());
    EXPECT_EQ(get<QKeySequenceEdit>(*sheet, "trayHotKey")->keySequence(),
              QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_K));
    EXPECT_TRUE(get<QRadioButton>(*sheet, "listOverview")->isChecked());
    for (int option = 0; option < COmxMNGSettings::kOptionCount; ++option) {
        const std::string name = "option" + std::to_string(option);
        EXPECT_EQ(get<QCheckBox>(*sheet, name.c_str())->isChecked(), view.options[option]) << name;
    }
    EXPECT_EQ(numbers(get<QListWidget>(*sheet, "shownColumns")), (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(get<QListWidget>(*sheet, "hiddenColumns")->count(), 9);
    EXPECT_FALSE(get<QPushButton>(*sheet, "removeColumn")->isEnabled());
    EXPECT_FALSE(get<QPushButton>(*sheet, "addColumn")->isEnabled());
    EXPECT_TRUE(notices.empty());  // filling the page asked nothing

    sheet->show();
    QApplication::processEvents();
    EXPECT_TRUE(
        sheet->grab().save(QString::fromStdString(screenshotFolder() + "/settings_global.png")));
    sheet->pages()->setCurrentIndex(1);
    QApplication::processEvents();
    EXPECT_TRUE(sheet->grab().save(
        QString::fromStdString(screenshotFolder() + "/settings_management.png")));
}

TEST_F(SettingsSheetTest, SetupDecidesPagesAndControls) {
    {  // Without the management program: one page (an index past it opens the first one).
        SettingsSheet::Setup s = setup();
        s.managementPage = false;
        s.firstPage = 1;
        auto sheet = open(std::move(s));
        EXPECT_EQ(sheet->pageCount(), 1);
        EXPECT_EQ(sheet->findChild<QWidget*>("managementPage"), nullptr);
        EXPECT_EQ(sheet->pages()->currentIndex(), 0);
        ok(*sheet);
        EXPECT_FALSE(view.dirty());
    }
    {  // The CD database hidden and off limits; its value is kept as stored.
        SettingsSheet::Setup s = setup();
        s.cdDatabaseShown = false;
        s.firstPage = 1;
        auto sheet = open(std::move(s));
        EXPECT_EQ(sheet->pages()->currentWidget()->objectName(), "managementPage");
        auto* box = get<QCheckBox>(*sheet, "cdDatabase");
        EXPECT_TRUE(box->isHidden());
        EXPECT_FALSE(box->isEnabled());
        ok(*sheet);
        EXPECT_TRUE(general.cdDatabase);
        EXPECT_FALSE(general.dirty());
    }
}

// ---- What OK takes
// --------------------------------------------------------------------------------

TEST_F(SettingsSheetTest, UnchangedOkLeavesBothObjectsClean) {
    view.rowOrder = "";  // every column shown, as the management program reads it
    auto sheet = open();
    EXPECT_EQ(get<QListWidget>(*sheet, "shownColumns")->count(), kOptionalColumns);
    ok(*sheet);
    EXPECT_FALSE(general.dirty());
    EXPECT_FALSE(view.dirty());
    EXPECT_EQ(general.language, "deu");  // not replaced by the list's spelling
    EXPECT_EQ(view.rowOrder, "");
}

TEST_F(SettingsSheetTest, GlobalChangesDirtyOnlyThePreferences) {
    auto sheet = open();
    auto* language = get<QComboBox>(*sheet, "language");
    language->setCurrentIndex(2);
    language->setCurrentIndex(2);
    EXPECT_EQ(notices, std::vector<ChangeNotice>{ChangeNotice::LanguageRestart});
    get<QRadioButton>(*sheet, "styleClassic")->click();
    get<QCheckBox>(*sheet, "tooltips")->click();
    get<QRadioButton>(*sheet, "listByCategory")->click();
    // A recorded chord is cut to its first combination.
    auto* hotKey = get<QKeySequenceEdit>(*sheet, "trayHotKey");
    hotKey->setKeySequence(QKeySequence(Qt::SHIFT | Qt::Key_F5, Qt::CTRL | Qt::Key_K));
    emit hotKey->editingFinished();
    EXPECT_EQ(hotKey->keySequence(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
    ok(*sheet);

    EXPECT_EQ(general.language, "FRA");
    EXPECT_FALSE(general.newerIcons);
    EXPECT_TRUE(general.tooltips);
    EXPECT_TRUE(general.trayIcon);
    EXPECT_FALSE(general.catalogueOverview);
    EXPECT_EQ(general.trayKeyModifier, kHotKeyShift);
    EXPECT_EQ(general.trayKeyVirtualKey, kVirtualKeyF5);
    EXPECT_TRUE(general.dirty());
    EXPECT_FALSE(view.dirty());
}

TEST_F(SettingsSheetTest, AKeyTheTrayCannotTakeIsRefusedAndNothingIsLost) {
    general.trayKeyModifier = kHotKeyControl;
    general.trayKeyVirtualKey = 'K';
    auto sheet = open();
    auto* hotKey = get<QKeySequenceEdit>(*sheet, "trayHotKey");
    get<QCheckBox>(*sheet, "tooltips")->click();
    for (const QKeySequence& refused : {QKeySequence(Qt::META | Qt::Key_A), QKeySequence(Qt::Key_A),
                                        QKeySequence(Qt::SHIFT | Qt::Key_Exclam)}) {
        notices.clear();
        hotKey->setKeySequence(refused);
        get<QPushButton>(*sheet, "ok")->click();
        EXPECT_EQ(notices, std::vector<ChangeNotice>{ChangeNotice::HotKeyRefused})
            << refused.toString().toStdString();
        EXPECT_NE(sheet->result(), QDialog::Accepted);
        EXPECT_EQ(general.trayKeyVirtualKey, 'K');
        EXPECT_FALSE(general.dirty());
    }
    // A function key alone is a hot key; so is nothing at all.
    hotKey->setKeySequence(QKeySequence(Qt::Key_F9));
    ok(*sheet);
    EXPECT_EQ(general.trayKeyModifier, 0);
    EXPECT_EQ(general.trayKeyVirtualKey, 0x78);
}

// ---- CD Management
// --------------------------------------------------------------------------------

TEST_F(SettingsSheetTest, ColumnsMoveBetweenTheListsAndMakeTheOrder) {
    auto sheet = open();
    auto* shown = get<QListWidget>(*sheet, "shownColumns");
    auto* hidden = get<QListWidget>(*sheet, "hiddenColumns");
    auto* remove = get<QPushButton>(*sheet, "removeColumn");
    auto* add = get<QPushButton>(*sheet, "addColumn");

    select(shown, 2);
    ASSERT_TRUE(remove->isEnabled());
    remove->click();
    EXPECT_EQ(numbers(shown), (std::vector<int>{1, 3, 4, 5}));
    EXPECT_EQ(numbers(hidden), (std::vector<int>{2, 6, 7, 8, 9, 10, 11, 12, 13, 14}));
    // The moved column stays selected where it went; the list it left has no selection.
    EXPECT_EQ(selected(hidden), 2);
    EXPECT_FALSE(remove->isEnabled());
    EXPECT_TRUE(add->isEnabled());

    select(hidden, 14);
    add->click();
    EXPECT_EQ(numbers(shown), (std::vector<int>{1, 3, 4, 5, 14}));
    EXPECT_EQ(selected(shown), 14);
    EXPECT_FALSE(add->isEnabled());

    ok(*sheet);
    EXPECT_EQ(view.rowOrder, "0103040514");
    EXPECT_TRUE(view.dirty());
    EXPECT_FALSE(general.dirty());
}

TEST_F(SettingsSheetTest, ViewOptionsBringTheirNotices) {
    {
        auto sheet = open();
        get<QCheckBox>(*sheet, "option0")->click();  // tree view on
        get<QCheckBox>(*sheet, "option1")->click();  // large symbols off
        get<QCheckBox>(*sheet, "option2")->click();  // animation: nothing to tell
        EXPECT_EQ(notices, (std::vector<ChangeNotice>{ChangeNotice::ManagerRestart,
                                                      ChangeNotice::ManagerRestart}));
        // "No" to the one-category question takes the box back, without asking again.
        answers = {false};
        get<QCheckBox>(*sheet, "option6")->click();
        EXPECT_FALSE(get<QCheckBox>(*sheet, "option6")->isChecked());
        EXPECT_EQ(notices.size(), 3u);
        EXPECT_EQ(notices.back(), ChangeNotice::OneCategoryQuestion);
        ok(*sheet);
        EXPECT_EQ(view.options, (std::array<bool, COmxMNGSettings::kOptionCount>{
                                    true, false, true, true, true, false, false}));
        EXPECT_TRUE(view.dirty());
        EXPECT_FALSE(general.dirty());
    }
    {  // Without a notice function every question counts as "yes".
        SettingsSheet::Setup s = setup();
        s.notice = nullptr;
        auto sheet = open(std::move(s));
        get<QCheckBox>(*sheet, "option6")->click();
        ok(*sheet);
        EXPECT_TRUE(view.options[6]);
    }
}

}  // namespace
