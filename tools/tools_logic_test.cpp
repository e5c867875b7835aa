#include <gtest/gtest.h>

#include <map>

#include "tools/drive_editor.h"
#include "tools/network_mode.h"

namespace {

using namespace ombrix::tools;
using ombrix::platform::DriveType;

// C: a folder, D: a machine CD drive with a disc, E: and F: the session's virtual drives (E:
// holding a disc), every other letter free.
DriveProbes sampleProbes() {
    DriveProbes probes;
    probes.type = [](char letter) -> DriveType {
        switch (letter) {
            case 'C': return ombrix::platform::kDriveFixed;
            case 'D':
            case 'E':
            case 'F': return ombrix::platform::kDriveCdRom;
            default: return ombrix::platform::kDriveNoRootDir;
        }
    };
    probes.cdLabel = [](char letter) -> std::string {
        return letter == 'D' ? "DATA" : letter == 'E' ? "DISC" : "";
    };
    probes.displayName = [](char letter) -> std::string {
        return letter == 'C' ? "home (C:)" : letter == 'F' ? "CD Drive (F:)" : "";
    };
    return probes;
}

TEST(DriveEditor, RowsTellEachLettersState) {
    const std::vector<DriveRow> rows = driveRows("ef", sampleProbes());
    ASSERT_EQ(rows.size(), 26u);
    // A and B are never offered, whatever they are.
    EXPECT_EQ(rows[0], (DriveRow{'A', " (A:)", DriveState::InUse, false, false}));
    EXPECT_EQ(rows[2], (DriveRow{'C', "home (C:)", DriveState::InUse, false, false}));
    EXPECT_EQ(rows[3], (DriveRow{'D', "DATA (D:)", DriveState::InUse, false, false}));
    EXPECT_EQ(rows[4], (DriveRow{'E', "DISC (E:)", DriveState::Virtual, true, true}));
    EXPECT_EQ(rows[5], (DriveRow{'F', "CD Drive (F:)", DriveState::Virtual, true, true}));
    EXPECT_EQ(rows[6], (DriveRow{'G', " (G:)", DriveState::Available, false, true}));
    EXPECT_EQ(checkedLetters(rows), "EF");
}

TEST(DriveEditor, SetAndResetAreOfferedOnlyForAChange) {
    std::vector<DriveRow> rows = driveRows("EF", sampleProbes());
    EXPECT_FALSE(setDrivesEnabled(rows, "EF"));
    rows[6].checked = true;  // G
    EXPECT_TRUE(setDrivesEnabled(rows, "EF"));
    rows[6].checked = false;
    EXPECT_FALSE(setDrivesEnabled(rows, "ef"));
    // Unticking every drive is a change only when there were drives.
    rows[4].checked = rows[5].checked = false;
    EXPECT_TRUE(setDrivesEnabled(rows, "EF"));
    EXPECT_FALSE(setDrivesEnabled(driveRows("", sampleProbes()), ""));

    // Reset compares the letters as sets.
    EXPECT_FALSE(resetEnabled("EF", "FE"));
    EXPECT_FALSE(resetEnabled("", ""));
    EXPECT_TRUE(resetEnabled("EFG", "EF"));
    EXPECT_TRUE(resetEnabled("EG", "EF"));
}

// A pool's administration as the client library sees it, in memory.
struct FakeAdministration {
    bool right = true;
    int mode = 0;  // 0 normal, 1 here, 2 elsewhere
    std::string folder = "/pool/adm/";
    bool fileThere = true;
    int enters = 0, leaves = 0;
    std::vector<std::pair<std::string, std::string>> passwords;

    NetworkModePorts ports() {
        NetworkModePorts p;
        p.hasRight = [this](int r) { return r == 8 && right; };
        p.adminMode = [this] { return mode; };
        p.adminComputer = [] { return std::string("SRV7"); };
        p.adminFolder = [this] { return folder; };
        p.adminFileExists = [this] { return fileThere; };
        p.enter = [this] {
            ++enters;
            mode = 1;
            return 1;
        };
        p.leave = [this] {
            ++leaves;
            mode = 0;
            return 1;
        };
        p.setPassword = [this](const std::string& o, const std::string& n) {
            passwords.emplace_back(o, n);
            return 1;
        };
        return p;
    }
};

TEST(NetworkMode, StartDecisions) {
    FakeAdministration admin;
    std::string message;
    EXPECT_EQ(networkModeStart(admin.ports(), message), ModeStart::Run);
    admin.mode = 2;
    EXPECT_EQ(networkModeStart(admin.ports(), message), ModeStart::OtherComputer);
    EXPECT_EQ(message, "The Central Network mode is active on another computer (SRV7).");
    admin.right = false;  // checked first, and without a word
    message.clear();
    EXPECT_EQ(networkModeStart(admin.ports(), message), ModeStart::EndSilently);
    EXPECT_EQ(message, "");

    EXPECT_TRUE(adminFolderConfigured(admin.ports()));
    admin.folder = "   ";
    EXPECT_FALSE(adminFolderConfigured(admin.ports()));
    admin.folder = "";
    EXPECT_FALSE(adminFolderConfigured(admin.ports()));
}

TEST(NetworkMode, TogglePasswordAndEveryEndLeaveCentralMode) {
    FakeAdministration admin;
    NetworkModeController controller(admin.ports());
    EXPECT_EQ(controller.modeText(), modetext::kNormal);
    EXPECT_FALSE(controller.needsNewPassword());
    admin.fileThere = false;
    EXPECT_TRUE(controller.needsNewPassword());
    admin.folder = " ";  // no folder: nowhere to make the file
    EXPECT_FALSE(controller.needsNewPassword());
    admin.folder = "/pool/adm/";

    controller.toggle();
    EXPECT_EQ(admin.enters, 1);
    EXPECT_EQ(controller.modeText(), modetext::kCentral);
    controller.toggle();
    EXPECT_EQ(admin.leaves, 1);

    EXPECT_FALSE(controller.changePassword("old", "new", "nwe"));
    EXPECT_TRUE(admin.passwords.empty());
    EXPECT_TRUE(controller.changePassword("old", "new", "new"));
    EXPECT_EQ(admin.passwords.size(), 1u);

    // The user ends in central mode: told once, left once.
    controller.toggle();
    int told = 0;
    controller.endByUser([&] { ++told; });
    controller.endByUser([&] { ++told; });
    controller.endQuietly();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(admin.leaves, 2);

    // Ended from outside: left without a word.
    NetworkModeController second(admin.ports());
    second.toggle();
    second.endQuietly();
    EXPECT_EQ(admin.leaves, 3);
    EXPECT_EQ(admin.mode, 0);
    // Ended in normal mode: nothing to leave.
    NetworkModeController third(admin.ports());
    third.endByUser([&] { ++told; });
    EXPECT_EQ(told, 1);
    EXPECT_EQ(admin.leaves, 3);
}

TEST(NetworkMode, PlacementNeedsBothCoordinates) {
    std::map<std::string, std::string> values;
    PlacementStore store;
    store.read = [&](const std::string& key) -> std::optional<std::string> {
        auto it = values.find(key);
        return it == values.end() ? std::nullopt : std::optional(it->second);
    };
    store.write = [&](const std::string& key, const std::string& value) { values[key] = value; };
    ModePlacement placement = readPlacement(store);
    EXPECT_FALSE(placement.x);
    EXPECT_TRUE(placement.topMost);
    values = {{"OmxModeX", "40"}, {"OmxModeTopWnd", "0"}};
    placement = readPlacement(store);
    EXPECT_FALSE(placement.x);
    EXPECT_FALSE(placement.topMost);
    writePlacement(store, 12, 34, true);
    placement = readPlacement(store);
    EXPECT_EQ(placement.x, 12);
    EXPECT_EQ(placement.y, 34);
    EXPECT_TRUE(placement.topMost);
    EXPECT_EQ(values["OmxModeTopWnd"], "1");
}

}  // namespace
