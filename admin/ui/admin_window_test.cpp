#include "admin/ui/admin_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "admin/ui/admin_texts.h"
#include "admin/ui/drives_dialog.h"
#include "admin/ui/image_select_dialog.h"
#include "admin/ui/interval_dialog.h"
#include "admin/ui/pool_dialogs.h"
#include "platform/ui/user_interface.h"
#include "support/box_log.h"
#include "support/screenshots.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::admin;
namespace ui = ombrix::ui;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

using ombrix::test::BoxLog;

// The pool as the fake backend serves it: servers with their sessions, answered on the workers'
// threads after an optional delay; every call the workers make is written down.
class FakePool {
  public:
    FakePool() {
        servers = {{"ALPHA", 0, 4711, true}, {"BETA", 0, 4712, false}};
        sessions["ALPHA"] = std::vector<SessionNode>{
            {0, "admin", {{'E', ""}, {'F', "/img/atlas.om4"}}},
            {3, "alice", {{'E', "/img/chess.om4"}}},
        };
        sessions["BETA"] = std::nullopt;  // silent
        globals["Pool_Name"] = "Research";
    }

    AdminBackend backend() {
        AdminBackend b;
        b.global = [this](const std::string& key) {
            std::lock_guard guard(lock);
            return globals[key];
        };
        b.setGlobal = [this](const std::string& key, const std::string& value) {
            std::lock_guard guard(lock);
            globals[key] = value;
        };
        b.ownServerName = [] { return std::string("ALPHA"); };
        b.images = [] {
            return std::vector<ImageChoice>{{"Atlas", "/img/atlas.om4"},
                                            {"Chess", "/img/chess.om4"}};
        };
        b.password = [this](const std::string& image) -> std::optional<std::string> {
            record("password " + image);
            return password;
        };
        b.updateInterval = [this] { return interval; };
        b.setUpdateInterval = [this](int seconds) { interval = seconds; };
        b.servers = [this] {
            std::lock_guard guard(lock);
            return servers;
        };
        b.sessions = [this](const ServerEntry& server) {
            record("sessions " + server.name);
            if (server.name == slowServer) std::this_thread::sleep_for(delay);
            std::lock_guard guard(lock);
            return sessions[server.name];
        };
        b.insert = [this](const SessionTarget& t, char letter, const std::string& image,
                          const std::string& pw, std::string& reason) {
            return answer("insert " + where(t, letter) + " " + image + " " + pw, reason);
        };
        b.eject = [this](const SessionTarget& t, char letter, std::string& reason) {
            return answer("eject " + where(t, letter), reason);
        };
        b.driveLetters = [this](const SessionTarget& t) {
            record("letters " + where(t, '?'));
            std::lock_guard guard(lock);
            return letters;
        };
        b.setDriveLetters = [this](const SessionTarget& t, const std::string& chosen, bool all) {
            std::string reason;
            return answer("set " + where(t, '?') + " " + chosen + (all ? " all" : ""), reason);
        };
        b.ownDriveOf = [](const std::string& image) { return image == "/img/atlas.om4" ? 'F' : 0; };
        b.ejectOwn = [this](char letter, std::string& reason) {
            return answer(std::string("eject own ") + letter, reason);
        };
        return b;
    }

    std::vector<std::string> callsStartingWith(const std::string& prefix) {
        std::lock_guard guard(lock);
        std::vector<std::string> out;
        for (const std::string& c : calls) {
            if (c.rfind(prefix, 0) == 0) out.push_back(c);
        }
        return out;
    }
    void setSessions(const std::string& server, std::optional<std::vector<SessionNode>> list) {
        std::lock_guard guard(lock);
        sessions[server] = std::move(list);
    }

    std::mutex lock;
    std::vector<ServerEntry> servers;
    std::map<std::string, std::optional<std::vector<SessionNode>>> sessions;
    std::map<std::string, std::string> globals;
    std::map<std::string, std::string> failures;  // call → reason it fails with
    std::optional<std::vector<DriveLetterRow>> letters;
    std::optional<std::string> password = std::string("pw");
    std::vector<std::string> calls;
    std::string slowServer;
    std::chrono::milliseconds delay{0};
    int interval = 30;

  private:
    static std::string where(const SessionTarget& t, char letter) {
        std::string s = t.server.name + ":" + std::to_string(t.session);
        if (letter != '?') s += std::string(" ") + letter;
        return s;
    }
    void record(const std::string& call) {
        std::lock_guard guard(lock);
        calls.push_back(call);
    }
    int answer(const std::string& call, std::string& reason) {
        record(call);
        std::lock_guard guard(lock);
        auto failing = failures.find(call);
        if (failing == failures.end()) return 0;
        reason = failing->second;
        return 5;
    }
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

bool settle(const AdminWindow& window) {
    return waitUntil([&] { return !window.busy(); });
}

QTreeWidgetItem* child(QTreeWidgetItem* parent, const QString& text) {
    for (int i = 0; parent != nullptr && i < parent->childCount(); ++i) {
        if (parent->child(i)->text(0) == text) return parent->child(i);
    }
    return nullptr;
}

std::vector<QString> childTexts(const QTreeWidgetItem* parent) {
    std::vector<QString> texts;
    for (int i = 0; parent != nullptr && i < parent->childCount(); ++i)
        texts.push_back(parent->child(i)->text(0));
    return texts;
}

void selectOnly(QTreeWidget* tree, const std::vector<QTreeWidgetItem*>& items) {
    tree->clearSelection();
    if (!items.empty()) tree->setCurrentItem(items.front());
    for (QTreeWidgetItem* item : items)
        item->setSelected(true);
}

using ombrix::test::screenshotFolder;

std::vector<std::string> sorted(std::vector<std::string> v) {
    std::sort(v.begin(), v.end());
    return v;
}

class AdminWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto log = std::make_unique<BoxLog>(ui::Answer::Yes);
        boxes = log.get();
        ui::setUserInterface(std::move(log));
    }
    void TearDown() override { ui::setUserInterface(nullptr); }

    // A window on the fake pool, its first answers in.
    std::unique_ptr<AdminWindow> open(AdminDialogs dialogs = {}) {
        auto window = std::make_unique<AdminWindow>(pool.backend(), std::move(dialogs));
        EXPECT_TRUE(settle(*window));
        return window;
    }

    FakePool pool;
    BoxLog* boxes = nullptr;
};

// ---- The tree ---------------------------------------------------------------------------------

TEST_F(AdminWindowTest, TreeShowsThePoolItsServersTheirSessionsAndDrives) {
    pool.globals["ServerChange"] = "1";
    auto window = open();
    // Building the list takes the change notice back.
    EXPECT_EQ(pool.globals["ServerChange"], "");
    QTreeWidgetItem* root = window->rootNode();
    EXPECT_EQ(root->text(0), "Research");
    EXPECT_EQ(childTexts(root), (std::vector<QString>{"ALPHA", "BETA"}));

    QTreeWidgetItem* alpha = window->serverNode("ALPHA");
    EXPECT_EQ(childTexts(alpha),
              (std::vector<QString>{"admin - Console: 0", "alice - SessionID: 3"}));
    EXPECT_EQ(childTexts(child(alpha, "admin - Console: 0")),
              (std::vector<QString>{"E:", "F: - /img/atlas.om4"}));
    EXPECT_EQ(childTexts(child(alpha, "alice - SessionID: 3")),
              (std::vector<QString>{"E: - /img/chess.om4"}));
    EXPECT_EQ(alpha->data(0, Qt::UserRole).toInt(), kServerNode);
    EXPECT_EQ(child(alpha, "alice - SessionID: 3")->data(0, Qt::UserRole).toInt(), kSessionNode);

    // The silent server is listed without sessions, and says why.
    QTreeWidgetItem* beta = window->serverNode("BETA");
    ASSERT_NE(beta, nullptr);
    EXPECT_EQ(beta->childCount(), 0);
    EXPECT_EQ(beta->toolTip(0), "The server does not answer.");
    EXPECT_EQ(window->sessionCount(), 2);
    EXPECT_EQ(window->findChild<QLabel*>("sessionCount")->text(), "2 sessions");

    window->resize(720, 460);
    window->show();
    EXPECT_TRUE(
        window->grab().save(QString::fromStdString(screenshotFolder() + "/admin_tree.png")));

    // Without a pool name the root shows this server's name.
    pool.globals["Pool_Name"] = "";
    window->refresh();
    EXPECT_EQ(root->text(0), "ALPHA");
    ASSERT_TRUE(settle(*window));
}

TEST_F(AdminWindowTest, RefreshKeepsNodesFoundAgainAndRemovesVanishedOnes) {
    auto window = open();
    QTreeWidgetItem* alice = child(window->serverNode("ALPHA"), "alice - SessionID: 3");
    ASSERT_NE(alice, nullptr);
    alice->setData(0, Qt::UserRole + 40, "kept");
    alice->setExpanded(false);
    ASSERT_EQ(alice->childCount(), 1);
    QTreeWidgetItem* aliceE = alice->child(0);
    aliceE->setSelected(true);

    // admin logs off, bob logs on, alice's drive is emptied; BETA answers now.
    pool.setSessions("ALPHA", std::vector<SessionNode>{{3, "alice", {{'E', ""}}},
                                                       {5, "bob", {{'G', "/img/atlas.om4"}}}});
    pool.setSessions("BETA", std::vector<SessionNode>{{2, "carol", {{'E', ""}}}});
    window->refresh();
    ASSERT_TRUE(settle(*window));

    QTreeWidgetItem* alpha = window->serverNode("ALPHA");
    EXPECT_EQ(childTexts(alpha),
              (std::vector<QString>{"alice - SessionID: 3", "bob - SessionID: 5"}));
    QTreeWidgetItem* again = child(alpha, "alice - SessionID: 3");
    ASSERT_EQ(again, alice);
    EXPECT_EQ(again->data(0, Qt::UserRole + 40).toString(), "kept");
    EXPECT_FALSE(again->isExpanded());
    EXPECT_EQ(childTexts(again), std::vector<QString>{"E:"});
    // The emptied drive is the same node, still selected, and tells the new state.
    EXPECT_EQ(again->child(0), aliceE);
    EXPECT_TRUE(aliceE->isSelected());
    ASSERT_EQ(window->selectedDrives().size(), 1u);
    EXPECT_EQ(window->selectedDrives()[0].image, "");
    QTreeWidgetItem* beta = window->serverNode("BETA");
    EXPECT_EQ(childTexts(beta), std::vector<QString>{"carol - SessionID: 2"});
    EXPECT_TRUE(beta->toolTip(0).isEmpty());
    EXPECT_EQ(window->sessionCount(), 3);

    // BETA falls silent again: what it showed goes.
    pool.setSessions("BETA", std::nullopt);
    window->refresh();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(window->serverNode("BETA")->childCount(), 0);
    // ... and speaks again with what it had before it fell silent.
    pool.setSessions("BETA", std::vector<SessionNode>{{2, "carol", {{'E', ""}}}});
    window->refresh();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(childTexts(window->serverNode("BETA")), std::vector<QString>{"carol - SessionID: 2"});

    // The server list changes: BETA leaves at the next second, GAMMA comes.
    {
        std::lock_guard guard(pool.lock);
        pool.servers = {{"ALPHA", 0, 4711, true}, {"GAMMA", 0, 4713, false}};
        pool.globals["ServerChange"] = "1";
    }
    window->tick();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(childTexts(window->rootNode()), (std::vector<QString>{"ALPHA", "GAMMA"}));
    EXPECT_EQ(window->serverNode("ALPHA"), alpha);
    EXPECT_EQ(pool.globals["ServerChange"], "");
}

TEST_F(AdminWindowTest, ASlowServerHoldsUpNeitherTheWindowNorTheOthers) {
    auto window = open();
    pool.slowServer = "BETA";
    pool.delay = 500ms;
    pool.setSessions("ALPHA", std::vector<SessionNode>{{7, "dave", {}}});

    QElapsedTimer clock;
    clock.start();
    window->refresh();
    EXPECT_LT(clock.elapsed(), 100);
    EXPECT_TRUE(window->busy());
    // ALPHA's answer is shown while BETA is still being waited for.
    ASSERT_TRUE(waitUntil(
        [&] { return window->sessionCount() == 1 && !window->serverBusy("ALPHA"); }, 400));
    EXPECT_TRUE(window->busy());

    // While BETA is busy it is not asked again: a refresh asks only ALPHA, and the timer does
    // not refresh at all even when the interval is over.
    const size_t beta = pool.callsStartingWith("sessions BETA").size();
    const size_t alpha = pool.callsStartingWith("sessions ALPHA").size();
    window->refresh();
    for (int second = 0; second < 40; ++second)
        window->tick();
    ASSERT_TRUE(settle(*window));
    // The workers note their calls when they run them, so they are counted once all is done.
    EXPECT_EQ(pool.callsStartingWith("sessions BETA").size(), beta);
    EXPECT_EQ(pool.callsStartingWith("sessions ALPHA").size(), alpha + 1);
    EXPECT_GE(clock.elapsed(), 450);

    // Idle again, the timer refreshes once when the interval (30 s) is over.
    const size_t before = pool.callsStartingWith("sessions ALPHA").size();
    for (int second = 0; second < 31; ++second)
        window->tick();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(pool.callsStartingWith("sessions ALPHA").size(), before + 1);
}

// ---- Insert and eject -------------------------------------------------------------------------

TEST_F(AdminWindowTest, InsertAndEjectActOnEverySelectedDrive) {
    std::vector<ImageChoice> offered;
    std::optional<std::string> chosen = "/img/new.om4";
    AdminDialogs dialogs;
    dialogs.chooseImage = [&](QWidget*, const std::vector<ImageChoice>& images) {
        offered = images;
        return chosen;
    };
    pool.setSessions("BETA", std::vector<SessionNode>{{2, "carol", {{'H', "/img/chess.om4"}}}});
    auto window = open(dialogs);
    QTreeWidget* tree = window->tree();
    QTreeWidgetItem* alpha = window->serverNode("ALPHA");
    QTreeWidgetItem* adminF = child(child(alpha, "admin - Console: 0"), "F: - /img/atlas.om4");
    QTreeWidgetItem* aliceE = child(child(alpha, "alice - SessionID: 3"), "E: - /img/chess.om4");
    QTreeWidgetItem* carolH =
        child(child(window->serverNode("BETA"), "carol - SessionID: 2"), "H: - /img/chess.om4");
    ASSERT_TRUE(adminF && aliceE && carolH);

    // Only drive nodes offer insert and eject.
    selectOnly(tree, {alpha});
    EXPECT_FALSE(window->action(command::kInsert)->isEnabled());
    EXPECT_FALSE(window->action(command::kEject)->isEnabled());
    selectOnly(tree, {adminF, aliceE, carolH, alpha});
    EXPECT_TRUE(window->action(command::kInsert)->isEnabled());
    EXPECT_EQ(window->selectedDrives().size(), 3u);

    pool.failures["insert ALPHA:0 F /img/new.om4 pw"] = "The drive is locked";
    const size_t refreshes = pool.callsStartingWith("sessions").size();
    window->action(command::kInsert)->trigger();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(offered.size(), 2u);
    EXPECT_EQ(pool.callsStartingWith("password"),
              std::vector<std::string>{"password /img/new.om4"});
    EXPECT_EQ(sorted(pool.callsStartingWith("insert")),
              (std::vector<std::string>{"insert ALPHA:0 F /img/new.om4 pw",
                                        "insert ALPHA:3 E /img/new.om4 pw",
                                        "insert BETA:2 H /img/new.om4 pw"}));
    EXPECT_EQ(boxes->texts,
              std::vector<std::string>{"Insert / Eject '/img/new.om4' failed on 'ALPHA / admin - "
                                       "Console: 0 / F:' \nReason: The drive is locked"});
    // Once every drive has answered the tree is read again.
    EXPECT_GT(pool.callsStartingWith("sessions").size(), refreshes);

    // A cancelled password or chooser inserts nothing.
    pool.password = std::nullopt;
    selectOnly(tree, {child(child(window->serverNode("ALPHA"), "admin - Console: 0"), "E:")});
    window->insert();
    chosen = std::nullopt;
    window->insert();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(pool.callsStartingWith("insert").size(), 3u);
    EXPECT_EQ(pool.callsStartingWith("password").size(), 2u);

    // Eject names the image the failing drive holds.
    boxes->texts.clear();
    carolH =
        child(child(window->serverNode("BETA"), "carol - SessionID: 2"), "H: - /img/chess.om4");
    adminF = child(child(window->serverNode("ALPHA"), "admin - Console: 0"), "F: - /img/atlas.om4");
    ASSERT_TRUE(carolH && adminF);
    pool.failures["eject BETA:2 H"] = "Access denied";
    selectOnly(tree, {carolH, adminF});
    window->action(command::kEject)->trigger();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(sorted(pool.callsStartingWith("eject")),
              (std::vector<std::string>{"eject ALPHA:0 F", "eject BETA:2 H"}));
    EXPECT_EQ(boxes->texts,
              std::vector<std::string>{"Insert / Eject '/img/chess.om4' failed on 'BETA / carol - "
                                       "SessionID: 2 / H:' \nReason: Access denied"});
}

TEST_F(AdminWindowTest, EjectCdFindsTheOwnDriveHoldingTheImage) {
    std::optional<std::string> chosen = "/img/atlas.om4";
    AdminDialogs dialogs;
    dialogs.chooseImage = [&](QWidget*, const std::vector<ImageChoice>&) { return chosen; };
    auto window = open(dialogs);
    window->action(command::kEjectCd)->trigger();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(pool.callsStartingWith("eject"), std::vector<std::string>{"eject own F"});
    EXPECT_TRUE(boxes->texts.empty());

    chosen = "/img/chess.om4";
    window->ejectCd();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(pool.callsStartingWith("eject").size(), 1u);
    EXPECT_EQ(boxes->texts, std::vector<std::string>{
                                "The image '/img/chess.om4' is in no drive of this session."});
}

TEST(ImageSelectDialog, OffersTheImagesAndTakesOnlyAChosenRow) {
    auto dialog = ImageSelectDialog::make(
        nullptr, {{"Chess", "/img/chess.om4"}, {"Atlas", "/img/atlas.om4"}});
    EXPECT_EQ(dialog->windowTitle(), "Select Ombrix");
    EXPECT_EQ(dialog->list()->headerItem()->text(0), "Description");
    EXPECT_EQ(dialog->list()->headerItem()->text(1), "File");
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    EXPECT_EQ(dialog->path(), "");
    dialog->list()->setCurrentItem(dialog->list()->topLevelItem(0));
    EXPECT_TRUE(dialog->okButton()->isEnabled());
    EXPECT_EQ(dialog->path(), "/img/atlas.om4");  // sorted by description
}

// ---- Virtual drives ---------------------------------------------------------------------------

std::vector<DriveLetterRow> sessionLetters() {
    return {{'E', true, "/img/chess.om4"}, {'F', true, "(F:)"}, {'H', false, "/home/alice"}};
}

TEST_F(AdminWindowTest, DrivesDialogSetsResetsAndReadsAgain) {
    std::function<void(std::optional<DrivesDialog::Rows>)> pending;
    int reads = 0;
    auto dialog =
        DrivesDialog::make(nullptr, "alice - SessionID: 3", sessionLetters(), [&](auto done) {
            ++reads;
            pending = std::move(done);
        });
    QTreeWidget* list = dialog->list();
    ASSERT_EQ(list->topLevelItemCount(), 26);
    EXPECT_EQ(list->topLevelItem(4)->text(0), "E:");
    EXPECT_EQ(list->topLevelItem(4)->text(1), "In use - /img/chess.om4");
    EXPECT_EQ(list->topLevelItem(5)->text(1), "Available");
    EXPECT_EQ(dialog->choice(), (DrivesChoice{"EF", false}));
    dialog->show();
    EXPECT_TRUE(
        dialog->grab().save(QString::fromStdString(screenshotFolder() + "/admin_drives.png")));

    // Untick E, tick G and everyone: Set drives gives what is ticked.
    list->topLevelItem(4)->setCheckState(0, Qt::Unchecked);
    list->topLevelItem(6)->setCheckState(0, Qt::Checked);
    dialog->allSessionsBox()->setChecked(true);
    EXPECT_EQ(dialog->choice(), (DrivesChoice{"FG", true}));
    EXPECT_TRUE(boxes->texts.empty());
    // Taking a letter something else uses warns.
    list->topLevelItem(7)->setCheckState(0, Qt::Checked);
    EXPECT_EQ(boxes->texts, std::vector<std::string>{
                                "Caution: you might be overwriting an important drive letter!"});

    dialog->resetButton()->click();
    EXPECT_EQ(dialog->choice().letters, "EF");
    EXPECT_EQ(boxes->texts.size(), 1u);

    // Update waits for the answer with its buttons off.
    dialog->updateButton()->click();
    EXPECT_TRUE(dialog->reading());
    EXPECT_FALSE(dialog->setButton()->isEnabled());
    dialog->updateButton()->click();  // not twice
    EXPECT_EQ(reads, 1);
    pending(DrivesDialog::Rows{{'K', true, "(K:)"}});
    EXPECT_FALSE(dialog->reading());
    EXPECT_TRUE(dialog->setButton()->isEnabled());
    EXPECT_EQ(dialog->choice().letters, "K");
    // A failed read says so and keeps the rows.
    dialog->update();
    pending(std::nullopt);
    EXPECT_EQ(boxes->texts.back(), "Could not get SessionDrives!");
    EXPECT_EQ(dialog->choice().letters, "K");
    dialog->resetButton()->click();
    EXPECT_EQ(dialog->choice().letters, "K");
}

TEST_F(AdminWindowTest, VirtualDrivesReadsTheSessionAndSetsItsLetters) {
    std::vector<std::string> opened;
    std::optional<DrivesChoice> answer = DrivesChoice{"EG", true};
    AdminDialogs dialogs;
    dialogs.editDrives = [&](QWidget*, const QString& session, std::vector<DriveLetterRow> rows,
                             DrivesDialog::Reader reader) {
        opened.push_back(session.toStdString() + " " + chosenLetters(rows));
        // Update from the dialog asks the session's server again.
        bool read = false;
        reader([&](std::optional<DrivesDialog::Rows> again) { read = again.has_value(); });
        EXPECT_TRUE(waitUntil([&] { return read; }));
        return answer;
    };
    pool.letters = sessionLetters();
    auto window = open(dialogs);
    QTreeWidgetItem* alice = child(window->serverNode("ALPHA"), "alice - SessionID: 3");
    selectOnly(window->tree(), {window->serverNode("ALPHA")});
    EXPECT_FALSE(window->action(command::kDrives)->isEnabled());
    selectOnly(window->tree(), {alice});
    ASSERT_TRUE(window->action(command::kDrives)->isEnabled());

    window->action(command::kDrives)->trigger();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(opened, std::vector<std::string>{"alice - SessionID: 3 EF"});
    EXPECT_EQ(pool.callsStartingWith("letters").size(), 2u);
    EXPECT_EQ(pool.callsStartingWith("set"), std::vector<std::string>{"set ALPHA:3 EG all"});
    EXPECT_TRUE(boxes->texts.empty());

    // Setting fails; reading fails (no dialog then).
    pool.failures["set ALPHA:3 EG all"] = "refused";
    window->editDrives();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(boxes->texts, std::vector<std::string>{"Failure on setting drive letters"});
    pool.letters = std::nullopt;
    window->editDrives();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(boxes->texts.back(), "Could not get SessionDrives!");
    EXPECT_EQ(opened.size(), 2u);
    // Cancel sets nothing.
    pool.letters = sessionLetters();
    answer = std::nullopt;
    window->editDrives();
    ASSERT_TRUE(settle(*window));
    EXPECT_EQ(pool.callsStartingWith("set").size(), 2u);
}

// ---- Settings, bars and place -----------------------------------------------------------------

TEST_F(AdminWindowTest, IntervalBarsAndPlacementAreKept) {
    AdminDialogs dialogs;
    dialogs.editInterval = [](QWidget*, int seconds) -> std::optional<int> {
        EXPECT_EQ(seconds, 30);
        return 12;
    };
    auto window = open(dialogs);
    window->action(command::kViewSettings)->trigger();
    EXPECT_EQ(window->updateInterval(), 12);
    EXPECT_EQ(pool.interval, 12);
    EXPECT_EQ(IntervalDialog::make(nullptr, 0)->seconds(), IntervalDialog::kMinSeconds);
    EXPECT_EQ(window->action(command::kRefresh)->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(window->action(command::kInsert)->statusTip(), "Load a CD in the selected drives");

    std::map<std::string, int> stored = {{"WindowPosLeft", 40},   {"WindowPosTop", 30},
                                         {"WindowPosRight", 740}, {"WindowPosBottom", 530},
                                         {"WindowToolbar", 1},    {"ToolBarText", 0},
                                         {"WindowStatusbar", 0}};
    StateStore store;
    store.get = [&](std::string_view name) -> std::optional<int> {
        auto it = stored.find(std::string(name));
        return it == stored.end() ? std::nullopt : std::optional<int>(it->second);
    };
    store.set = [&](std::string_view name, int value) { stored[std::string(name)] = value; };
    window->showPlaced(store);
    EXPECT_EQ(window->toolBar()->toolButtonStyle(), Qt::ToolButtonIconOnly);
    EXPECT_FALSE(window->statusBar()->isVisible());
    EXPECT_TRUE(window->toolBar()->isVisible());
    window->action(command::kToolbar)->trigger();
    EXPECT_FALSE(window->toolBar()->isVisible());
    window->action(command::kStatusBar)->trigger();
    stored.clear();
    window->savePlacement(store);
    EXPECT_EQ(stored["WindowToolbar"], 0);
    EXPECT_EQ(stored["WindowStatusbar"], 1);
    EXPECT_EQ(stored["ToolBarText"], 0);
    EXPECT_EQ(stored["WindowPosRight"] - stored["WindowPosLeft"], 700);
    EXPECT_EQ(stored["WindowIsIcon"], 0);
    EXPECT_EQ(stored.size(), 9u);
}

TEST(AdminTexts, FillingPlacesAndMnemonics) {
    EXPECT_EQ(fillText(adminText(173), {"a.om4", "ALPHA", "100% %s"}),
              "Insert / Eject 'a.om4' failed on 'ALPHA' \nReason: 100% %s");
    EXPECT_EQ(fillText("%d of %s, 50%%", {"3"}), "3 of , 50%");
    EXPECT_EQ(withMnemonic("Search on disk"), "&Search on disk");
    EXPECT_EQ(withMnemonic("&Set "), "&Set ");
    EXPECT_EQ(withMnemonic("R&&D"), "&R&&D");
    setAdminTextSource([](int id) -> std::optional<std::string> {
        if (id == 152) return std::string("Entfernen");
        return std::nullopt;
    });
    EXPECT_EQ(adminText(152), "Entfernen");
    EXPECT_EQ(adminText(153), "Edit");
    setAdminTextSource({});
    EXPECT_EQ(adminText(152), "Delete");
}

// ---- Server pools -----------------------------------------------------------------------------

// The pool dialogs on a temporary folder, with a fake of the servers' answers.
class PoolDialogsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto log = std::make_unique<BoxLog>(ui::Answer::Yes);
        boxes = log.get();
        ui::setUserInterface(std::move(log));
        base = fs::canonical(root.path());
        folder = (base / "pool1").string();
        fs::create_directories(folder);
    }
    void TearDown() override { ui::setUserInterface(nullptr); }

    PoolBackend backend() {
        PoolBackend b;
        b.load = [this] { return known; };
        b.save = [this](const std::vector<KnownPool>& pools) { known = pools; };
        b.servers = [] {
            return std::vector<ServerEntry>{{"alpha", 0, 4711, true}, {"BETA", 0, 4712, false}};
        };
        b.setter.setSharedPath = [this](const std::string& server, int port,
                                        const std::string& where, bool own, std::string& reason) {
            std::lock_guard guard(lock);
            calls.push_back(server + " " + std::to_string(port) + " " +
                            (own ? std::string("own") : where));
            if (server == refusing) {
                reason = "";
                return -1;
            }
            return 0;
        };
        b.setter.poolOf = [](const std::string&) { return std::optional<std::string>(""); };
        b.setter.settingsFile = [] { return std::string(); };
        b.chooseFolder = [this](QWidget*, const QString& title) {
            titles.push_back(title.toStdString());
            return chosenFolder;
        };
        b.askName = [this](QWidget*) { return poolName; };
        b.runPool = [this](PoolDialog& dialog) {
            if (runPool) runPool(dialog);
        };
        return b;
    }

    // Ticks the rows of `servers` (and unticks the others), then Set, waiting for it to end.
    static void setServers(PoolDialog& dialog, const std::vector<QString>& servers) {
        for (int i = 0; i < dialog.list()->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = dialog.list()->topLevelItem(i);
            const bool in =
                std::find(servers.begin(), servers.end(), row->text(0)) != servers.end();
            row->setCheckState(0, in ? Qt::Checked : Qt::Unchecked);
        }
        dialog.setButton()->click();
        EXPECT_TRUE(dialog.applying());
        EXPECT_FALSE(dialog.setButton()->isEnabled());
        EXPECT_TRUE(waitUntil([&] { return !dialog.applying(); }));
    }

    ombrix::test::TempRoot root;
    fs::path base;
    std::string folder;
    BoxLog* boxes = nullptr;
    std::mutex lock;
    std::vector<std::string> calls;
    std::string refusing;
    std::vector<KnownPool> known;
    std::vector<std::string> titles;
    std::optional<std::string> chosenFolder;
    std::optional<std::string> poolName = std::string("Research");
    std::function<void(PoolDialog&)> runPool;
};

TEST_F(PoolDialogsTest, AddCreatesAPoolAndItsDialogSetsItsServers) {
    auto manager = PoolManagementDialog::make(nullptr, backend());
    chosenFolder = folder + "/";
    std::vector<std::vector<PoolRow>> shown;
    runPool = [&](PoolDialog& dialog) {
        shown.push_back(dialog.rows());
        EXPECT_EQ(dialog.windowTitle(), "Server Pool");
        EXPECT_EQ(dialog.list()->headerItem()->text(0), "Server in this pool definition");
        dialog.show();
        EXPECT_TRUE(
            dialog.grab().save(QString::fromStdString(screenshotFolder() + "/admin_pool.png")));
        setServers(dialog, {"ALPHA"});
        EXPECT_EQ(dialog.lastResult(), std::optional<bool>(true));
    };
    manager->addButton()->click();
    EXPECT_EQ(titles, std::vector<std::string>{"Choose a path for the pool definition file"});
    EXPECT_TRUE(fs::exists(fs::path(folder) / "OXTServ.dat"));
    EXPECT_EQ(known, (std::vector<KnownPool>{{"Research", folder}}));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0],
              (std::vector<PoolRow>{{"ALPHA", 4711, false, false}, {"BETA", 4712, false, false}}));
    EXPECT_EQ(calls, std::vector<std::string>{"ALPHA 4711 " + folder});
    EXPECT_TRUE(boxes->texts.empty());

    ASSERT_EQ(manager->list()->topLevelItemCount(), 1);
    EXPECT_EQ(manager->list()->topLevelItem(0)->text(0), "Research");
    EXPECT_EQ(manager->list()->topLevelItem(0)->text(1), QString::fromStdString(folder));
    manager->show();
    EXPECT_TRUE(
        manager->grab().save(QString::fromStdString(screenshotFolder() + "/admin_pools.png")));

    // Edit shows ALPHA as a member; BETA does not answer, so it stays out and is told.
    refusing = "BETA";
    runPool = [&](PoolDialog& dialog) {
        shown.push_back(dialog.rows());
        setServers(dialog, {"ALPHA", "BETA"});
        EXPECT_EQ(dialog.lastResult(), std::optional<bool>(false));
        EXPECT_EQ(dialog.list()->topLevelItem(1)->checkState(0), Qt::Unchecked);
    };
    manager->list()->setCurrentItem(manager->list()->topLevelItem(0));
    manager->editButton()->click();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[1][0], (PoolRow{"ALPHA", 4711, true, true}));
    EXPECT_EQ(calls.back(), "BETA 4712 " + folder);
    EXPECT_EQ(boxes->texts,
              std::vector<std::string>{"Error while communicating with server 'BETA'"});

    // A pool with a server cannot be deleted; once empty it can.
    manager->deleteButton()->click();
    EXPECT_EQ(boxes->texts.back(),
              "The pool definition file is not empty.\nYou can delete only empty pool definition "
              "files.");
    EXPECT_EQ(manager->pools().size(), 1u);
    runPool = [&](PoolDialog& dialog) { setServers(dialog, {}); };
    manager->edit();
    EXPECT_EQ(calls.back(), "ALPHA 4711 own");
    manager->remove();
    EXPECT_FALSE(fs::exists(fs::path(folder) / "OXTServ.dat"));
    EXPECT_TRUE(known.empty());
    EXPECT_EQ(manager->list()->topLevelItemCount(), 0);
}

TEST_F(PoolDialogsTest, FoldersAreCheckedBeforeAPoolIsMadeOrTakenUp) {
    auto manager = PoolManagementDialog::make(nullptr, backend());
    // Nothing to take up where no pool file is; a relative path is no pool folder at all.
    chosenFolder = folder;
    manager->searchButton()->click();
    EXPECT_EQ(boxes->texts.back(), "Cannot find pool definition file in path '" + folder + "'");
    chosenFolder = "relative/pool";
    manager->add();
    EXPECT_EQ(boxes->texts.back(),
              "Pool definition files have to have a path in UNC naming conventions");
    EXPECT_TRUE(known.empty());

    // A cancelled name makes no file.
    chosenFolder = folder;
    poolName = std::nullopt;
    manager->add();
    EXPECT_FALSE(fs::exists(fs::path(folder) / "OXTServ.dat"));

    // A pool made elsewhere is taken up under the name its file gives; a second pool cannot be
    // made in its folder.
    ASSERT_TRUE(setPoolName(folder, "Labs"));
    manager->search();
    EXPECT_EQ(known, (std::vector<KnownPool>{{"Labs", folder}}));
    poolName = "Other";
    manager->add();
    EXPECT_EQ(boxes->texts.back(),
              "A pool definition file already exists in path '" + folder + "'");
    EXPECT_EQ(known.size(), 1u);

    // A pool whose file has gone is only forgotten.
    fs::remove(fs::path(folder) / "OXTServ.dat");
    manager->list()->setCurrentItem(manager->list()->topLevelItem(0));
    const size_t told = boxes->texts.size();
    manager->remove();
    EXPECT_TRUE(known.empty());
    EXPECT_EQ(boxes->texts.size(), told);
}

TEST_F(PoolDialogsTest, PoolNameDialogWantsAName) {
    auto dialog = PoolNameDialog::make(nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Name of Server Pool");
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    dialog->field()->setText("   ");
    EXPECT_FALSE(dialog->okButton()->isEnabled());
    dialog->field()->setText("  Labs ");
    EXPECT_TRUE(dialog->okButton()->isEnabled());
    EXPECT_EQ(dialog->name(), "Labs");
}

}  // namespace
