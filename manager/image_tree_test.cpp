#include "manager/image_tree.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/locked_file.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::mng;
using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::writeFile;

// A catalogue of a few images by file.
const std::map<std::string, int> kCatalogue{{"/img/a.om4", 1},
                                            {"/img/b.om4", 2},
                                            {"/img/c.om4", 4999},
                                            {"/pool/n.om4", 5001},
                                            {"/pool/m.om4", 5002}};

int indexOf(const std::string& file) {
    auto it = kCatalogue.find(file);
    return it == kCatalogue.end() ? 0 : it->second;
}

std::string fileOf(int index) {
    for (const auto& [file, i] : kCatalogue) {
        if (i == index) return file;
    }
    return {};
}

std::vector<std::string> paths(const ImageTree& tree) {
    std::vector<std::string> out;
    for (const auto& e : tree.entries())
        out.push_back(e.path + " " + std::to_string(e.id));
    return out;
}

TEST(ImageTree, OrderedInsertFoldsCaseAndRefusesSecondReferences) {
    ImageTree tree;
    tree.insert("\\b\\", TreeEntry::kFolder | TreeEntry::kLocalBit);
    tree.insert("\\A\\", TreeEntry::kFolder | TreeEntry::kLocalBit);
    tree.insert("\\a\\!", 1);
    tree.insert("\\B\\!", 1);
    tree.insert("\\", TreeEntry::kFolder | TreeEntry::kLocalBit);
    // A folder comes before what it holds, whatever the case of its name.
    EXPECT_EQ(paths(tree), (std::vector<std::string>{"\\ -252", "\\A\\ -252", "\\a\\! 1",
                                                     "\\b\\ -252", "\\B\\! 1"}));
    ASSERT_NE(tree.folder("\\B\\"), nullptr);
    EXPECT_EQ(tree.folder("\\B\\")->path, "\\b\\");

    ImageTree once(true);
    EXPECT_TRUE(once.insert("\\x\\!", 7));
    EXPECT_FALSE(once.insert("\\y\\!", 7));
    once.dropImage(7);
    EXPECT_TRUE(once.entries().empty());
}

TEST(ImageTree, FileLinesThroughTheWindow) {
    const std::string longLine(600, 'x');
    const std::string fits(528, 'y');  // with CR LF exactly the window
    const std::string text =
        "\\a\\|/img/a.om4\r\n\r\n\\b\\|\n" + longLine + "\r\n" + fits + "\r\n\\c\\|/img/c.om4";
    int logged = 0;
    const auto lines = treeFileLines(text, [&](int, const std::string&) { ++logged; });
    EXPECT_EQ(lines,
              (std::vector<std::string>{"\\a\\|/img/a.om4", "\\b\\|", fits, "\\c\\|/img/c.om4"}));
    EXPECT_EQ(logged, 1);
    EXPECT_TRUE(treeFileLines("").empty());
}

TEST(ImageTree, ReadBuildsFoldersSkipsBrokenLinesAndPlacesEveryImage) {
    ImageTree tree;
    tree.read(TreeFile::Local,
              {"\\Games\\Action\\|/img/a.om4", "\\!|/img/b.om4", "\\Gone\\|/img/gone.om4",
               "\\Games\\|/pool/n.om4", "\\Empty\\|"},
              "", indexOf);
    tree.complete(TreeFile::Local, {1, 2, 4999, 5001}, "");
    EXPECT_EQ(paths(tree), (std::vector<std::string>{
                               "\\ -252", "\\! 4999", "\\! 2", "\\Empty\\ -252", "\\Games\\ -252",
                               "\\Games\\Action\\ -252", "\\Games\\Action\\! 1", "\\Gone\\ -252"}));

    // The pool's file adds its folders; one both files name belongs to both.
    tree.read(TreeFile::Global, {"\\Games\\|/pool/n.om4", "\\Net\\|"}, "", indexOf);
    tree.complete(TreeFile::Global, {5001, 5002}, "");
    EXPECT_EQ(tree.folder("\\Games\\")->id, TreeEntry::kFolder | 6);
    EXPECT_EQ(tree.folder("\\")->id, TreeEntry::kFolder | 6);
    EXPECT_EQ(tree.folder("\\Net\\")->id, TreeEntry::kFolder | TreeEntry::kGlobalBit);
    EXPECT_TRUE(tree.holdsImage(5002));
}

TEST(ImageTree, EachFileGetsItsRangeAndItsFolders) {
    ImageTree tree;
    tree.read(TreeFile::Local, {"\\Games\\|/img/a.om4", "\\Gone\\|/img/gone.om4"}, "", indexOf);
    tree.complete(TreeFile::Local, {1, 4999}, "");
    tree.read(TreeFile::Global, {"\\Net\\|/pool/n.om4"}, "", indexOf);
    tree.complete(TreeFile::Global, {5001}, "");
    // The image no longer catalogued is gone; its folder stays.
    EXPECT_EQ(tree.fileText(TreeFile::Local, "", fileOf),
              "\\|\r\n\\|/img/c.om4\r\n\\Games\\|\r\n\\Games\\|/img/a.om4\r\n\\Gone\\|\r\n");
    EXPECT_EQ(tree.fileText(TreeFile::Global, "", fileOf),
              "\\|\r\n\\Net\\|\r\n\\Net\\|/pool/n.om4\r\n");
}

TEST(ImageTree, SeparatedViewKeepsBranchesApartAndWritesNoBranchRoot) {
    ImageTree tree;
    tree.read(TreeFile::Local, {"\\Games\\|/img/a.om4"}, "\\local", indexOf);
    tree.complete(TreeFile::Local, {1, 2}, "\\local");
    tree.read(TreeFile::Global, {"\\Games\\|/pool/n.om4"}, "\\network", indexOf);
    tree.complete(TreeFile::Global, {5001}, "\\network");
    EXPECT_NE(tree.folder("\\local\\Games\\"), nullptr);
    EXPECT_NE(tree.folder("\\network\\Games\\"), nullptr);
    EXPECT_TRUE(tree.holdsImage(2));
    EXPECT_EQ(tree.fileText(TreeFile::Local, "\\local", fileOf),
              "\\|/img/b.om4\r\n\\Games\\|\r\n\\Games\\|/img/a.om4\r\n");
    EXPECT_EQ(tree.fileText(TreeFile::Global, "\\network", fileOf),
              "\\Games\\|\r\n\\Games\\|/pool/n.om4\r\n");
}

TEST(ImageTreeFile, MissingFileIsMadeAndALockedOneIsLeftAlone) {
    TempRoot root;
    const std::string path = (root / "OMXTree.dat").string();
    std::string bytes = "x";
    EXPECT_EQ(loadTreeFile(path, bytes), 0);
    EXPECT_TRUE(bytes.empty());
    EXPECT_TRUE(std::filesystem::exists(path));

    ASSERT_EQ(saveTreeFile(path, "\\a\\|\r\n"), 0);
    ASSERT_EQ(loadTreeFile(path, bytes), 0);
    EXPECT_EQ(bytes, "\\a\\|\r\n");

    ombrix::platform::LockedFile holder;
    ASSERT_EQ(holder.open(path, ombrix::platform::FileAccess::Write), 0);
    EXPECT_EQ(saveTreeFile(path, "\\b\\|\r\n", 3, std::chrono::milliseconds(5)), 32);
    EXPECT_EQ(loadTreeFile(path, bytes, 3, std::chrono::milliseconds(5)), 32);
    holder.close();
    EXPECT_EQ(readFile(path), "\\a\\|\r\n");
    // A shorter text leaves nothing of the longer one behind.
    ASSERT_EQ(saveTreeFile(path, ""), 0);
    EXPECT_EQ(readFile(path), "");
}

}  // namespace
