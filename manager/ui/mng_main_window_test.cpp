#include "manager/ui/mng_main_window.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QLocale>
#include <QMenu>
#include <QMenuBar>
#include <QTextBrowser>
#include <QToolBar>
#include <QTreeWidget>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "manager/access_state.h"
#include "manager/command_ids.h"
#include "manager/image_columns.h"
#include "manager/test_probes.h"
#include "manager/ui/mng_about_dialog.h"
#include "manager/ui/mng_controller.h"
#include "manager/ui/operation_commands.h"
#include "omxcvt.h"
#include "platform/message_bus.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/screenshots.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::mng;
namespace cmd = ombrix::mng::command;

// A session with two drives (one holding an image), a local tree of three folders and a shared
// image.
DocumentSources sources() {
    DocumentSources s;
    s.catalogue = [] {
        std::vector<CatalogueImage> images;
        const char* names[] = {"Office suite", "Atlas 2026", "Racing", "Chess", "Pool manual"};
        const int indexes[] = {1, 2, 3, 4, 5001};
        for (int i = 0; i < 5; ++i) {
            CatalogueImage image;
            image.index = indexes[i];
            image.description = names[i];
            image.path = "/srv/images/disc" + std::to_string(indexes[i]) + ".om4";
            image.discType = static_cast<uint16_t>(i == 1 ? 32 | 0x400 : 0);
            image.sizeBytes = uint64_t(100 + 50 * i) * 1024 * 1024;
            image.created = 1765000000 + i * 86400;
            images.push_back(image);
        }
        return images;
    };
    s.drives = [] {
        return std::vector<VirtualDrive>{{'E', 3, "/srv/images/disc3.om4"}, {'F', -1, ""}};
    };
    s.physicalDrives = [] { return std::string("D"); };
    s.localTreeLines = [] {
        return std::vector<std::string>{"\\Games\\|/srv/images/disc3.om4",
                                        "\\Games\\|/srv/images/disc4.om4",
                                        "\\Office\\|/srv/images/disc1.om4", "\\Reference\\|"};
    };
    s.globalTreeLines = [] {
        return std::vector<std::string>{"\\Reference\\|/srv/images/disc5001.om4"};
    };
    return s;
}

using ombrix::test::screenshotFolder;

std::vector<QString> listTexts(const QTreeWidget* list) {
    std::vector<QString> out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out.push_back(list->topLevelItem(i)->text(0));
    return out;
}

TEST(MngMainWindow, TreeListAndMenusOfAUserWithAllRights) {
    MngDocument document;
    document.load(sources(), {});
    std::vector<int> ran;
    int refreshed = 0;
    MngMainWindow::Handlers handlers;
    handlers.refresh = [&] { ++refreshed; };
    handlers.command = [&](int id) { ran.push_back(id); };
    MngMainWindow window(document, {}, shownColumns(""), handlers);
    window.show();
    EXPECT_EQ(window.windowTitle(), "Ombrix TS v5 - CD Management");
    ASSERT_TRUE(window.selectFolder("\\Games\\"));
    EXPECT_EQ(listTexts(window.list()), (std::vector<QString>{"Chess", "Racing"}));
    EXPECT_EQ(window.list()->topLevelItem(1)->text(3), "E:");  // the drive holding it
    ASSERT_TRUE(window.selectFolder("\\"));
    // Folders first, then the images at the root.
    EXPECT_EQ(listTexts(window.list()),
              (std::vector<QString>{"Games", "Office", "Reference", "Atlas 2026"}));
    EXPECT_EQ(window.list()->topLevelItem(3)->text(13), "DVD-ROM");
    EXPECT_EQ(window.list()->columnCount(), 15);
    // The machine's own CD drive sits under "CD Drives" with its own menu.
    const QTreeWidgetItem* cds = window.tree()->topLevelItem(1);
    ASSERT_EQ(cds->text(0), "CD Drives");
    ASSERT_EQ(cds->childCount(), 1);
    EXPECT_EQ(cds->child(0)->text(0), "D:");
    EXPECT_EQ(window.itemKindOf(cds->child(0)), ItemKind::PhysicalDrive);

    // The view's own commands are done by the window: the list keeps only its descriptions.
    window.action(cmd::kList)->trigger();
    EXPECT_TRUE(window.list()->isColumnHidden(1));
    EXPECT_TRUE(window.action(cmd::kList)->isChecked());
    EXPECT_FALSE(window.action(cmd::kDetails)->isChecked());
    window.action(cmd::kDetails)->trigger();
    EXPECT_FALSE(window.list()->isColumnHidden(1));
    window.action(cmd::kStatusBar)->trigger();
    EXPECT_FALSE(window.action(cmd::kStatusBar)->isChecked());
    window.action(cmd::kStatusBar)->trigger();

    window.action(cmd::kRefresh)->trigger();
    window.action(cmd::kEject)->trigger();
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(ran, (std::vector<int>{cmd::kEject}));
    EXPECT_EQ(window.action(cmd::kEject)->shortcut(), QKeySequence("Ctrl+E"));
    EXPECT_FALSE(window.action(cmd::kAdministration)->statusTip().isEmpty());
    window.grab().save(QString::fromStdString(screenshotFolder() + "/manager_main.png"));
}

TEST(MngMainWindow, AUserWithoutRightsSeesNeitherTheCommandsNorTheirButtons) {
    MngDocument document;
    document.load(sources(), {});
    // The commands of a user with no rights whose files are all read-only.
    AccessState none;
    AccessProbes probes;
    probes.setting = [](std::string_view) { return std::string(); };
    probes.installed = [](std::string_view) { return true; };
    const std::vector<int> disabled = disabledCommands(none, probes);
    MngMainWindow window(document, disabled, shownColumns("0413"), {});
    window.show();
    for (int id : {cmd::kAdministration, cmd::kInsert, cmd::kEject, cmd::kAdd, cmd::kDelete,
                   cmd::kNetworkMode, cmd::kChangeDrives}) {
        EXPECT_EQ(window.action(id), nullptr) << id;
    }
    for (QAction* a : window.findChild<QToolBar*>("toolbar")->actions())
        EXPECT_NE(a->objectName(), QString("command%1").arg(cmd::kEject));
    bool administrationInMenus = false;
    for (QAction* top : window.menuBar()->actions()) {
        for (QAction* a : top->menu()->actions())
            administrationInMenus |= a->text() == "&Administration";
    }
    EXPECT_FALSE(administrationInMenus);
    ASSERT_NE(window.action(cmd::kRefresh), nullptr);
    // Context menus lose the same commands, and a menu with nothing left does not open.
    std::unique_ptr<QMenu> drive = window.contextMenuFor(ItemKind::VirtualDrive);
    ASSERT_NE(drive, nullptr);
    QStringList texts;
    for (QAction* a : drive->actions()) {
        if (!a->isSeparator()) texts << a->text();
    }
    EXPECT_EQ(texts, (QStringList{"&Explorer"}));
    EXPECT_EQ(drive->actions().size(), 1);  // no separator left at either end
    EXPECT_EQ(window.contextMenuFor(ItemKind::ImageFolder), nullptr);
    // Only the columns the setting lists, after the description.
    EXPECT_EQ(window.list()->columnCount(), 3);
    EXPECT_EQ(window.list()->headerItem()->text(1), "Size (MB)");
    window.grab().save(QString::fromStdString(screenshotFolder() + "/manager_no_rights.png"));
}

TEST(MngMainWindow, SeparatedViewShowsLocalAndNetworkBranches) {
    MngDocument document;
    ViewOptions options;
    options.separated = true;
    document.load(sources(), options);
    MngMainWindow window(document, {}, shownColumns(""), {});
    window.show();
    ASSERT_TRUE(window.selectFolder("\\network\\Reference\\"));
    EXPECT_EQ(listTexts(window.list()), (std::vector<QString>{"Pool manual"}));
    ASSERT_TRUE(window.selectFolder("\\local\\Reference\\"));
    EXPECT_TRUE(listTexts(window.list()).empty());
    window.grab().save(QString::fromStdString(screenshotFolder() + "/manager_separated.png"));
}

// The home page shows the language's local page in place of the list, its own page when that
// is missing, and gives way to the list when a folder is chosen.
TEST(MngMainWindow, HomePageAndList) {
    ombrix::test::TempRoot root;
    ombrix::test::writeFile(root / "HTML/omxmain.htm", "<h1>Welcome</h1><a href='two.htm'>on</a>");
    ombrix::test::writeFile(root / "HTML/noload.htm", "<p>No page</p>");
    MngDocument document;
    document.load(sources(), {});
    MngMainWindow window(document, {}, shownColumns(""), {});
    window.show();
    window.showHomePage(QString::fromStdString((root / "HTML").string()));
    EXPECT_TRUE(window.homePageShown());
    EXPECT_TRUE(window.homePage()->toPlainText().contains("Welcome"));
    window.grab().save(QString::fromStdString(screenshotFolder() + "/manager_home.png"));
    ASSERT_TRUE(window.selectFolder("\\Games\\"));
    EXPECT_FALSE(window.homePageShown());
    std::filesystem::remove(root / "HTML/omxmain.htm");
    window.showHomePage(QString::fromStdString((root / "HTML").string()));
    EXPECT_TRUE(window.homePage()->toPlainText().contains("No page"));
}

// The about box lists what the system folder holds.
TEST(MngAboutDialog, ListsTheInstalledProgramsAndLibraries) {
    const std::string folder = std::string(OMBRIX_SYSTEM_FOLDER);
    MngAboutDialog about(folder, "5.0");
    about.show();
    auto* files = about.findChild<QTreeWidget*>("installedFiles");
    ASSERT_NE(files, nullptr);
    EXPECT_FALSE(files->findItems("OXTmng", Qt::MatchExactly).isEmpty());
    EXPECT_FALSE(files->findItems("liboxtcomm.so", Qt::MatchExactly).isEmpty());
    about.grab().save(QString::fromStdString(screenshotFolder() + "/manager_about.png"));
}

// The window's place, sizes, sort and selected folder come back at the next start.
TEST(MngMainWindow, PlacementIsSavedAndRestored) {
    MngDocument document;
    document.load(sources(), {});
    std::map<std::string, std::string, std::less<>> saved;
    PositionStore store;
    store.get = [&](std::string_view name) -> std::optional<std::string> {
        auto it = saved.find(name);
        return it == saved.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    store.set = [&](std::string_view name, const std::string& value) {
        saved[std::string(name)] = value;
    };
    {
        MngMainWindow first(document, {}, shownColumns(""), {});
        first.show();
        first.setGeometry(40, 50, 900, 600);
        ASSERT_TRUE(first.selectFolder("\\Games\\"));
        first.list()->sortByColumn(4, Qt::DescendingOrder);  // the size, largest first
        first.list()->setColumnWidth(1, 321);
        first.savePlacement(store);
    }
    EXPECT_EQ(saved["ImagesListViewSortedBy"], "-5");
    EXPECT_EQ(saved["LastTVItem"], "\\Games\\");
    saved["WindowPosRight"] = "oops";  // a damaged value is passed over
    MngMainWindow second(document, {}, shownColumns(""), {});
    second.show();
    second.restorePlacement(store);
    EXPECT_EQ(second.tree()->currentItem()->text(0), "Games");
    EXPECT_EQ(second.list()->sortColumn(), 4);
    EXPECT_EQ(second.list()->columnWidth(1), 321);
    EXPECT_EQ(listTexts(second.list()), (std::vector<QString>{"Chess", "Racing"}));
    saved["WindowPosRight"] = "940";
    MngMainWindow third(document, {}, shownColumns(""), {});
    third.show();
    third.restorePlacement(store);
    EXPECT_EQ(third.geometry().width(), 900);
}

// Selecting an image lists its folders and files in the contents pane.
TEST(MngMainWindow, TheContentsPaneShowsTheSelectedImage) {
    if (!ombrix::test::haveDiscTools()) GTEST_SKIP() << "xorriso and bsdtar are needed";
    ombrix::test::TempRoot root;
    const auto src = root / "src";
    std::filesystem::create_directories(src / "docs");
    ombrix::test::writeFile(src / "docs/manual.txt", std::string(1536, 'm'));
    ombrix::test::writeFile(src / "setup.sh", "echo");
    const auto iso = ombrix::test::makeIso(src, root / "disc.iso", true);
    const std::string image = (root / "disc.om4").string();
    ASSERT_EQ(ombrix::test::convertIso(iso, image, OMXCVT_PLAIN), 0);
    DocumentSources s = sources();
    s.catalogue = [image] {
        CatalogueImage i;
        i.index = 1;
        i.path = image;
        i.description = "Handbook";
        return std::vector<CatalogueImage>{i};
    };
    s.localTreeLines = [] { return std::vector<std::string>{}; };
    s.globalTreeLines = s.localTreeLines;
    MngDocument document;
    document.load(s, {});
    MngMainWindow window(document, {}, shownColumns(""), {});
    window.show();
    ASSERT_EQ(window.list()->topLevelItemCount(), 1);
    window.list()->setCurrentItem(window.list()->topLevelItem(0));
    QTreeWidget* contents = window.contents();
    // The image is read by its own threads; the window shows it once they are done.
    for (int i = 0; i < 500 && window.shownContents() == nullptr; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_NE(window.shownContents(), nullptr);
    ASSERT_EQ(contents->topLevelItemCount(), 2);
    const auto docs = contents->findItems("docs", Qt::MatchExactly);
    ASSERT_EQ(docs.size(), 1);
    ASSERT_EQ(docs[0]->childCount(), 1);
    EXPECT_EQ(docs[0]->child(0)->text(0), "manual.txt");
    EXPECT_EQ(docs[0]->child(0)->text(1), QString("1") + QLocale().decimalPoint() + "50 KB");
    docs[0]->setExpanded(true);
    window.grab().save(QString::fromStdString(screenshotFolder() + "/manager_contents.png"));
}

// A notice from another program of the session reaches the window through the bus: the drive
// item shows what the drive now holds. The window's own notices and those arriving while an
// operation runs change nothing.
TEST(MngController, NoticesFromTheBusUpdateTheWindow) {
    ombrix::test::TempRoot root;
    ::setenv("OMBRIX_SESSION", "7", 1);
    int reads = 0;
    bool inserted = false;
    DocumentSources s = sources();
    s.drives = [&] {
        ++reads;
        return std::vector<VirtualDrive>{
            {'E', 3, "/srv/images/disc3.om4"},
            {'F', inserted ? 4 : -1, inserted ? "/srv/images/disc4.om4" : ""}};
    };
    MngController::Setup setup;
    setup.sources = s;
    setup.probes = ombrix::mng::testing::everythingAllowed();
    const std::string config = (root / "config").string();
    std::filesystem::create_directories(config);
    setup.probes.userConfigFolder = [config] { return config; };
    setup.columns = shownColumns("");
    setup.reachable = [](const std::string& path) { return path != "/srv/images/disc3.om4"; };
    setup.availabilityPause = std::chrono::milliseconds(20);
    setup.refreshDelay = std::chrono::milliseconds(0);
    int settingsReads = 0;
    setup.readSettings = [&](ombrix::mng::ViewOptions&, std::vector<int>& columns) {
        ++settingsReads;
        columns = shownColumns("04");
    };
    MngController controller(setup);
    ASSERT_TRUE(controller.listenOnBus());
    controller.window().show();
    auto driveF = [&] {
        QTreeWidgetItem* drives = controller.window().tree()->topLevelItem(0);
        return drives->child(1)->text(0);
    };
    EXPECT_EQ(driveF(), "F:");
    auto post = [](const char* name, uint64_t sender, int64_t value) {
        ombrix::platform::postToSession(7, {name, sender, value});
    };
    auto settle = [] {
        for (int i = 0; i < 20; ++i) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };

    const int before = reads;
    post("MSG_OXTNOTIFY_INSERT", static_cast<uint64_t>(::getpid()), 'F');  // its own
    controller.busy().set(2);
    post("MSG_OXTTREE_CHANGED", 1, 0);  // held back while images are added
    settle();
    EXPECT_EQ(reads, before);
    EXPECT_TRUE(controller.busy().refreshPending());

    // Another program's insert waits too: an operation's dialogs let messages in, and the
    // document stays as the operation found it.
    inserted = true;
    post("MSG_OXTNOTIFY_INSERT", 1, 'F');
    settle();
    EXPECT_EQ(driveF(), "F:");
    EXPECT_EQ(reads, before);

    // The files' messages refresh at most once a second without access to the pool's folder,
    // F5 always; each refresh tells the session first.
    ombrix::platform::BusListener other(7);
    int reloads = reads;
    controller.operationEnded(2);  // the refresh held back runs now
    settle();
    EXPECT_EQ(reads, reloads + 1);
    EXPECT_FALSE(controller.busy().refreshPending());
    EXPECT_EQ(driveF(), "F:  Chess");
    ASSERT_TRUE(controller.window().selectFolder("\\Games\\"));
    EXPECT_EQ(controller.window().list()->topLevelItem(0)->text(3), "F:");  // Chess, in use
    post("MSG_OXTIMGFILE_CHANGED", 1, 0);
    settle();
    EXPECT_EQ(reads, reloads + 1);
    controller.window().action(cmd::kRefresh)->trigger();
    settle();
    EXPECT_EQ(reads, reloads + 2);
    int told = 0;
    while (auto message = other.receive(0))
        told += message->name == "MSG_OXTIMGFILE_UPDATE" ? 1 : 0;
    EXPECT_EQ(told, 2);

    // An image taken out of the catalogue leaves the tree and the user's tree file.
    post("MSG_OXTNOTIFY_IMAGEREMOVED", 1, 4);
    settle();
    const std::string treeFile = ombrix::test::readFile(root / "config/OMXTree.dat");
    EXPECT_EQ(treeFile.find("disc4.om4"), std::string::npos) << treeFile;
    EXPECT_NE(treeFile.find("\\Games\\|/srv/images/disc3.om4\r\n"), std::string::npos) << treeFile;

    // The shown images are checked first; an unreachable one is greyed.
    controller.startAvailability();
    for (int i = 0; i < 100 && controller.window().isAvailable(3); ++i)
        settle();
    EXPECT_FALSE(controller.window().isAvailable(3));  // Racing
    EXPECT_TRUE(controller.window().isAvailable(4));
    controller.window().grab().save(
        QString::fromStdString(screenshotFolder() + "/manager_unreachable.png"));

    // Changed settings: the columns are read again and the list shows only those.
    post("WM_OXT_SETTINGS_CHANGED", 1, 1);
    settle();
    EXPECT_EQ(settingsReads, 1);
    ASSERT_EQ(controller.window().list()->columnCount(), 2);
    EXPECT_EQ(controller.window().list()->headerItem()->text(1), "Size (MB)");
    controller.window().grab().save(
        QString::fromStdString(screenshotFolder() + "/manager_after_insert.png"));
}

// The image commands act on what is selected: a double click inserts into the first empty drive
// when the settings say so, Eject on a drive item ejects that drive, a drop on a drive inserts.
TEST(MngController, ImageCommandsActOnTheSelection) {
    ombrix::test::TempRoot root;
    ::setenv("OMBRIX_SESSION", "7", 1);
    std::map<char, int> held{{'E', 3}, {'F', -1}};
    std::vector<std::string> calls;
    DocumentSources s = sources();
    s.drives = [&] {
        std::vector<VirtualDrive> drives;
        for (auto [letter, index] : held)
            drives.push_back({letter, index, index > 0 ? "/srv/images/disc.om4" : ""});
        return drives;
    };
    MngController::Setup setup;
    setup.sources = s;
    setup.probes = ombrix::mng::testing::everythingAllowed();
    setup.columns = shownColumns("");
    setup.view.doubleClickInserts = true;
    setup.ports.insertIndex = [&](char letter, int index) {
        calls.push_back(std::string("insert ") + letter + " " + std::to_string(index));
        held[letter] = index;
        return 0;
    };
    setup.ports.eject = [&](char letter) {
        calls.push_back(std::string("eject ") + letter);
        held[letter] = -1;
        return 0;
    };
    setup.ports.header = [](const std::string&, OmxImageHeader&) { return 0; };
    setup.ports.imageInfo = [](int, OmxImageInfo&) { return false; };
    setup.ports.adminDriveLetters = [] { return std::string("G"); };
    MngController controller(setup);
    MngMainWindow& window = controller.window();
    window.show();
    ASSERT_TRUE(window.selectFolder("\\Games\\"));
    ASSERT_TRUE(window.selectImage(4));
    emit window.list()->itemDoubleClicked(window.list()->currentItem(), 0);
    EXPECT_EQ(calls, std::vector<std::string>{"insert F 4"});
    // The drive item says what it holds now, and the list keeps its row selected.
    EXPECT_TRUE(window.tree()->topLevelItem(0)->child(1)->text(0).contains("Chess"));
    ASSERT_NE(window.list()->currentItem(), nullptr);
    EXPECT_EQ(window.list()->currentItem()->text(0), "Chess");

    Selection onDrive;
    onDrive.view = Selection::View::Tree;
    onDrive.treeKind = ItemKind::VirtualDrive;
    onDrive.driveLetter = 'F';
    EXPECT_TRUE(
        runOperation(cmd::kEject, onDrive, controller.operations(), window, controller.document()));
    onDrive.driveLetter = 'E';
    dropOnto(onDrive, {{"\\Games\\", 4}}, {}, false, controller.operations());
    EXPECT_TRUE(runOperation(cmd::kEjectAllVirtual, onDrive, controller.operations(), window,
                             controller.document()));
    EXPECT_EQ(calls, (std::vector<std::string>{"insert F 4", "eject F", "insert E 4", "eject E"}));
    EXPECT_FALSE(
        runOperation(cmd::kAbout, onDrive, controller.operations(), window, controller.document()));
}

}  // namespace
