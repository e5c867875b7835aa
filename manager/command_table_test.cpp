#include "manager/command_table.h"

#include <gtest/gtest.h>

#include <set>

#include "manager/command_ids.h"

namespace {

using namespace ombrix::mng;
namespace cmd = ombrix::mng::command;

TEST(CommandTable, EveryItemOfEveryMenuHasItsTexts) {
    std::set<int> ids;
    for (const auto& c : commandTexts()) {
        EXPECT_TRUE(ids.insert(c.id).second) << "twice: " << c.id;
    }
    auto check = [&](const MenuModel& menu) {
        for (int id : menu.items) {
            if (id != 0) {
                EXPECT_TRUE(ids.contains(id)) << id;
            }
        }
    };
    for (const auto& menu : mainMenu())
        check(menu);
    for (auto kind : {ItemKind::ImageList, ItemKind::VirtualDrive, ItemKind::PhysicalDrive,
                      ItemKind::ImageFolder, ItemKind::VirtualDriveGroup,
                      ItemKind::PhysicalDriveGroup, ItemKind::ImageRoot, ItemKind::Contents}) {
        check(contextMenu(kind));
    }
    EXPECT_EQ(commandText(cmd::kEject)->menuText, "&Eject\tCtrl+E");
    EXPECT_EQ(commandText(cmd::kRefresh)->menuText, "&Refresh\tF5");
}

TEST(CommandTable, DisabledCommandsVanishWithTheirSeparators) {
    const MenuModel file = mainMenu().front();
    const MenuModel gated = withoutDisabled(
        file, {cmd::kInsert, cmd::kEject, cmd::kAdministration, cmd::kAdministration});
    EXPECT_EQ(gated.items, (std::vector<int>{cmd::kOpen, cmd::kExtract, 0, cmd::kExit}));
    const MenuModel drives =
        withoutDisabled(contextMenu(ItemKind::VirtualDriveGroup), {cmd::kChangeDrives});
    EXPECT_EQ(drives.items, (std::vector<int>{cmd::kEjectAllVirtual}));
    EXPECT_TRUE(withoutDisabled(contextMenu(ItemKind::PhysicalDriveGroup), {cmd::kEjectAllPhysical})
                    .items.empty());
}

}  // namespace
