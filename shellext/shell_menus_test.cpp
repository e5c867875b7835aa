#include "shellext/shell_menus.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>

#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/temp_root.h"

namespace {

namespace t = ombrix::test;
using namespace ombrix::shellext;
using ombrix::menus::MenuEntry;

TEST(ShellImages, OnlyImagesOfThisSystemAreTaken) {
    if (!t::haveDiscTools()) GTEST_SKIP() << "xorriso is needed";
    t::TempRoot root;
    const auto iso = t::makeSampleIso(root.path(), "disc.iso");
    const auto image = root / "disc.om4";
    ASSERT_EQ(t::convertIso(iso, image, OMXCVT_PLAIN), 0);
    EXPECT_TRUE(isSystemImage(image.string()));
    const auto props = imageProperties(image.string());
    ASSERT_TRUE(props);
    EXPECT_EQ(props->path, image.string());
    EXPECT_TRUE(props->imageSize.ends_with(" MB"));
    EXPECT_NE(props->tracks, "0");

    // Another format mark, a text file, a missing file: declined.
    std::string bytes = t::readFile(image);
    bytes[13] ^= 0x01;
    t::writeFile(root / "other.om4", bytes);
    EXPECT_FALSE(isSystemImage((root / "other.om4").string()));
    EXPECT_FALSE(imageProperties((root / "other.om4").string()));
    t::writeFile(root / "notes.om4", "just text");
    EXPECT_FALSE(isSystemImage((root / "notes.om4").string()));
    EXPECT_FALSE(isSystemImage((root / "missing.om4").string()));
    EXPECT_EQ(iconIndexOfFile((root / "notes.om4").string()), 16);
}

TEST(ShellImages, IconOfEveryDiscTypeInBothSets) {
    struct Row {
        std::optional<uint32_t> type;
        int classic, newer;
    };
    const Row rows[] = {
        {1, 5, 22},      {2, 1, 21},      {4, 3, 18},
        {5, 8, 25},      {6, 2, 17},      {7, 4, 19},
        {8, 7, 24},      {0x720, 13, 31}, {0x320, 15, 33},
        {0x520, 11, 29}, {0x120, 9, 27},  {0x620, 12, 30},
        {0x220, 14, 32}, {0x420, 10, 28}, {0x1000, 6, 23},
        {0x1040, 6, 23}, {0, 0, 20},      {0x40, 16, 26},
        {3, 16, 26},     {0x20, 16, 26},  {std::nullopt, 16, 26},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(iconIndex(row.type, false), row.classic) << (row.type ? *row.type : -1);
        EXPECT_EQ(iconIndex(row.type, true), row.newer) << (row.type ? *row.type : -1);
    }
    EXPECT_EQ(iconName(7), "ombrix-disc-07");
    EXPECT_EQ(iconName(99), "ombrix-disc-16");
}

// A session with drives E and F, F holding the image, and a catalogue in memory.
struct FakeSession {
    std::string letters = "EF";
    std::map<char, std::string> inDrive = {{'F', "/SRV/Images/Disc.om4"}};
    std::map<std::string, int> catalogue;
    bool manager = true;
    bool addWorks = true;
    std::vector<std::pair<char, int>> inserts;
    std::vector<std::string> errors;

    ImagePorts ports() {
        ImagePorts p;
        p.letters = [this] { return letters; };
        p.mountedFile = [this](char letter) {
            auto it = inDrive.find(letter);
            return it == inDrive.end() ? std::string() : it->second;
        };
        p.managerPresent = [this] { return manager; };
        p.indexOf = [this](const std::string& path) {
            auto it = catalogue.find(path);
            return it == catalogue.end() ? 0 : it->second;
        };
        p.add = [this](const std::string& path) {
            if (!addWorks) return -1;
            catalogue[path] = 5000 + static_cast<int>(catalogue.size()) + 1;
            return 1;
        };
        p.insert = [this](char letter, int index) {
            inserts.emplace_back(letter, index);
            return 0;
        };
        p.tellError = [this](const std::string&, const std::string& text) {
            errors.push_back(text);
        };
        return p;
    }
};

TEST(ShellImageMenu, ItemsForEachDriveSituation) {
    FakeSession session;
    const std::string image = "/srv/images/disc.om4";
    std::vector<MenuEntry> menu = imageMenu(image, session.ports());
    EXPECT_EQ(menuLines(menu),
              "0\t1\t\tManage the images...\n"
              "0\t0\ts\tInsert the image into\n"
              "1\t100\t\tE:\n"
              "1\t101\tc\tF:\n");  // F holds it (the name compared without case)
    session.manager = false;
    session.letters.clear();
    menu = imageMenu(image, session.ports());
    EXPECT_EQ(menuLines(menu),
              "0\t0\ts\tInsert the image into\n"
              "1\t0\td\t(No virtual drive found)\n");
}

TEST(ShellImageMenu, AnImageNotCataloguedIsAddedThenInserted) {
    FakeSession session;
    const std::string image = "/srv/images/new.om4";
    EXPECT_TRUE(invokeImageCommand(image, kInsertCommandBase + 1, session.ports()));
    ASSERT_EQ(session.inserts.size(), 1u);
    EXPECT_EQ(session.inserts[0], (std::pair<char, int>{'F', 5001}));
    // Catalogued now: inserted by its index without adding again.
    EXPECT_TRUE(invokeImageCommand(image, kInsertCommandBase, session.ports()));
    EXPECT_EQ(session.inserts[1], (std::pair<char, int>{'E', 5001}));
    EXPECT_EQ(session.catalogue.size(), 1u);

    // The catalogue refuses it: told with the path, nothing inserted.
    session.addWorks = false;
    EXPECT_FALSE(invokeImageCommand("/srv/images/bad.om4", kInsertCommandBase, session.ports()));
    ASSERT_EQ(session.errors.size(), 1u);
    EXPECT_EQ(session.errors[0],
              "The image /srv/images/bad.om4 could not be added to the catalogue.");
    // A drive that is gone since the menu was shown.
    EXPECT_FALSE(invokeImageCommand(image, kInsertCommandBase + 5, session.ports()));
    EXPECT_EQ(session.errors.back(), "This drive is not one of the session's virtual drives.");
    EXPECT_EQ(session.inserts.size(), 2u);
}

struct FakeDrives {
    std::vector<DriveImage> images = {
        {5001, "zebra", "/p/z.om4"}, {5002, "Alpha", "/p/a.om4"}, {5004, "beta & co", "/p/b.om4"}};
    std::optional<std::vector<std::string>> lines;
    std::vector<std::pair<char, int>> inserts;

    DrivePorts ports() {
        DrivePorts p;
        p.letters = [] { return std::string("EF"); };
        p.isCdDrive = [](char letter) { return letter != 'F'; };
        p.letterOfFolder = [](const std::string& folder) -> char {
            return folder == "/home/u/OmbrixDrives/E"   ? 'E'
                   : folder == "/home/u/OmbrixDrives/F" ? 'F'
                   : folder == "/home/u/OmbrixDrives/G" ? 'G'
                                                        : 0;
        };
        p.sharedImages = [this] { return images; };
        p.mountedFile = [](char letter) { return letter == 'E' ? "/p/a.om4" : ""; };
        p.treeLines = [this] { return lines; };
        p.insert = [this](char letter, int index) {
            inserts.emplace_back(letter, index);
            return 0;
        };
        return p;
    }
};

TEST(ShellDriveMenu, FlatByDescriptionOrByTheTree) {
    FakeDrives drives;
    const DrivePorts ports = drives.ports();
    EXPECT_EQ(virtualDriveOf("/home/u/OmbrixDrives/E", ports), 'E');
    EXPECT_FALSE(virtualDriveOf("/home/u/OmbrixDrives/F", ports));  // no CD drive
    EXPECT_FALSE(virtualDriveOf("/home/u/OmbrixDrives/G", ports));  // not the session's
    EXPECT_FALSE(virtualDriveOf("/home/u/Music", ports));

    EXPECT_EQ(menuLines(driveMenu('E', ports)),
              "0\t0\ts\tInsert an image\n"
              "1\t5002\tc\tAlpha\n"  // in the drive now
              "1\t5004\t\tbeta & co\n"
              "1\t5001\t\tzebra\n");
    drives.lines =
        std::vector<std::string>{"\\Games\\|/p/z.om4", "\\Games\\Old\\|/p/b.om4", "\\Empty\\|"};
    EXPECT_EQ(menuLines(driveMenu('E', drives.ports())),
              "0\t0\ts\tInsert an image\n"
              "1\t0\ts\tGames\n"
              "2\t0\ts\tOld\n"
              "3\t5004\t\tbeta & co\n"
              "2\t5001\t\tzebra\n"
              "1\t5002\tc\tAlpha\n");
    EXPECT_TRUE(invokeDriveCommand('E', 5004, ports));
    EXPECT_EQ(drives.inserts.back(), (std::pair<char, int>{'E', 5004}));
    EXPECT_FALSE(invokeDriveCommand('E', 0, ports));

    // An empty catalogue says so; a large one is cut at 1000 images.
    drives.lines.reset();
    drives.images.clear();
    EXPECT_EQ(menuLines(driveMenu('E', drives.ports())),
              "0\t0\ts\tInsert an image\n1\t0\td\t(No image found)\n");
    for (int i = 0; i < 1200; ++i)
        drives.images.push_back(
            {5001 + i, "image " + std::to_string(i), "/p/" + std::to_string(i)});
    EXPECT_EQ(driveMenu('E', drives.ports())[0].entries.size(), 1000u);
}

}  // namespace
