#include "manager/mng_document.h"

#include <gtest/gtest.h>

namespace {

using namespace ombrix::mng;

DocumentSources sources() {
    DocumentSources s;
    s.catalogue = [] {
        auto image = [](int index, std::string path, std::string description) {
            CatalogueImage i;
            i.index = index;
            i.path = std::move(path);
            i.description = std::move(description);
            return i;
        };
        std::vector<CatalogueImage> images{image(2, "/img/b.om4", "Beta"),
                                           image(1, "/img/a.om4", "Alpha"),
                                           image(5001, "/pool/n.om4", "Net")};
        images[0].defaultDrive = 'f';
        images[1].discType = 2;
        images[1].password = true;
        images[1].sizeBytes = 3 * 1024 * 1024 / 2;
        return images;
    };
    s.drives = [] {
        return std::vector<VirtualDrive>{{'E', 1, "/img/a.om4"}, {'F', -1, ""}, {'G', 1, ""}};
    };
    s.localTreeLines = [] {
        return std::vector<std::string>{"\\Games\\|/IMG/A.om4", "\\Games\\Action\\|"};
    };
    s.globalTreeLines = [] { return std::vector<std::string>{"\\Shared\\|/pool/n.om4"}; };
    return s;
}

TEST(MngDocument, FoldersImagesAndRowsOfTheJointView) {
    MngDocument doc;
    doc.load(sources(), {});
    EXPECT_EQ(doc.roots(), (std::vector<std::string>{"\\"}));
    EXPECT_EQ(doc.subfolders("\\"), (std::vector<std::string>{"\\Games\\", "\\Shared\\"}));
    EXPECT_EQ(doc.subfolders("\\Games\\"), (std::vector<std::string>{"\\Games\\Action\\"}));
    EXPECT_EQ(doc.imagesIn("\\Games\\"), (std::vector<int>{1}));
    EXPECT_EQ(doc.imagesIn("\\"), (std::vector<int>{2}));  // placed at the root
    EXPECT_EQ(doc.imagesIn("\\Shared\\"), (std::vector<int>{5001}));

    const ListRow a = doc.imageRow(*doc.image(1));
    EXPECT_EQ(a.texts[0], "Alpha");
    EXPECT_EQ(a.texts[3], "E: G:");  // every drive that holds it
    EXPECT_EQ(a.texts[4], "1.5");
    EXPECT_EQ(a.texts[9], "yes");
    EXPECT_EQ(a.texts[12], "local");
    EXPECT_EQ(a.texts[13], "Audio CD");
    EXPECT_EQ(doc.imageRow(*doc.image(2)).texts[2], "F:");
    EXPECT_EQ(doc.imageRow(*doc.image(5001)).texts[12], "network");
    EXPECT_EQ(doc.image(3), nullptr);
    EXPECT_EQ(MngDocument::folderRow("\\Games\\Action\\").texts[0], "Action");
}

TEST(MngDocument, SeparatedViewHasTwoBranches) {
    MngDocument doc;
    ViewOptions separated;
    separated.separated = true;
    doc.load(sources(), separated);
    EXPECT_EQ(doc.roots(), (std::vector<std::string>{"\\local\\", "\\network\\"}));
    EXPECT_EQ(doc.subfolders("\\local\\"), (std::vector<std::string>{"\\local\\Games\\"}));
    EXPECT_EQ(doc.imagesIn("\\network\\Shared\\"), (std::vector<int>{5001}));
    EXPECT_EQ(doc.imagesIn("\\local\\"), (std::vector<int>{2}));
}

}  // namespace

#include "manager/contents_texts.h"

namespace {

TEST(ContentsTexts, SizesAndPlayingTimes) {
    using namespace ombrix::mng;
    EXPECT_EQ(sizeText(0), "0 Byte");
    EXPECT_EQ(sizeText(1023), "1023 Byte");
    EXPECT_EQ(sizeText(1024), "1.00 KB");
    EXPECT_EQ(sizeText(1536, ','), "1,50 KB");
    EXPECT_EQ(sizeText(1024 * 1024 - 1), "1023.99 KB");
    EXPECT_EQ(sizeText(5 * 1024 * 1024 + 512 * 1024), "5.50 MB");
    EXPECT_EQ(playingTime(0), "00:00");
    EXPECT_EQ(playingTime(75 * 61 + 74), "01:01");
    EXPECT_EQ(playingTime(75 * 3600), "60:00");
    EXPECT_EQ(dateText(0), "");
    EXPECT_FALSE(dateText(1700000000).empty());
}

}  // namespace

#include <filesystem>

#include "manager/about_list.h"
#include "support/temp_root.h"

namespace {

TEST(AboutList, ProgramsAndLibrariesOfTheSystemFolder) {
    ombrix::test::TempRoot root;
    namespace fs = std::filesystem;
    const auto folder = root / "system";
    fs::create_directories(folder / "Language");
    ombrix::test::writeFile(folder / "OXTmng", "");
    fs::permissions(folder / "OXTmng", fs::perms::owner_all);
    ombrix::test::writeFile(folder / "liboxtcomm.so", "");
    ombrix::test::writeFile(folder / "readme.txt", "");
    const auto files = ombrix::mng::installedFiles(folder.string(), "5.0");
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].name, "liboxtcomm.so");
    EXPECT_EQ(files[0].kind, "Library");
    EXPECT_EQ(files[1].name, "OXTmng");
    EXPECT_EQ(files[1].version, "5.0");
    EXPECT_TRUE(ombrix::mng::installedFiles((root / "none").string(), "5.0").empty());
}

}  // namespace

namespace {

TEST(MngDocument, ViewOptionsComeFromSevenCharacters) {
    using ombrix::mng::viewOptionsFrom;
    EXPECT_FALSE(viewOptionsFrom("1011111").separated);
    EXPECT_TRUE(viewOptionsFrom("1011111").doubleClickInserts);
    EXPECT_TRUE(viewOptionsFrom("0000x01").oneReferencePerImage);
    EXPECT_TRUE(viewOptionsFrom("0000x01").doubleClickInserts);  // any character but '0'
    // Six characters or fewer are not read at all.
    EXPECT_FALSE(viewOptionsFrom("111111").doubleClickInserts);
    EXPECT_FALSE(viewOptionsFrom("").oneReferencePerImage);
}

}  // namespace
