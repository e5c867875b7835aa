#include "tools/tray/tray_menu.h"

#include <gtest/gtest.h>

#include "tools/tray/tray_system.h"

namespace {

using namespace ombrix::tray;
using Kind = MenuEntry::Kind;

const MenuEntry* find(const std::vector<MenuEntry>& entries, const std::string& text) {
    for (const MenuEntry& entry : entries) {
        if (entry.text == text) return &entry;
    }
    return nullptr;
}

std::vector<std::string> texts(const std::vector<MenuEntry>& entries) {
    std::vector<std::string> out;
    for (const MenuEntry& entry : entries)
        out.push_back(entry.kind == Kind::Separator ? "-" : entry.text);
    return out;
}

// Drives E and F; local image 1 in E, network images 5001 and 5003 (5002 is gone), the latter
// in a category.
TrayState sampleState() {
    TrayState state;
    state.tools = {{command::kManagement, traytext::kManagement, "OXTmng.exe"},
                   {command::kSettings, traytext::kSettings, "OXTSet.exe"}};
    state.letters = "EF";
    state.localIndexHi = 2;
    state.local = {{1, "Atlas", "/img/atlas.om4", 'E', {}}};
    state.network = {{5001, "Chess", "/pool/chess.om4", 0, {"\\Games\\"}},
                     {5003, "R&D disc", "/pool/rd.om4", 'F', {"\\Games\\Cars\\", "\\Work\\"}}};
    return state;
}

TEST(TrayMenu, ToolsDrivesAndTheFixedItems) {
    const std::vector<MenuEntry> menu = trayMenu(sampleState());
    EXPECT_EQ(texts(menu),
              (std::vector<std::string>{"CD Management", "Settings", "-", "Explorer", "Eject",
                                        "Insert", "-", "About...", "-", "Exit"}));
    EXPECT_TRUE(menu[0].isDefault);
    EXPECT_EQ(menu[0].command, command::kManagement);
    EXPECT_EQ(texts(find(menu, "Explorer")->entries), (std::vector<std::string>{"E:", "F:"}));
    EXPECT_EQ(find(menu, "Explorer")->entries[1].command, command::kExplorerBase + 1);
    // The Eject items tell what each drive holds.
    EXPECT_EQ(texts(find(menu, "Eject")->entries),
              (std::vector<std::string>{"E:  Atlas", "F:  R&&D disc"}));
    EXPECT_EQ(ejectLetter(command::kEjectBase + 1, "EF"), 'F');
    EXPECT_EQ(ejectLetter(command::kEjectBase + 2, "EF"), 0);
    EXPECT_EQ(explorerLetter(command::kExplorerBase, "EF"), 'E');

    // Without tools there is no separator before the drives; without drives, every drive list
    // says so.
    TrayState bare;
    const std::vector<MenuEntry> empty = trayMenu(bare);
    EXPECT_EQ(texts(empty).front(), "Explorer");
    for (const char* list : {"Explorer", "Eject", "Insert"}) {
        const MenuEntry* entry = find(empty, list);
        ASSERT_EQ(entry->entries.size(), 1u);
        EXPECT_EQ(entry->entries[0].text, "(No virtual drives found)");
        EXPECT_FALSE(entry->entries[0].enabled);
    }
    // Drives but no images: each drive's list says that.
    bare.letters = "G";
    const std::vector<MenuEntry> drivesOnly = trayMenu(bare);
    const MenuEntry& g = find(drivesOnly, "Insert")->entries[0];
    EXPECT_EQ(g.text, "G:");
    ASSERT_EQ(g.entries.size(), 1u);
    EXPECT_EQ(g.entries[0].text, "(No ombrixs found)");
    EXPECT_EQ(find(drivesOnly, "Eject")->entries[0].text, "G:  (Empty drive)");
}

TEST(TrayMenu, InsertListsByCategoryOrAsOneOverview) {
    TrayState state = sampleState();
    std::vector<MenuEntry> menu = trayMenu(state);
    const MenuEntry& f = find(menu, "Insert")->entries[1];
    ASSERT_EQ(f.text, "F:");
    // Local and network images apart, each by its category tree.
    EXPECT_EQ(texts(f.entries), (std::vector<std::string>{"Local", "Network"}));
    const MenuEntry& network = f.entries[1];
    EXPECT_EQ(texts(network.entries), (std::vector<std::string>{"Games", "Work"}));
    const MenuEntry& games = network.entries[0];
    EXPECT_EQ(texts(games.entries), (std::vector<std::string>{"Cars", "Chess"}));
    const MenuEntry& rd = games.entries[0].entries[0];
    EXPECT_EQ(rd.text, "R&&D disc");
    EXPECT_TRUE(rd.checked);  // it is in F:
    // Network items come after the highest local index: 5003 is item 2 + 3.
    EXPECT_EQ(rd.command, command::kInsertBase + 1000 + 5);
    EXPECT_EQ(insertChoice(rd.command, state.letters, state.localIndexHi),
              (InsertChoice{'F', 5003}));
    const MenuEntry& chess = games.entries[1];
    EXPECT_FALSE(chess.checked);
    EXPECT_EQ(insertChoice(chess.command, state.letters, state.localIndexHi),
              (InsertChoice{'F', 5001}));
    // An image in several categories stands in each.
    EXPECT_EQ(texts(network.entries[1].entries), std::vector<std::string>{"R&&D disc"});
    // The image in E: is checked in E:'s list only.
    const MenuEntry& atlasInE = find(menu, "Insert")->entries[0].entries[0].entries[0];
    const MenuEntry& atlasInF = f.entries[0].entries[0];
    EXPECT_TRUE(atlasInE.checked);
    EXPECT_FALSE(atlasInF.checked);
    EXPECT_EQ(insertChoice(atlasInF.command, "EF", 2), (InsertChoice{'F', 1}));

    // One overview: local images, then network ones, no categories.
    state.overview = true;
    menu = trayMenu(state);
    EXPECT_EQ(texts(find(menu, "Insert")->entries[0].entries),
              (std::vector<std::string>{"Atlas", "Chess", "R&&D disc"}));
    // Only network images: no "Network" level.
    state.overview = false;
    state.local.clear();
    state.localIndexHi = 0;
    menu = trayMenu(state);
    EXPECT_EQ(texts(find(menu, "Insert")->entries[0].entries),
              (std::vector<std::string>{"Games", "Work"}));
    // The first network image of a drive's list inserts index 5001.
    const MenuEntry& first = find(menu, "Insert")->entries[0].entries[0].entries[1];
    EXPECT_EQ(insertChoice(first.command, state.letters, 0), (InsertChoice{'E', 5001}));
}

TEST(TrayMenu, CommandNumbersStayInTheirDrive) {
    EXPECT_EQ(itemNumber(7, 10), 7);
    EXPECT_EQ(itemNumber(5001, 10), 11);
    EXPECT_EQ(itemNumber(5001, -1), 1);
    EXPECT_EQ(insertChoice(command::kInsertBase + 2 * 1000 + 3, "EFG", 0),
              (InsertChoice{'G', 5003}));
    EXPECT_FALSE(insertChoice(command::kInsertBase + 3 * 1000 + 1, "EFG", 0));  // no fourth drive
    EXPECT_FALSE(insertChoice(command::kInsertBase, "E", 0));
    EXPECT_FALSE(insertChoice(command::kExit, std::string(26, 'E'), 0));
    // The 25th drive's items 664 and 665 would be About and Exit: they are not offered.
    TrayState many;
    many.letters = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    many.overview = true;
    for (int index = 5660; index <= 5670; ++index)
        many.network.push_back({index, "image", "/p/i.om4", 0, {}});
    const std::vector<MenuEntry> full = trayMenu(many);
    const MenuEntry& y = find(full, "Insert")->entries[24];
    ASSERT_EQ(y.text, "Y:");
    EXPECT_EQ(y.entries.size(), 9u);
    for (const MenuEntry& entry : y.entries) {
        EXPECT_NE(entry.command, command::kAbout);
        EXPECT_NE(entry.command, command::kExit);
    }
    // An image whose number would reach the next drive's range is left out of the list.
    TrayState state;
    state.letters = "EF";
    state.network = {{5999, "last", "/p/last.om4", 0, {}}, {6000, "beyond", "/p/b.om4", 0, {}}};
    state.overview = true;
    const std::vector<MenuEntry> bounded = trayMenu(state);
    const MenuEntry& e = find(bounded, "Insert")->entries[0];
    ASSERT_EQ(e.entries.size(), 1u);
    EXPECT_EQ(e.entries[0].command, command::kInsertBase + 999);
}

TEST(TrayMenu, ToolsByProgramAndRight) {
    std::vector<std::string> present = {"OXTmng.exe", "OXTAdm.exe", "OXTSet.exe", "OXTDrive.exe",
                                        "OXTMode.exe"};
    const auto exists = [&](const std::string& program) {
        return std::find(present.begin(), present.end(), program) != present.end();
    };
    int rights = 8 | 4;
    const auto hasRight = [&](int right) { return (rights & right) != 0; };
    auto commands = [&](bool adminFolder) {
        std::vector<int> out;
        for (const TrayTool& tool : availableTools(exists, hasRight, adminFolder))
            out.push_back(tool.command);
        return out;
    };
    EXPECT_EQ(commands(true),
              (std::vector<int>{command::kManagement, command::kAdministration, command::kSettings,
                                command::kDriveEditor, command::kNetworkMode}));
    EXPECT_EQ(commands(false).back(), command::kDriveEditor);
    rights = 0;
    EXPECT_EQ(commands(true), (std::vector<int>{command::kManagement, command::kSettings}));
    present = {"OXTSet.exe"};
    EXPECT_EQ(commands(true), std::vector<int>{command::kSettings});

    EXPECT_EQ(ombrix::menus::foldersOf("/pool/a.om4", {"\\Games\\|/pool/a.om4", "\\|/pool/b.om4",
                                                       "\\Work|/pool/a.om4", "broken"}),
              (std::vector<std::string>{"\\Games\\", "\\Work\\"}));
}

}  // namespace
