#include "tools/tray/ui/tray_app.h"

#include <gtest/gtest.h>

#include <QCoreApplication>

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>
#include <QTimer>
#include <initializer_list>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/screenshots.h"

namespace {

// Chooses a menu command; the command runs once the event loop comes round, as after a menu.
void fire(QAction* action) {
    action->trigger();
    QCoreApplication::processEvents();
}

using namespace ombrix::tray;
using ombrix::test::screenshotFolder;

// Text 142 with a second "%s" that has to stay as it is.
constexpr const char* kCannotRunText = "Cannot run '%s' (%s stays)";

std::string text(int id) {
    return id == traytext::kCannotRun ? kCannotRunText : trayBuiltInText(id);
}

TrayImage image(int index, const char* description, char drive) {
    TrayImage i;
    i.index = index;
    i.description = description;
    i.drive = drive;
    return i;
}

// Two drives, E holding the local image "Atlas", and two network images.
TrayState twoDrives() {
    TrayState state;
    state.tools = {{command::kManagement, traytext::kManagement, "OXTmng.exe"},
                   {command::kSettings, traytext::kSettings, "OXTSet.exe"}};
    state.letters = "EF";
    state.local = {image(1, "Atlas", 'E')};
    state.network = {image(5001, "Chess", 0), image(5002, "Racing", 0)};
    state.localIndexHi = 1;
    state.overview = true;
    return state;
}

// The system as the tray sees it; every call is kept.
struct FakeSystem {
    TrayState state = twoDrives();
    int stateReads = 0;
    int insertResult = 0;
    bool toolsStart = true;
    std::vector<std::pair<char, int>> inserts;
    std::vector<int> insertErrors;
    std::vector<char> ejects;
    std::vector<char> explored;
    std::vector<std::pair<std::string, std::string>> started;  // program, arguments
    std::vector<std::string> errors;
    int abouts = 0;

    TrayPorts ports() {
        TrayPorts p;
        p.state = [this] {
            ++stateReads;
            return state;
        };
        p.insert = [this](char letter, int index) {
            inserts.emplace_back(letter, index);
            return insertResult;
        };
        p.reportInsertError = [this](int code) { insertErrors.push_back(code); };
        p.eject = [this](char letter) {
            ejects.push_back(letter);
            return 0;
        };
        p.explore = [this](char letter) { explored.push_back(letter); };
        p.startTool = [this](const TrayTool& tool, const std::string& arguments) {
            started.emplace_back(tool.program, arguments);
            return toolsStart;
        };
        p.about = [this] { ++abouts; };
        p.tellError = [this](const std::string& message) { errors.push_back(message); };
        p.text = text;
        return p;
    }
};

QStringList texts(const QMenu* menu) {
    QStringList all;
    for (const QAction* action : menu->actions())
        all << action->text();
    return all;
}

QAction* actionNamed(const QMenu* menu, const QString& name) {
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator() && action->text() == name) return action;
    }
    return nullptr;
}

// The action at the end of a path of texts through the menu and its submenus.
QAction* walk(const QMenu* menu, std::initializer_list<const char*> path) {
    QAction* action = nullptr;
    for (const char* name : path) {
        if (!menu) return nullptr;
        action = actionNamed(menu, name);
        if (!action) return nullptr;
        menu = action->menu();
    }
    return action;
}

class TrayAppTest : public ::testing::Test {
  protected:
    FakeSystem system;
    TrayApp app{system.ports()};
};

// ---- The menu -----------------------------------------------------------------------------------

TEST_F(TrayAppTest, MenuHasTheToolsTheDriveSubmenusAndTheEnd) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    EXPECT_EQ(system.stateReads, 1);
    EXPECT_EQ(menu->objectName(), "trayMenu");
    EXPECT_EQ(texts(menu.get()), (QStringList{"CD Management", "Settings", "", "Explorer", "Eject",
                                              "Insert", "", "About...", "", "Exit"}));
    EXPECT_EQ(menu->defaultAction(), menu->actions().front());

    QAction* management = actionNamed(menu.get(), "CD Management");
    EXPECT_EQ(management->data().toInt(), command::kManagement);
    EXPECT_EQ(management->objectName(), QString("command%1").arg(command::kManagement));
    EXPECT_FALSE(management->isCheckable());
    EXPECT_EQ(actionNamed(menu.get(), "Exit")->data().toInt(), command::kExit);
    EXPECT_EQ(actionNamed(menu.get(), "About...")->data().toInt(), command::kAbout);

    for (const char* perDrive : {"Explorer", "Insert"}) {
        QMenu* sub = actionNamed(menu.get(), perDrive)->menu();
        ASSERT_NE(sub, nullptr) << perDrive;
        EXPECT_EQ(texts(sub), (QStringList{"E:", "F:"})) << perDrive;
    }
    // The Eject items tell what each drive holds.
    EXPECT_EQ(texts(actionNamed(menu.get(), "Eject")->menu()),
              (QStringList{"E:  Atlas", "F:  (Empty drive)"}));
    EXPECT_EQ(walk(menu.get(), {"Eject", "F:  (Empty drive)"})->data().toInt(),
              command::kEjectBase + 1);
    EXPECT_EQ(walk(menu.get(), {"Explorer", "E:"})->data().toInt(), command::kExplorerBase);
}

TEST_F(TrayAppTest, InsertListsEveryImageCheckedOnlyInTheDriveThatHoldsIt) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    for (const char* drive : {"E:", "F:"}) {
        QMenu* images = walk(menu.get(), {"Insert", drive})->menu();
        ASSERT_NE(images, nullptr) << drive;
        EXPECT_EQ(texts(images), (QStringList{"Atlas", "Chess", "Racing"})) << drive;
        for (QAction* action : images->actions()) {
            const bool held = std::string(drive) == "E:" && action->text() == "Atlas";
            EXPECT_EQ(action->isChecked(), held) << drive << action->text().toStdString();
            EXPECT_TRUE(action->isEnabled());
        }
    }
}

// ---- What the commands do -----------------------------------------------------------------------

TEST_F(TrayAppTest, InsertReachesTheDriveWithTheCatalogueIndex) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    fire(walk(menu.get(), {"Insert", "F:", "Chess"}));
    EXPECT_EQ(system.inserts, (std::vector<std::pair<char, int>>{{'F', 5001}}));
    EXPECT_TRUE(system.insertErrors.empty());

    system.insertResult = 7;
    fire(walk(menu.get(), {"Insert", "E:", "Atlas"}));
    EXPECT_EQ(system.inserts.back(), (std::pair<char, int>{'E', 1}));
    EXPECT_EQ(system.insertErrors, std::vector<int>{7});
}

TEST_F(TrayAppTest, EjectAndExplorerReachTheirDrive) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    fire(walk(menu.get(), {"Eject", "F:  (Empty drive)"}));
    fire(walk(menu.get(), {"Explorer", "E:"}));
    fire(walk(menu.get(), {"Explorer", "F:"}));
    EXPECT_EQ(system.ejects, std::vector<char>{'F'});
    EXPECT_EQ(system.explored, (std::vector<char>{'E', 'F'}));
    EXPECT_TRUE(system.inserts.empty());
    EXPECT_TRUE(system.started.empty());
}

TEST_F(TrayAppTest, ToolsStartFromTheMenuAndAFailureIsTold) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    fire(actionNamed(menu.get(), "Settings"));
    EXPECT_EQ(system.started.back(), (std::pair<std::string, std::string>{"OXTSet.exe", ""}));
    EXPECT_TRUE(system.errors.empty());

    system.toolsStart = false;
    fire(actionNamed(menu.get(), "CD Management"));
    EXPECT_EQ(system.started.back(), (std::pair<std::string, std::string>{"OXTmng.exe", "/start"}));
    EXPECT_EQ(system.errors, std::vector<std::string>{"Cannot run 'OXTmng.exe /start' (%s stays)"});

    fire(actionNamed(menu.get(), "About..."));
    EXPECT_EQ(system.abouts, 1);
}

TEST_F(TrayAppTest, ExitQuitsTheApplication) {
    std::unique_ptr<QMenu> menu = app.buildMenu();
    QAction* exit = actionNamed(menu.get(), "Exit");
    QTimer::singleShot(0, exit, [exit] { exit->trigger(); });
    // Should Exit not quit, this ends the loop with another code.
    QTimer giveUp;
    giveUp.setSingleShot(true);
    QObject::connect(&giveUp, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    giveUp.start(5000);
    EXPECT_EQ(QApplication::exec(), 0);
}

// ---- The icon -----------------------------------------------------------------------------------

TEST_F(TrayAppTest, DoubleClickStartsTheManagementProgramWithoutArguments) {
    EXPECT_EQ(app.icon()->toolTip().toStdString(), trayBuiltInText(traytext::kTooltip));

    // No menu was opened yet: the tools are read for it.
    emit app.icon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(system.started,
              (std::vector<std::pair<std::string, std::string>>{{"OXTmng.exe", ""}}));

    system.toolsStart = false;
    emit app.icon()->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_EQ(system.errors, std::vector<std::string>{"Cannot run 'OXTmng.exe' (%s stays)"});

    // Without the management program a double click does nothing.
    system.state.tools.erase(system.state.tools.begin());
    std::unique_ptr<QMenu> menu = app.buildMenu();
    app.startManagement();
    EXPECT_EQ(system.started.size(), 2u);
    EXPECT_EQ(system.errors.size(), 1u);
}

TEST_F(TrayAppTest, RightButtonOpensAFreshMenuAndTheLeftOneNothing) {
    emit app.icon()->activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(app.openMenu(), nullptr);
    EXPECT_EQ(system.stateReads, 0);

    emit app.icon()->activated(QSystemTrayIcon::Context);
    ASSERT_NE(app.openMenu(), nullptr);
    EXPECT_TRUE(app.openMenu()->isVisible());
    EXPECT_EQ(system.stateReads, 1);

    // Opened again, it shows the state of then.
    system.state.letters = "E";
    app.popupMenu({20, 20});
    EXPECT_EQ(system.stateReads, 2);
    EXPECT_EQ(texts(walk(app.openMenu(), {"Insert"})->menu()), QStringList{"E:"});
    app.openMenu()->close();
}

TEST_F(TrayAppTest, ScreenshotOfTheInsertList) {
    app.popupMenu({10, 10});
    QMenu* menu = app.openMenu();
    ASSERT_NE(menu, nullptr);
    QAction* insert = actionNamed(menu, "Insert");
    menu->setActiveAction(insert);
    QMenu* drives = insert->menu();
    ASSERT_TRUE(drives->isVisible());
    QAction* e = actionNamed(drives, "E:");
    drives->setActiveAction(e);
    QMenu* images = e->menu();
    ASSERT_TRUE(images->isVisible());

    // Each menu is a window of its own: they are painted together as they stand on the screen.
    const std::vector<QMenu*> shown{menu, drives, images};
    QRect area;
    for (QMenu* m : shown)
        area |= m->geometry();
    QPixmap picture(area.size());
    picture.fill(Qt::white);
    {
        QPainter painter(&picture);
        for (QMenu* m : shown)
            painter.drawPixmap(m->geometry().topLeft() - area.topLeft(), m->grab());
    }
    EXPECT_TRUE(picture.save(QString::fromStdString(screenshotFolder() + "/tray_menu.png")));
    menu->close();
}

// ---- The hot key --------------------------------------------------------------------------------

TEST(GlobalHotKeyTest, WithoutX11OrAPortalTheKeyIsRefusedAndThatIsSaidOnce) {
    std::vector<std::string> logged;
    int presses = 0;
    std::unique_ptr<GlobalHotKey> key = GlobalHotKey::create(
        [&presses] { ++presses; }, [&logged](const std::string& line) { logged.push_back(line); });
    ASSERT_NE(key, nullptr);
    EXPECT_FALSE(key->set(2, 'K'));
    EXPECT_FALSE(key->set(2, 'K'));
    EXPECT_EQ(logged, std::vector<std::string>{
                          "No global hot key on this desktop: the tray menu opens with the mouse "
                          "only."});
    EXPECT_EQ(presses, 0);
}

}  // namespace
