#include "tools/ui/network_mode_dialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QTimer>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/ui/user_interface.h"
#include "support/box_log.h"
#include "support/screenshots.h"

namespace {

using namespace ombrix::tools;
namespace ui = ombrix::ui;
namespace fs = std::filesystem;

using ombrix::test::BoxLog;

// Texts by number, so the tests see which text a control got.
std::string numbered(int id) {
    return "#" + std::to_string(id);
}

// The client library as the controller sees it: entering and leaving change the mode it reports.
struct FakeClient {
    int mode = 0;
    bool adminFileExists = true;
    int enters = 0;
    int leaves = 0;
    std::vector<std::pair<std::string, std::string>> passwords;

    NetworkModePorts ports() {
        NetworkModePorts p;
        p.hasRight = [](int) { return true; };
        p.adminMode = [this] { return mode; };
        p.adminComputer = [] { return std::string("HERE"); };
        p.adminFolder = [] { return std::string("/srv/ombrix/adm"); };
        p.adminFileExists = [this] { return adminFileExists; };
        p.enter = [this] {
            ++enters;
            mode = 1;
            return 0;
        };
        p.leave = [this] {
            ++leaves;
            mode = 0;
            return 0;
        };
        p.setPassword = [this](const std::string& oldPassword, const std::string& newPassword) {
            passwords.emplace_back(oldPassword, newPassword);
            return 0;
        };
        return p;
    }
};

using ombrix::test::screenshotFolder;

void fillPasswords(QWidget* dialog, const QString& oldPw, const QString& newPw,
                   const QString& again) {
    dialog->findChild<QLineEdit*>("oldPassword")->setText(oldPw);
    dialog->findChild<QLineEdit*>("newPassword")->setText(newPw);
    dialog->findChild<QLineEdit*>("againPassword")->setText(again);
}

// Answers the change-password dialog that `owner` opens next, once its own loop runs.
void answerPasswordDialog(QWidget* owner, const QString& newPw, bool ok) {
    QTimer::singleShot(0, owner, [owner, newPw, ok] {
        auto* dialog = owner->findChild<QDialog*>("changePasswordDialog");
        ASSERT_NE(dialog, nullptr);
        ASSERT_TRUE(dialog->isVisible());
        fillPasswords(dialog, "old", newPw, newPw);
        dialog->findChild<QPushButton*>(ok ? "ok" : "cancel")->click();
    });
}

using Saved = std::tuple<int, int, bool>;

class NetworkModeDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto log = std::make_unique<BoxLog>();
        boxes = log.get();
        ui::setUserInterface(std::move(log));
    }
    void TearDown() override { ui::setUserInterface(nullptr); }

    // The usual setup: numbered texts, recorded messages, places and password dialogs.
    NetworkModeDialog::Setup setup() {
        NetworkModeDialog::Setup s;
        s.text = numbered;
        s.tell = [this](const std::string& text) { told.push_back(text); };
        s.savePlacement = [this](int x, int y, bool top) { saved.emplace_back(x, y, top); };
        s.changePassword = [this](QWidget*) {
            ++passwordRuns;
            enteredBeforePassword = client.enters;
            return passwordAnswer;
        };
        return s;
    }

    FakeClient client;
    NetworkModeController controller{client.ports()};
    BoxLog* boxes = nullptr;
    std::vector<std::string> told;
    std::vector<Saved> saved;
    int passwordRuns = 0;
    int enteredBeforePassword = -1;
    bool passwordAnswer = true;
};

// ---- What the window shows ----------------------------------------------------------------------

TEST_F(NetworkModeDialogTest, ShowsTheModeAndTheButtonsTips) {
    NetworkModeDialog dialog(controller, setup());
    EXPECT_EQ(dialog.objectName(), "networkModeDialog");
    EXPECT_EQ(dialog.windowTitle(), "Ombrix - Network Mode");
    EXPECT_EQ(dialog.modeLabel()->text(), "#103");
    EXPECT_EQ(dialog.modeButton()->toolTip(), "#110");
    EXPECT_EQ(dialog.passwordButton()->toolTip(), "#109");
    EXPECT_EQ(dialog.exitButton()->toolTip(), "#108");
    auto* top = dialog.findChild<QCheckBox*>("topMost");
    ASSERT_NE(top, nullptr);
    EXPECT_EQ(top->text(), "#105");

    // The label follows the mode the client library reports, when asked to look again.
    client.mode = 1;
    EXPECT_EQ(dialog.modeLabel()->text(), "#103");
    dialog.refreshMode();
    EXPECT_EQ(dialog.modeLabel()->text(), "#104");

    dialog.show();
    EXPECT_TRUE(
        dialog.grab().save(QString::fromStdString(screenshotFolder() + "/network_mode.png")));
}

TEST_F(NetworkModeDialogTest, StandsWhereSavedElseInTheTopRightCorner) {
    NetworkModeDialog::Setup placed = setup();
    placed.placement = {40, 50, false};
    NetworkModeDialog there(controller, placed);
    EXPECT_EQ(there.pos(), QPoint(40, 50));
    EXPECT_FALSE(there.topMost());
    EXPECT_FALSE(there.findChild<QCheckBox*>("topMost")->isChecked());

    // Only one of the two coordinates counts as none.
    NetworkModeDialog::Setup half = setup();
    half.placement.x = 40;
    NetworkModeDialog corner(controller, half);
    const QRect desktop = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_EQ(corner.x() + corner.width(), desktop.x() + desktop.width());
    EXPECT_EQ(corner.y(), 0);
    EXPECT_TRUE(corner.topMost());
    EXPECT_TRUE(corner.windowFlags().testFlag(Qt::WindowStaysOnTopHint));

    // The check box switches the flag; the window stays shown.
    corner.show();
    corner.findChild<QCheckBox*>("topMost")->click();
    EXPECT_FALSE(corner.topMost());
    EXPECT_FALSE(corner.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(corner.isVisible());
    corner.setTopMost(true);
    EXPECT_TRUE(corner.findChild<QCheckBox*>("topMost")->isChecked());
    EXPECT_TRUE(corner.isVisible());
}

// ---- Mode and password --------------------------------------------------------------------------

TEST_F(NetworkModeDialogTest, ModeButtonTogglesAndShowsTheModeReachedBack) {
    NetworkModeDialog dialog(controller, setup());
    dialog.modeButton()->click();
    EXPECT_EQ(client.enters, 1);
    EXPECT_EQ(dialog.modeLabel()->text(), "#104");
    dialog.modeButton()->click();
    EXPECT_EQ(client.leaves, 1);
    EXPECT_EQ(dialog.modeLabel()->text(), "#103");
    // The password exists, so it was not asked for; the wait cursor is gone again.
    EXPECT_EQ(passwordRuns, 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(NetworkModeDialogTest, WithoutAnAdministrationFileTheFirstToggleAsksForAPassword) {
    client.adminFileExists = false;
    NetworkModeDialog dialog(controller, setup());

    passwordAnswer = false;
    dialog.modeButton()->click();
    EXPECT_EQ(passwordRuns, 1);
    EXPECT_EQ(client.enters, 0);
    EXPECT_EQ(dialog.modeLabel()->text(), "#103");

    passwordAnswer = true;
    dialog.modeButton()->click();
    EXPECT_EQ(passwordRuns, 2);
    EXPECT_EQ(enteredBeforePassword, 0);
    EXPECT_EQ(client.enters, 1);
    EXPECT_EQ(dialog.modeLabel()->text(), "#104");

    // The password button runs it too, and reads the mode again whatever it answers.
    passwordAnswer = false;
    client.mode = 0;  // another program left central mode meanwhile
    dialog.passwordButton()->click();
    EXPECT_EQ(passwordRuns, 3);
    EXPECT_EQ(dialog.modeLabel()->text(), "#103");
    EXPECT_EQ(client.enters + client.leaves, 1);
}

TEST_F(NetworkModeDialogTest, WithoutAReplacementTheRealPasswordDialogIsRun) {
    client.adminFileExists = false;
    NetworkModeDialog::Setup s = setup();
    s.changePassword = nullptr;
    NetworkModeDialog dialog(controller, s);
    dialog.show();

    answerPasswordDialog(&dialog, "fresh", true);
    dialog.passwordButton()->click();
    EXPECT_EQ(client.passwords,
              (std::vector<std::pair<std::string, std::string>>{{"old", "fresh"}}));

    // Cancelled before a toggle: the mode stays.
    answerPasswordDialog(&dialog, "other", false);
    dialog.modeButton()->click();
    EXPECT_EQ(client.passwords.size(), 1u);
    EXPECT_EQ(client.enters, 0);

    answerPasswordDialog(&dialog, "other", true);
    dialog.modeButton()->click();
    EXPECT_EQ(client.passwords.size(), 2u);
    EXPECT_EQ(client.enters, 1);
}

// ---- Ending -------------------------------------------------------------------------------------

TEST_F(NetworkModeDialogTest, ExitInCentralModeTellsOnceLeavesAndSavesThePlace) {
    client.mode = 1;
    NetworkModeDialog::Setup s = setup();
    s.placement = {10, 20, false};
    NetworkModeDialog dialog(controller, s);
    dialog.show();
    const QPoint stood = dialog.pos();

    dialog.exitButton()->click();
    EXPECT_EQ(told, std::vector<std::string>{"#174"});
    EXPECT_EQ(client.leaves, 1);
    EXPECT_EQ(saved, (std::vector<Saved>{{stood.x(), stood.y(), false}}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);

    // Ended already: neither a later close nor the button does it again.
    dialog.show();
    dialog.close();
    dialog.exitButton()->click();
    EXPECT_EQ(told.size(), 1u);
    EXPECT_EQ(client.leaves, 1);
    EXPECT_EQ(saved.size(), 1u);
    EXPECT_TRUE(boxes->texts.empty());
}

TEST_F(NetworkModeDialogTest, ClosingTheWindowEndsLikeExit) {
    client.mode = 1;
    NetworkModeDialog::Setup s = setup();
    s.tell = nullptr;  // the message box then
    NetworkModeDialog dialog(controller, s);
    dialog.show();
    EXPECT_TRUE(dialog.close());
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(boxes->texts, std::vector<std::string>{"#174"});
    EXPECT_EQ(boxes->icons, std::vector<ui::Icon>{ui::Icon::Information});
    EXPECT_EQ(client.leaves, 1);
    ASSERT_EQ(saved.size(), 1u);
    EXPECT_TRUE(std::get<2>(saved[0]));

    // In normal mode nothing is said and nothing left; Escape closes the same way.
    FakeClient idle;
    NetworkModeController normal(idle.ports());
    NetworkModeDialog other(normal, setup());
    other.show();
    QShortcut* escape = nullptr;
    for (QShortcut* shortcut : other.findChildren<QShortcut*>())
        if (shortcut->key() == QKeySequence(Qt::Key_Escape)) escape = shortcut;
    ASSERT_NE(escape, nullptr);
    emit escape->activated();
    EXPECT_FALSE(other.isVisible());
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(idle.leaves, 0);
    EXPECT_EQ(saved.size(), 2u);
}

// ---- Change password ----------------------------------------------------------------------------

TEST_F(NetworkModeDialogTest, ChangePasswordNeedsTheSameNewEntryTwice) {
    ChangePasswordDialog dialog(controller, numbered);
    EXPECT_EQ(dialog.windowTitle(), "Ombrix - Change Password");
    for (QLineEdit* field : {dialog.oldField(), dialog.newField(), dialog.againField()}) {
        EXPECT_EQ(field->echoMode(), QLineEdit::Password);
        EXPECT_EQ(field->maxLength(), kPasswordLength);
        EXPECT_FALSE(field->accessibleName().isEmpty());
    }
    dialog.show();
    fillPasswords(&dialog, "old", "new one", "new 0ne");
    EXPECT_TRUE(
        dialog.grab().save(QString::fromStdString(screenshotFolder() + "/change_password.png")));

    auto* ok = dialog.findChild<QPushButton*>("ok");
    ok->click();
    EXPECT_EQ(boxes->texts, std::vector<std::string>{"#102"});
    EXPECT_EQ(boxes->icons, std::vector<ui::Icon>{ui::Icon::Error});
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(client.passwords.empty());

    dialog.againField()->setText("new one");
    ok->click();
    EXPECT_EQ(client.passwords,
              (std::vector<std::pair<std::string, std::string>>{{"old", "new one"}}));
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(boxes->texts.size(), 1u);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

}  // namespace
