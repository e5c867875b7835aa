#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTreeWidget>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/user_interface.h"
#include "profiles/profile.h"
#include "profiles/profile_editing.h"
#include "profiles/ui/account_picker.h"
#include "profiles/ui/image_chooser.h"
#include "profiles/ui/list_tools.h"
#include "profiles/ui/profile_editor_window.h"
#include "profiles/ui/profile_sheet.h"
#include "support/screenshots.h"

namespace {

using namespace ombrix::prfed;
using ombrix::profiles::Account;
using ombrix::profiles::MemberRow;
using ombrix::profiles::ProfileForm;
using ombrix::profiles::Sid;
namespace ui = ombrix::ui;

constexpr const char* kEmptyName = "Please enter a name for the profile";

// Message boxes are answered with OK and their caption and text kept.
class BoxLog : public ui::UserInterface {
  public:
    explicit BoxLog(std::vector<std::pair<std::string, std::string>>& boxes) : boxes_(boxes) {}
    ui::Answer messageBox(const std::string& caption, const std::string& text, ui::Icon,
                          ui::Buttons, const ui::BoxOptions&) override {
        boxes_.emplace_back(caption, text);
        return ui::Answer::Ok;
    }
    std::optional<std::string> askPassword(const ui::PasswordPrompt&) override {
        return std::nullopt;
    }
    std::optional<std::string> askText(const ui::TextPrompt&) override { return std::nullopt; }

  private:
    std::vector<std::pair<std::string, std::string>>& boxes_;
};

class ProfileEditorTest : public ::testing::Test {
  protected:
    void SetUp() override { ui::setUserInterface(std::make_unique<BoxLog>(boxes)); }
    void TearDown() override { ui::setUserInterface(nullptr); }

    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& box : boxes)
            texts.push_back(box.second);
        return texts;
    }

    std::vector<std::pair<std::string, std::string>> boxes;
};

CProfileList listOf(const std::vector<std::string>& names) {
    CProfileList list;
    for (const std::string& name : names) {
        CProfile profile;
        profile.name = name;
        list.Profiles().push_back(profile);
    }
    return list;
}

std::vector<std::string> namesOf(const CProfileList& list) {
    std::vector<std::string> names;
    for (const CProfile& profile : list.Profiles())
        names.push_back(profile.name);
    return names;
}

const Account kAlice{Sid::User(1001), "alice", "srv1", true};
const Account kBob{Sid::User(1002), "bob", "srv1", true};
const Account kStaff{Sid::Group(100), "staff", "srv1", false};
const Account kEveryone{Sid::Everyone(), "Everyone", "BUILTIN", false};
const Account kAdministrators{Sid::Administrators(), "Administrators", "BUILTIN", false};

void click(QObject& owner, const char* name) {
    auto* button = owner.findChild<QPushButton*>(name);
    ASSERT_NE(button, nullptr) << name;
    button->click();
}

bool enabled(QObject& owner, const char* name) {
    auto* button = owner.findChild<QPushButton*>(name);
    return button != nullptr && button->isEnabled();
}

// Makes `current` the current row and exactly `rows` the selected ones.
void select(QTreeWidget* list, const std::vector<int>& rows, int current) {
    list->clearSelection();
    list->setCurrentItem(list->topLevelItem(current), 0, QItemSelectionModel::NoUpdate);
    for (int row : rows)
        list->topLevelItem(row)->setSelected(true);
}

std::vector<int> selectedRows(QTreeWidget* list) {
    std::vector<int> rows;
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->isSelected()) rows.push_back(row);
    }
    return rows;
}

int currentRow(QTreeWidget* list) {
    return list->currentItem() ? list->indexOfTopLevelItem(list->currentItem()) : -1;
}

QCheckBox* box(QObject& owner, const char* name) {
    return owner.findChild<QCheckBox*>(name);
}

void pressSpace(QWidget* widget) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, " ");
    QApplication::sendEvent(widget, &press);
}

using ombrix::test::screenshotFolder;

// The main dialog with the sheet driven in place of its modal run: `fill` changes the sheet's
// widgets, then OK (or Cancel, with `confirm` false) is pressed on it.
struct DrivenEditor {
    std::function<void(ProfileSheet&)> fill;
    bool confirm = true;
    std::vector<std::optional<std::string>> ownNames;  // as each sheet was given them

    EditorSetup setup() {
        EditorSetup setup;
        setup.editSheet = [this](QWidget* parent, const ProfileForm& form, const CProfileList& list,
                                 std::optional<std::string> ownName,
                                 const SheetServices& services) -> std::optional<ProfileForm> {
            ownNames.push_back(ownName);
            auto sheet = ProfileSheet::make(parent, form, list, ownName, services);
            if (fill) fill(*sheet);
            if (!confirm) {
                sheet->reject();
                return std::nullopt;
            }
            sheet->accept();
            if (sheet->result() != QDialog::Accepted) return std::nullopt;
            return sheet->form();
        };
        return setup;
    }
};

TEST_F(ProfileEditorTest, NewAppendsAndEditReplacesOnlyOnOk) {
    CProfileList list = listOf({"Admins", "Users"});
    CProfile& users = list.Profiles()[1];
    users.rights = CProfile::kInsertEject;
    users.driveImages = {{"E", "/srv/img/atlas.om4"}};
    users.security.BuildUsersDefault();
    DrivenEditor driven;
    ProfileEditorWindow window(list, driven.setup());
    EXPECT_EQ(window.windowTitle(), "Ombrix TS Profile Editor");
    QTreeWidget* rows = window.list();
    ASSERT_EQ(rows->columnCount(), 1);
    EXPECT_EQ(rows->headerItem()->text(0), "Profile");
    EXPECT_FALSE(rows->topLevelItem(0)->icon(0).isNull());

    // New starts from an empty profile and appends it, selected.
    ProfileForm offered;
    driven.fill = [&](ProfileSheet& sheet) {
        offered = sheet.form();
        sheet.nameField()->setText("Students");
        box(sheet, "insertEject")->setChecked(true);
        box(sheet, "editDrives")->setChecked(true);
    };
    click(window, "new");
    EXPECT_EQ(offered, ProfileForm{});
    EXPECT_EQ(driven.ownNames.back(), std::nullopt);
    EXPECT_EQ(namesOf(window.profiles()),
              (std::vector<std::string>{"Admins", "Users", "Students"}));
    EXPECT_EQ(window.profiles().Profiles()[2].rights,
              CProfile::kInsertEject | CProfile::kEditDrives);
    EXPECT_EQ(selectedRows(rows), std::vector<int>{2});
    EXPECT_EQ(currentRow(rows), 2);

    // A renamed copy replaces the profile and keeps what the sheet did not touch.
    select(rows, {1}, 1);
    driven.fill = [](ProfileSheet& sheet) { sheet.nameField()->setText("Pupils"); };
    click(window, "edit");
    EXPECT_EQ(driven.ownNames.back(), std::optional<std::string>("Users"));
    const CProfile& edited = window.profiles().Profiles()[1];
    EXPECT_EQ(edited.name, "Pupils");
    EXPECT_EQ(edited.rights, CProfile::kInsertEject);
    EXPECT_EQ(edited.driveImages, users.driveImages);
    EXPECT_EQ(edited.security.GetMembers(), users.security.GetMembers());
    EXPECT_EQ(rows->topLevelItem(1)->text(0), "Pupils");

    // Cancel drops the copy; a double click edits the row clicked.
    driven.confirm = false;
    driven.fill = [](ProfileSheet& sheet) { sheet.nameField()->setText("Nobody"); };
    emit rows->itemDoubleClicked(rows->topLevelItem(0), 0);
    EXPECT_EQ(driven.ownNames.back(), std::optional<std::string>("Admins"));
    EXPECT_EQ(namesOf(window.profiles()),
              (std::vector<std::string>{"Admins", "Pupils", "Students"}));

    // A sheet whose name is refused never gets to the list.
    driven.confirm = true;
    driven.fill = [](ProfileSheet& sheet) { sheet.nameField()->setText("Admins"); };
    click(window, "new");
    EXPECT_EQ(window.profiles().Profiles().size(), 3u);
    EXPECT_EQ(boxTexts(),
              std::vector<std::string>{
                  "A profile named 'Admins' already exists,\nplease enter a different name."});
}

TEST_F(ProfileEditorTest, DeleteRemovesEverySelectedAndUpDownSwapNeighbours) {
    DrivenEditor driven;
    ProfileEditorWindow window(listOf({"A", "B", "C", "D", "E"}), driven.setup());
    QTreeWidget* rows = window.list();
    // Without a selection the row commands are off.
    EXPECT_FALSE(enabled(window, "edit"));
    EXPECT_FALSE(enabled(window, "delete"));
    EXPECT_FALSE(enabled(window, "up"));
    EXPECT_TRUE(enabled(window, "new"));

    select(rows, {2}, 2);
    click(window, "up");
    EXPECT_EQ(namesOf(window.profiles()), (std::vector<std::string>{"A", "C", "B", "D", "E"}));
    EXPECT_EQ(selectedRows(rows), std::vector<int>{1});
    click(window, "up");
    EXPECT_EQ(namesOf(window.profiles()), (std::vector<std::string>{"C", "A", "B", "D", "E"}));
    EXPECT_FALSE(enabled(window, "up"));  // at the top
    click(window, "down");
    click(window, "down");
    EXPECT_EQ(namesOf(window.profiles()), (std::vector<std::string>{"A", "B", "C", "D", "E"}));
    EXPECT_EQ(currentRow(rows), 2);

    select(rows, {4}, 4);
    EXPECT_FALSE(enabled(window, "down"));  // at the bottom
    click(window, "down");
    EXPECT_EQ(namesOf(window.profiles()), (std::vector<std::string>{"A", "B", "C", "D", "E"}));

    // Delete takes every selected row, not only the current one, and asks nothing.
    select(rows, {0, 2, 3}, 2);
    click(window, "delete");
    EXPECT_EQ(namesOf(window.profiles()), (std::vector<std::string>{"B", "E"}));
    EXPECT_EQ(rows->topLevelItemCount(), 2);
    EXPECT_EQ(selectedRows(rows), std::vector<int>{0});
    select(rows, {0, 1}, 1);
    click(window, "delete");
    EXPECT_TRUE(window.profiles().Profiles().empty());
    EXPECT_FALSE(enabled(window, "delete"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ProfileEditorTest, OkSavesTheListInItsOrderAndStaysOpenWhenSavingFails) {
    std::vector<std::vector<std::string>> saved;
    bool saveWorks = false;
    EditorSetup setup;
    setup.save = [&](const CProfileList& list) {
        saved.push_back(namesOf(list));
        return saveWorks;
    };
    ProfileEditorWindow window(listOf({"Admins", "Users"}), setup);
    window.show();
    select(window.list(), {1}, 1);
    click(window, "up");
    click(window, "ok");
    EXPECT_EQ(saved, (std::vector<std::vector<std::string>>{{"Users", "Admins"}}));
    EXPECT_TRUE(window.isVisible());
    EXPECT_NE(window.result(), QDialog::Accepted);

    saveWorks = true;
    click(window, "ok");
    EXPECT_EQ(saved.size(), 2u);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.result(), QDialog::Accepted);

    ProfileEditorWindow cancelled(listOf({"Admins"}), setup);
    cancelled.show();
    click(cancelled, "cancel");
    EXPECT_EQ(saved.size(), 2u);
    EXPECT_EQ(cancelled.result(), QDialog::Rejected);
}

TEST_F(ProfileEditorTest, GeneralPageRefusesEmptyAndTakenNames) {
    const CProfileList list = listOf({"Admins", "Users"});
    auto sheet = ProfileSheet::make(nullptr, ProfileForm{}, list, std::nullopt, {});
    EXPECT_EQ(sheet->windowTitle(), "Ombrix TS Profile Properties");
    QTabWidget* pages = sheet->pages();
    ASSERT_EQ(pages->count(), 3);
    EXPECT_EQ(pages->tabText(0), "General");
    EXPECT_EQ(pages->tabText(1), "Virtual Drives");
    EXPECT_EQ(pages->tabText(2), "Users / Groups");
    EXPECT_EQ(sheet->nameField()->maxLength(), 50);

    // An empty name keeps OK and the other pages shut.
    sheet->accept();
    EXPECT_NE(sheet->result(), QDialog::Accepted);
    pages->setCurrentIndex(ProfileSheet::kDrives);
    EXPECT_EQ(pages->currentIndex(), ProfileSheet::kGeneral);
    EXPECT_EQ(boxTexts(), (std::vector<std::string>{kEmptyName, kEmptyName}));
    EXPECT_EQ(boxes.front().first, "Ombrix TS Profile Editor");

    // So does the name of another profile.
    sheet->nameField()->setText("Users");
    pages->setCurrentIndex(ProfileSheet::kUsers);
    EXPECT_EQ(pages->currentIndex(), ProfileSheet::kGeneral);
    EXPECT_EQ(boxTexts().back(),
              "A profile named 'Users' already exists,\nplease enter a different name.");

    // A free name lets the user go on, and back and forth without a word.
    boxes.clear();
    sheet->nameField()->setText("Guests");
    pages->setCurrentIndex(ProfileSheet::kUsers);
    EXPECT_EQ(pages->currentIndex(), ProfileSheet::kUsers);
    pages->setCurrentIndex(ProfileSheet::kDrives);
    pages->setCurrentIndex(ProfileSheet::kGeneral);
    sheet->accept();
    EXPECT_EQ(sheet->result(), QDialog::Accepted);
    EXPECT_EQ(sheet->form().name, "Guests");
    EXPECT_TRUE(boxes.empty());

    // The edited profile may keep its own name; names compare exactly.
    auto own = ProfileSheet::make(nullptr, ombrix::profiles::formOf(list.Profiles()[1]), list,
                                  "Users", {});
    own->accept();
    EXPECT_EQ(own->result(), QDialog::Accepted);
    auto taken = ProfileSheet::make(nullptr, ombrix::profiles::formOf(list.Profiles()[1]), list,
                                    "Users", {});
    taken->nameField()->setText("Admins");
    taken->accept();
    EXPECT_NE(taken->result(), QDialog::Accepted);
    taken->nameField()->setText("admins");
    taken->accept();
    EXPECT_EQ(taken->result(), QDialog::Accepted);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(ProfileEditorTest, GeneralPageBindsTheRightsBits) {
    ProfileForm form;
    form.name = "Teachers";
    form.rights = CProfile::kEditDrives | CProfile::kCentralAdminClient;
    auto sheet = ProfileSheet::make(nullptr, form, CProfileList{}, "Teachers", {});
    EXPECT_TRUE(box(*sheet, "editDrives")->isChecked());
    EXPECT_TRUE(box(*sheet, "centralAdminClient")->isChecked());
    EXPECT_FALSE(box(*sheet, "administrator")->isChecked());
    EXPECT_FALSE(box(*sheet, "insertEject")->isChecked());
    EXPECT_EQ(box(*sheet, "editDrives")->text().remove('&'), "Edit virtual drives");
    EXPECT_EQ(box(*sheet, "centralAdminClient")->text().remove('&'),
              "Central administration mode client");

    box(*sheet, "editDrives")->setChecked(false);
    box(*sheet, "administrator")->setChecked(true);
    EXPECT_EQ(sheet->form().rights, CProfile::kCentralAdminClient | CProfile::kAdministrator);
    box(*sheet, "insertEject")->setChecked(true);
    EXPECT_EQ(sheet->form().rights, 7u);
}

TEST_F(ProfileEditorTest, DrivesPageStoresOnlyCheckedRows) {
    ProfileForm form;
    form.name = "Pupils";
    form.drives[4] = {true, "/srv/img/atlas.om4"};
    std::vector<std::string> asked;
    std::optional<std::string> answer = "/srv/img/chess.om4";
    SheetServices services;
    services.chooseImage = [&](QWidget*, const std::string& current) {
        asked.push_back(current);
        return answer;
    };
    auto sheet = ProfileSheet::make(nullptr, form, CProfileList{}, "Pupils", services);
    QTreeWidget* drives = sheet->drivesList();
    ASSERT_EQ(drives->topLevelItemCount(), 26);
    EXPECT_EQ(drives->headerItem()->text(0), "Drive");
    EXPECT_EQ(drives->headerItem()->text(1), "Ombrix");
    EXPECT_EQ(drives->topLevelItem(0)->text(0), "A:");
    EXPECT_EQ(drives->topLevelItem(25)->text(0), "Z:");
    QTreeWidgetItem* e = drives->topLevelItem(4);
    QTreeWidgetItem* f = drives->topLevelItem(5);
    EXPECT_EQ(e->checkState(0), Qt::Checked);
    EXPECT_EQ(e->text(1), "/srv/img/atlas.om4");

    // An unchecked drive has no image to choose.
    drives->setCurrentItem(f);
    EXPECT_FALSE(enabled(*sheet, "drivesEdit"));
    sheet->editDrive();
    EXPECT_TRUE(asked.empty());
    // Checked (here by Space), its Edit asks the chooser.
    pressSpace(drives);
    EXPECT_EQ(f->checkState(0), Qt::Checked);
    click(*sheet, "drivesEdit");
    EXPECT_EQ(asked, std::vector<std::string>{""});
    EXPECT_EQ(f->text(1), "/srv/img/chess.om4");
    // A double click edits too; a cancelled chooser changes nothing.
    answer = std::nullopt;
    emit drives->itemDoubleClicked(e, 1);
    EXPECT_EQ(asked.back(), "/srv/img/atlas.om4");
    EXPECT_EQ(e->text(1), "/srv/img/atlas.om4");
    // The drives are fixed rows.
    EXPECT_FALSE(enabled(*sheet, "drivesNew"));
    EXPECT_FALSE(enabled(*sheet, "drivesDelete"));
    EXPECT_TRUE(enabled(*sheet, "drivesFind"));

    // Unchecking empties the image; checking again does not bring it back.
    e->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(e->text(1), "");
    e->setCheckState(0, Qt::Checked);
    e->setCheckState(0, Qt::Unchecked);
    sheet->accept();
    ASSERT_EQ(sheet->result(), QDialog::Accepted);
    CProfile profile;
    ASSERT_TRUE(ombrix::profiles::applyForm(sheet->form(), profile));
    EXPECT_EQ(profile.driveImages,
              (std::map<std::string, std::string>{{"F", "/srv/img/chess.om4"}}));
}

TEST_F(ProfileEditorTest, UsersPageAddsPickedAccountsOnceAndSwitchesExclude) {
    ProfileForm form;
    form.name = "Pupils";
    form.members = {{kEveryone, false}};
    std::optional<std::vector<Account>> picked = std::vector<Account>{kAlice, kStaff, kEveryone};
    int pickerRuns = 0;
    SheetServices services;
    services.pickAccounts = [&](QWidget*) {
        ++pickerRuns;
        return picked;
    };
    auto sheet = ProfileSheet::make(nullptr, form, CProfileList{}, "Pupils", services);
    QTreeWidget* members = sheet->membersList();
    EXPECT_EQ(members->headerItem()->text(0), "User / Group");
    EXPECT_EQ(members->headerItem()->text(1), "Domain");
    EXPECT_EQ(members->headerItem()->text(2), "Exclude");
    EXPECT_FALSE(enabled(*sheet, "usersEdit"));

    click(*sheet, "usersNew");
    click(*sheet, "usersNew");  // the same accounts again add nothing
    EXPECT_EQ(pickerRuns, 2);
    ASSERT_EQ(members->topLevelItemCount(), 3);
    EXPECT_EQ(members->topLevelItem(1)->text(0), "alice");
    EXPECT_EQ(members->topLevelItem(1)->text(1), "srv1");
    EXPECT_EQ(members->topLevelItem(1)->icon(0).cacheKey(), userIcon().cacheKey());
    EXPECT_EQ(members->topLevelItem(2)->icon(0).cacheKey(), groupIcon().cacheKey());
    EXPECT_EQ(members->topLevelItem(0)->icon(0).cacheKey(), groupIcon().cacheKey());
    picked = std::nullopt;  // a cancelled picker
    click(*sheet, "usersNew");
    EXPECT_EQ(members->topLevelItemCount(), 3);

    // The Exclude box, by mouse and by Space on the current row.
    members->topLevelItem(1)->setCheckState(2, Qt::Checked);
    members->setCurrentItem(members->topLevelItem(2));
    pressSpace(members);
    pressSpace(members);
    EXPECT_EQ(sheet->form().members,
              (std::vector<MemberRow>{{kEveryone, false}, {kAlice, true}, {kStaff, false}}));
    CProfile profile;
    ASSERT_TRUE(ombrix::profiles::applyForm(sheet->form(), profile));
    // Excluded members come first in the descriptor.
    EXPECT_EQ(
        profile.security.GetMembers(),
        (std::vector<CSecMember>{{kAlice.sid, true}, {kEveryone.sid, false}, {kStaff.sid, false}}));

    // Down moves a member; Delete removes every selected row.
    select(members, {0}, 0);
    click(*sheet, "usersDown");
    EXPECT_EQ(members->topLevelItem(1)->text(0), "Everyone");
    select(members, {0, 1}, 1);
    click(*sheet, "usersDelete");
    EXPECT_EQ(sheet->form().members, (std::vector<MemberRow>{{kStaff, false}}));
    // A deleted account can be picked again.
    picked = std::vector<Account>{kAlice};
    click(*sheet, "usersNew");
    EXPECT_EQ(sheet->form().members, (std::vector<MemberRow>{{kStaff, false}, {kAlice, false}}));
}

TEST_F(ProfileEditorTest, FindGoesDownOrUpFromTheFocusedRowWithoutWrapping) {
    ProfileEditorWindow window(listOf({"Alpha", "Beta", "Gamma", "alphabet soup", "Delta"}));
    window.show();
    QTreeWidget* rows = window.list();
    click(window, "find");
    auto* shown = window.findChild<QDialog*>("findDialog");
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->isVisible());
    FindDialog* find = window.openFind();  // the one open already
    ASSERT_EQ(static_cast<QDialog*>(find), shown);
    EXPECT_TRUE(find->searchesDown());
    EXPECT_FALSE(enabled(*find, "findNext"));  // nothing to find yet
    find->textField()->setText("ALPHA");

    rows->setCurrentItem(nullptr);
    click(*find, "findNext");  // from the first row on
    EXPECT_EQ(currentRow(rows), 0);
    EXPECT_EQ(selectedRows(rows), std::vector<int>{0});
    click(*find, "findNext");
    EXPECT_EQ(currentRow(rows), 3);
    EXPECT_EQ(selectedRows(rows), std::vector<int>{3});
    EXPECT_TRUE(boxes.empty());
    click(*find, "findNext");  // no wrap to the top
    EXPECT_EQ(currentRow(rows), 3);
    EXPECT_EQ(boxTexts(), std::vector<std::string>{"'ALPHA' konnte nicht gefunden werden!"});

    find->setSearchesDown(false);
    find->textField()->setText("ta");
    click(*find, "findNext");
    EXPECT_EQ(currentRow(rows), 1);  // "Beta", above; "Delta" lies below
    find->textField()->setText("alpha");
    click(*find, "findNext");
    EXPECT_EQ(currentRow(rows), 0);
    click(*find, "findNext");
    EXPECT_EQ(currentRow(rows), 0);
    EXPECT_EQ(boxes.size(), 2u);

    // The same dialog serves the next Find....
    click(window, "find");
    EXPECT_EQ(window.findChildren<QDialog*>("findDialog").size(), 1);
}

TEST_F(ProfileEditorTest, FindInTheSheetSearchesThePageShown) {
    ProfileForm form;
    form.name = "Pupils";
    form.drives[6] = {true, "/srv/img/Chess.om4"};
    form.members = {{kAlice, false}, {kEveryone, false}, {kStaff, false}};
    auto sheet = ProfileSheet::make(nullptr, form, CProfileList{}, "Pupils", {});
    sheet->pages()->setCurrentIndex(ProfileSheet::kUsers);
    // Any cell matches: the domain column here.
    EXPECT_TRUE(sheet->findNext("builtin", true));
    EXPECT_EQ(currentRow(sheet->membersList()), 1);
    EXPECT_FALSE(sheet->findNext("builtin", true));
    sheet->pages()->setCurrentIndex(ProfileSheet::kDrives);
    EXPECT_TRUE(sheet->findNext("chess", true));
    EXPECT_EQ(currentRow(sheet->drivesList()), 6);
    EXPECT_TRUE(sheet->findNext("a:", false));
    EXPECT_EQ(currentRow(sheet->drivesList()), 0);
}

TEST_F(ProfileEditorTest, AccountPickerFiltersAsYouTypeAndPicksOnlyShownRows) {
    auto picker = AccountPicker::make(
        nullptr,
        {kAlice, kBob, Account{Sid::Group(4), "adm", "srv1", false}, kEveryone, kAdministrators});
    EXPECT_EQ(picker->windowTitle(), "Select User / Group");
    QTreeWidget* list = picker->list();
    ASSERT_EQ(list->topLevelItemCount(), 5);
    EXPECT_EQ(list->topLevelItem(0)->text(2), "User");
    EXPECT_EQ(list->topLevelItem(2)->text(2), "Group");
    EXPECT_FALSE(enabled(*picker, "ok"));

    auto shown = [&] {
        std::vector<std::string> names;
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            if (!list->topLevelItem(row)->isHidden())
                names.push_back(list->topLevelItem(row)->text(0).toStdString());
        }
        return names;
    };
    list->selectAll();
    picker->searchField()->setText("ADM");
    EXPECT_EQ(shown(), (std::vector<std::string>{"adm", "Administrators"}));
    EXPECT_EQ(picker->picked().size(), 2u);
    // The domain counts too; rows hidden once are no longer picked.
    picker->searchField()->setText("builtin");
    EXPECT_EQ(shown(), (std::vector<std::string>{"Everyone", "Administrators"}));
    EXPECT_EQ(picker->picked(), std::vector<Account>{kAdministrators});
    picker->searchField()->setText("");
    EXPECT_EQ(shown().size(), 5u);
    EXPECT_EQ(picker->picked(), std::vector<Account>{kAdministrators});
    EXPECT_TRUE(enabled(*picker, "ok"));
    click(*picker, "ok");
    EXPECT_EQ(picker->result(), QDialog::Accepted);
}

TEST_F(ProfileEditorTest, ImageChooserCopiesTheRowsPathAndOkTakesTheField) {
    const std::vector<ImageEntry> images = {{"Atlas 2026", "/srv/img/atlas.om4"},
                                            {"Chess", "/srv/img/chess.om4"}};
    auto chooser = ImageChooser::make(nullptr, images, "/srv/img/chess.om4");
    EXPECT_EQ(chooser->windowTitle(), "Select a Ombrix");
    EXPECT_EQ(chooser->list()->headerItem()->text(0), "Description");
    EXPECT_EQ(chooser->list()->headerItem()->text(1), "Ombrix");
    EXPECT_EQ(currentRow(chooser->list()), 1);  // the drive's image
    EXPECT_EQ(chooser->path(), "/srv/img/chess.om4");

    chooser->list()->setCurrentItem(chooser->list()->topLevelItem(0));
    EXPECT_EQ(chooser->pathField()->text(), "/srv/img/atlas.om4");
    chooser->pathField()->setText("/srv/other/typed.om4");
    click(*chooser, "ok");
    EXPECT_EQ(chooser->result(), QDialog::Accepted);
    EXPECT_EQ(chooser->path(), "/srv/other/typed.om4");
}

TEST(ImageEntryTest, PathsAndTitles) {
    EXPECT_EQ(imagePathOfEntry("/srv/img/a.om4|Atlas|x|"), "/srv/img/a.om4");
    EXPECT_EQ(imagePathOfEntry("/srv/img/a.om4"), "/srv/img/a.om4");
    EXPECT_EQ(imagePathOfEntry("|Atlas"), "");
    EXPECT_EQ(fileTitle("/srv/img/Atlas 2026.om4"), "Atlas 2026");
    EXPECT_EQ(fileTitle("\\\\server\\share\\Chess.v2.om4"), "Chess.v2");
    EXPECT_EQ(fileTitle("/srv/img.d/plain"), "plain");
    EXPECT_EQ(fileTitle("/srv/img/.hidden"), ".hidden");
    EXPECT_EQ(fileTitle("disc.iso"), "disc");
}

TEST_F(ProfileEditorTest, NoticeIsDismissedForGoodOnlyWithTheBoxAndOk) {
    auto notice = ProfileEditorWindow::makeNoticeDialog(nullptr);
    EXPECT_EQ(notice->windowTitle(), "Ombrix TS Profile Editor");
    auto* text = notice->findChild<QLabel*>("noticeText");
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text->text(),
              "Please note that the new settings in the profiles are not effective until the next "
              "time the user logs on.");
    EXPECT_EQ(box(*notice, "dontShowAgain")->text().remove('&'), "Do not show this message again");
    click(*notice, "ok");
    EXPECT_FALSE(ProfileEditorWindow::noticeDismissedForGood(*notice));

    auto checked = ProfileEditorWindow::makeNoticeDialog(nullptr);
    box(*checked, "dontShowAgain")->setChecked(true);
    checked->reject();
    EXPECT_FALSE(ProfileEditorWindow::noticeDismissedForGood(*checked));
    checked->setResult(QDialog::Rejected);
    click(*checked, "ok");
    EXPECT_TRUE(ProfileEditorWindow::noticeDismissedForGood(*checked));
}

TEST_F(ProfileEditorTest, Screenshots) {
    const std::string folder = screenshotFolder();
    CProfileList list;
    list.SetDefaults();
    for (const char* name : {"Teachers", "Pupils class 7", "Library terminals"}) {
        CProfile profile;
        profile.name = name;
        list.Profiles().push_back(profile);
    }
    ProfileEditorWindow window(list);
    window.show();
    select(window.list(), {1}, 1);
    EXPECT_TRUE(window.grab().save(QString::fromStdString(folder + "/profile_list.png")));

    ProfileForm form;
    form.name = "Pupils class 7";
    form.rights = CProfile::kInsertEject | CProfile::kCentralAdminClient;
    form.drives[4] = {true, "/srv/ombrix/images/Atlas 2026.om4"};
    form.drives[5] = {true, "/srv/ombrix/images/Chess.om4"};
    form.members = {{kStaff, false}, {kAlice, true}, {kEveryone, false}};
    auto sheet = ProfileSheet::make(&window, form, list, form.name, {});
    sheet->show();
    EXPECT_TRUE(sheet->grab().save(QString::fromStdString(folder + "/profile_general.png")));
    sheet->pages()->setCurrentIndex(ProfileSheet::kDrives);
    sheet->drivesList()->setCurrentItem(sheet->drivesList()->topLevelItem(4));
    EXPECT_TRUE(sheet->grab().save(QString::fromStdString(folder + "/profile_drives.png")));
    sheet->pages()->setCurrentIndex(ProfileSheet::kUsers);
    EXPECT_TRUE(sheet->grab().save(QString::fromStdString(folder + "/profile_users.png")));
    sheet.reset();

    auto picker = AccountPicker::make(&window, {kAlice, kBob, kStaff, kEveryone, kAdministrators});
    picker->show();
    picker->searchField()->setText("b");
    picker->list()->topLevelItem(1)->setSelected(true);
    EXPECT_TRUE(picker->grab().save(QString::fromStdString(folder + "/account_picker.png")));
    picker.reset();

    auto chooser = ImageChooser::make(&window,
                                      {{"Atlas 2026", "/srv/ombrix/images/Atlas 2026.om4"},
                                       {"Chess", "/srv/ombrix/images/Chess.om4"},
                                       {"Office suite", "/srv/ombrix/images/office.om4"}},
                                      "/srv/ombrix/images/Chess.om4");
    chooser->show();
    EXPECT_TRUE(chooser->grab().save(QString::fromStdString(folder + "/image_chooser.png")));
    EXPECT_TRUE(boxes.empty());
}

}  // namespace
