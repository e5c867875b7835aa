#include "tools/ui/drive_editor_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/ui/user_interface.h"
#include "support/box_log.h"
#include "support/screenshots.h"

namespace {

using namespace ombrix::tools;
namespace platform = ombrix::platform;
namespace ui = ombrix::ui;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using ombrix::test::BoxLog;

std::string numbered(int id) {
    return "#" + std::to_string(id);
}

// A session with a fixed disk C:, a CD drive D: holding "DATA" and its virtual CD drives (E: with
// "ATLAS", F: empty at first). Setting letters makes them the session's virtual drives.
struct FakeSession {
    std::string current = "EF";
    std::string standard = "EF";
    bool setWorks = true;
    int reads = 0;
    std::vector<std::pair<std::string, bool>> sets;

    DriveLetterPorts ports() {
        DriveLetterPorts p;
        p.current = [this] {
            ++reads;
            return current;
        };
        p.standard = [this] { return standard; };
        p.set = [this](const std::string& letters, bool all) {
            sets.emplace_back(letters, all);
            if (setWorks) current = letters;
            return setWorks;
        };
        return p;
    }
    DriveProbes probes() {
        DriveProbes p;
        p.type = [this](char letter) {
            if (letter == 'C') return platform::kDriveFixed;
            if (letter == 'D' || virtualLetter(letter)) return platform::kDriveCdRom;
            return platform::kDriveNoRootDir;
        };
        p.cdLabel = [](char letter) {
            if (letter == 'D') return std::string("DATA");
            if (letter == 'E') return std::string("ATLAS");
            return std::string();
        };
        p.displayName = [](char letter) {
            return letter == 'C' ? std::string("System (C:)") : std::string();
        };
        return p;
    }
    bool virtualLetter(char letter) const { return current.find(letter) != std::string::npos; }
};

bool waitUntil(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > ms) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

using ombrix::test::screenshotFolder;

QTreeWidgetItem* row(const DriveEditorDialog& dialog, char letter) {
    return dialog.list()->topLevelItem(letter - 'A');
}

class DriveEditorDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto log = std::make_unique<BoxLog>();
        boxes = log.get();
        ui::setUserInterface(std::move(log));
    }
    void TearDown() override { ui::setUserInterface(nullptr); }

    // Without `tell` the dialog's own message box speaks.
    std::unique_ptr<DriveEditorDialog> open(int settleMs = 0, bool tell = true) {
        DriveEditorDialog::Setup setup;
        setup.ports = session.ports();
        setup.probes = session.probes();
        setup.text = numbered;
        if (tell) setup.tell = [this](const std::string& text) { told.push_back(text); };
        setup.settleMs = settleMs;
        return std::make_unique<DriveEditorDialog>(std::move(setup));
    }

    FakeSession session;
    BoxLog* boxes = nullptr;
    std::vector<std::string> told;
};

// ---- The list -----------------------------------------------------------------------------------

TEST_F(DriveEditorDialogTest, ListsEveryLetterWithItsStateAndCheck) {
    auto dialog = open();
    QTreeWidget* list = dialog->list();
    EXPECT_EQ(list->headerItem()->text(0), "#102");
    EXPECT_EQ(list->headerItem()->text(1), "#57346");
    EXPECT_EQ(list->toolTip(), "#112");
    EXPECT_EQ(dialog->setButton()->toolTip(), "#113");

    // One item per row, as the rows of the letters read say.
    const std::vector<DriveRow> expected = driveRows("EF", session.probes());
    ASSERT_EQ(dialog->rows(), expected);
    ASSERT_EQ(list->topLevelItemCount(), 26);
    for (int i = 0; i < 26; ++i) {
        const DriveRow& r = expected[static_cast<size_t>(i)];
        QTreeWidgetItem* item = list->topLevelItem(i);
        SCOPED_TRACE(std::string(1, r.letter));
        EXPECT_EQ(item->text(0).toStdString(), r.display);
        EXPECT_EQ(item->data(0, Qt::UserRole).toChar(), QChar(r.letter));
        EXPECT_EQ(item->checkState(0) == Qt::Checked, r.checked);
        EXPECT_EQ(item->flags().testFlag(Qt::ItemIsUserCheckable), r.checkable);
    }

    // The fake's drives: a fixed disk and a CD drive in use, two virtual drives, free letters.
    EXPECT_EQ(row(*dialog, 'C')->text(1), "#57348");
    EXPECT_EQ(row(*dialog, 'D')->text(0), "DATA (D:)");
    EXPECT_EQ(row(*dialog, 'D')->text(1), "#57348");
    EXPECT_EQ(row(*dialog, 'E')->text(0), "ATLAS (E:)");
    EXPECT_EQ(row(*dialog, 'F')->text(0), " (F:)");
    EXPECT_EQ(row(*dialog, 'F')->text(1), "#57349");
    EXPECT_EQ(row(*dialog, 'F')->checkState(0), Qt::Checked);
    EXPECT_EQ(row(*dialog, 'G')->text(1), "#57347");
    EXPECT_TRUE(row(*dialog, 'G')->flags().testFlag(Qt::ItemIsUserCheckable));

    // Nothing changed yet, and the letters are the standard ones.
    EXPECT_FALSE(dialog->setButton()->isEnabled());
    EXPECT_FALSE(dialog->resetButton()->isEnabled());

    dialog->show();
    EXPECT_TRUE(
        dialog->grab().save(QString::fromStdString(screenshotFolder() + "/drive_editor.png")));
    dialog->findChild<QPushButton*>("cancel")->click();
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(session.sets.empty());
}

TEST_F(DriveEditorDialogTest, SetFollowsTheTicksAndResetTheStandardLettersAsASet) {
    session.standard = "FE";
    auto dialog = open();
    row(*dialog, 'G')->setCheckState(0, Qt::Checked);
    EXPECT_TRUE(dialog->rows()[6].checked);
    EXPECT_TRUE(dialog->setButton()->isEnabled());
    row(*dialog, 'G')->setCheckState(0, Qt::Unchecked);
    EXPECT_FALSE(dialog->setButton()->isEnabled());
    row(*dialog, 'F')->setCheckState(0, Qt::Unchecked);
    EXPECT_TRUE(dialog->setButton()->isEnabled());

    EXPECT_FALSE(dialog->resetButton()->isEnabled());
    session.standard = "EFG";
    dialog->findChild<QPushButton*>("refresh")->click();
    EXPECT_TRUE(dialog->resetButton()->isEnabled());
}

// ---- Set drives and Reset -----------------------------------------------------------------------

TEST_F(DriveEditorDialogTest, SetGivesTheTickedLettersAndShowsThemAfterTheyHaveSettled) {
    auto dialog = open(30);
    dialog->show();
    EXPECT_TRUE(dialog->setButton()->isDefault());
    row(*dialog, 'E')->setCheckState(0, Qt::Unchecked);
    row(*dialog, 'H')->setCheckState(0, Qt::Checked);
    row(*dialog, 'G')->setCheckState(0, Qt::Checked);
    dialog->allSessionsBox()->setChecked(true);

    const int reads = session.reads;
    dialog->setButton()->click();
    EXPECT_EQ(session.sets, (std::vector<std::pair<std::string, bool>>{{"FGH", true}}));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(session.reads, reads);  // not before the letters settle

    ASSERT_TRUE(waitUntil([&] { return session.reads > reads; }));
    EXPECT_EQ(row(*dialog, 'G')->text(1), "#57349");
    EXPECT_EQ(row(*dialog, 'E')->text(1), "#57347");
    EXPECT_EQ(row(*dialog, 'E')->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(dialog->setButton()->isEnabled());
    EXPECT_TRUE(dialog->resetButton()->isEnabled());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(told.empty());
}

TEST_F(DriveEditorDialogTest, ResetSetsTheStandardLettersReadAfresh) {
    session.current = "G";
    auto dialog = open();
    EXPECT_TRUE(dialog->resetButton()->isEnabled());
    session.standard = "EFH";
    dialog->resetButton()->click();
    EXPECT_EQ(session.sets, (std::vector<std::pair<std::string, bool>>{{"EFH", false}}));
    ASSERT_TRUE(waitUntil([&] { return row(*dialog, 'H')->checkState(0) == Qt::Checked; }));
    EXPECT_FALSE(dialog->resetButton()->isEnabled());
}

TEST_F(DriveEditorDialogTest, AFailedSetOrResetIsToldAndTheListShowsTheLettersUnchanged) {
    session.setWorks = false;
    auto dialog = open();
    row(*dialog, 'G')->setCheckState(0, Qt::Checked);
    dialog->setDrives();
    EXPECT_EQ(told, std::vector<std::string>{"#116"});
    ASSERT_TRUE(waitUntil([&] { return row(*dialog, 'G')->checkState(0) == Qt::Unchecked; }));
    EXPECT_EQ(row(*dialog, 'G')->text(1), "#57347");
    EXPECT_FALSE(dialog->setButton()->isEnabled());

    session.current = "G";
    auto plain = open(0, false);
    plain->allSessionsBox()->setChecked(true);
    plain->reset();
    EXPECT_EQ(session.sets.back(), (std::pair<std::string, bool>{"EF", true}));
    EXPECT_EQ(boxes->texts, std::vector<std::string>{"#116"});
    EXPECT_EQ(told.size(), 1u);
}

// ---- Refresh ------------------------------------------------------------------------------------

TEST_F(DriveEditorDialogTest, RefreshAndF5ReadTheLettersAgainAndKeepTheCurrentRow) {
    auto dialog = open();
    QTreeWidget* list = dialog->list();
    list->setCurrentItem(row(*dialog, 'K'));

    session.current = "EFG";
    dialog->findChild<QPushButton*>("refresh")->click();
    EXPECT_EQ(row(*dialog, 'G')->checkState(0), Qt::Checked);
    EXPECT_EQ(row(*dialog, 'G')->text(1), "#57349");
    EXPECT_EQ(list->currentItem(), row(*dialog, 'K'));

    QShortcut* f5 = nullptr;
    for (QShortcut* shortcut : dialog->findChildren<QShortcut*>())
        if (shortcut->key() == QKeySequence(Qt::Key_F5)) f5 = shortcut;
    ASSERT_NE(f5, nullptr);
    session.current = "E";
    emit f5->activated();
    EXPECT_EQ(row(*dialog, 'F')->checkState(0), Qt::Unchecked);
    EXPECT_EQ(row(*dialog, 'G')->checkState(0), Qt::Unchecked);
    EXPECT_EQ(list->currentItem(), row(*dialog, 'K'));
    // The list as refilled counts as unchanged: nothing to set.
    EXPECT_FALSE(dialog->setButton()->isEnabled());
}

}  // namespace
