#include "manager/ui/mng_main_window.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenuBar>
#include <QToolBar>
#include <QTreeWidget>
#include <filesystem>

#include "manager/access_state.h"
#include "manager/command_ids.h"
#include "manager/image_columns.h"

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

std::string screenshotFolder() {
    const std::string folder = std::filesystem::current_path().string() + "/screenshots";
    std::filesystem::create_directories(folder);
    return folder;
}

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
    MngMainWindow window(document, {}, shownColumns(""),
                         {[&] { ++refreshed; }, [&](int id) { ran.push_back(id); }});
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

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
