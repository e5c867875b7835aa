#include "manager/image_operations.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/image_header.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "oxtenv.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::mng;
namespace fs = std::filesystem;

// The catalogue kept in memory, with the client library's answers.
struct FakeClient {
    std::map<int, OmxImageInfo> entries;
    std::map<char, int> drives{{'E', -1}, {'F', -1}};
    int insertResult = 0;
    std::vector<int> reportedErrors;
    int conversionResult = 0;
    bool conversionWritesImage = true;
    bool addFails = false;
    int denyAccess = 0;
    int passwordRight = true;
    std::vector<std::string> opened;
    int openResult = 0;
    bool descriptionFails = false;
    std::string adminLetters;
    bool localWritable = true;
    std::vector<std::string> written;  // what reached the image files

    ClientPorts ports() {
        ClientPorts p;
        p.addImage = [this](OmxImageInfo& record, int range) {
            if (addFails) return -1;
            OmxImageHeader header{};
            if (ombrix::header::read(record.path, header) != 0 ||
                headerState(0, header) != kHeaderValid)
                return -1;
            for (const auto& [i, e] : entries) {
                if (std::strcmp(e.path, record.path) == 0) return 0;
            }
            int index = range == OMX_RANGE_SHARED ? 5001 : 1;
            while (entries.count(index))
                ++index;
            std::strncpy(record.description, header.description, 128);
            entries[index] = record;
            return index;
        };
        p.removeImage = [this](int index) { entries.erase(index); };
        p.imageInfo = [this](int index, OmxImageInfo& record) {
            auto it = entries.find(index);
            if (it == entries.end()) return false;
            record = it->second;
            return true;
        };
        p.setImageInfo = [this](int index, const OmxImageInfo& record) {
            if (!entries.count(index)) return false;
            entries[index] = record;
            return true;
        };
        p.catalogueImage = [this](int index) -> std::optional<CatalogueImage> {
            auto it = entries.find(index);
            if (it == entries.end()) return std::nullopt;
            CatalogueImage image;
            image.index = index;
            image.path = it->second.path;
            image.description = it->second.description;
            image.defaultDrive = it->second.driveLetter;
            image.program = it->second.program;
            return image;
        };
        p.header = [](const std::string& path, OmxImageHeader& header) {
            return ombrix::header::read(path, header);
        };
        p.checkAccess = [this](const std::string&, unsigned) { return denyAccess; };
        p.verifyPassword = [this](const std::string&, std::string& typed) {
            typed = "secret";
            return passwordRight != 0;
        };
        p.setDescription = [this](const std::string& path, const std::string& text) {
            written.push_back("description " + path + " " + text);
            return !descriptionFails;
        };
        p.setComment = [this](const std::string& path, const std::string& text) {
            written.push_back("comment " + path + " " + text);
            return true;
        };
        p.setLabel = [this](const std::string& path, const std::string& text) {
            written.push_back("label " + path + " " + text);
            return true;
        };
        p.insertIndex = [this](char letter, int index) {
            if (insertResult == 0) drives[letter] = index;
            return insertResult;
        };
        p.eject = [this](char letter) {
            drives[letter] = -1;
            return 0;
        };
        p.reportInsertError = [this](int code) { reportedErrors.push_back(code); };
        p.adminDriveLetters = [this] { return adminLetters; };
        p.localCatalogueWritable = [this] { return localWritable; };
        auto convert = [this](const std::string& path, const ClientPorts::Progress& progress) {
            for (int percent = 0; percent <= 100; percent += 50) {
                if (!progress(percent)) return 7;
            }
            if (conversionResult == 0 && conversionWritesImage) {
                fs::path target(path);
                target.replace_extension(".om4");
                ombrix::samples::writeImage(target, ombrix::samples::makeHeader("Converted"));
            }
            return conversionResult;
        };
        p.convertIso = convert;
        p.convertOlder = convert;
        p.lastConversionError = [] { return std::string("disc unreadable"); };
        p.openDocument = [this](const std::string& path) {
            opened.push_back(path);
            return openResult;
        };
        p.driveFolder = [](char letter) { return std::string("/home/u/OmbrixDrives/") + letter; };
        return p;
    }
};

// The dialogs' answers, given in order; what the user was told is kept.
struct ScriptedDialogs : OperationDialogs {
    std::vector<std::string> told;
    std::vector<std::string> files;
    std::optional<bool> keepSources = true;
    int conversions = 0;
    bool cancelConversionAt50 = false;
    std::deque<std::pair<DeleteAnswer, bool>> deleteAnswers;
    int deleteQuestions = 0;
    FolderDeletion folderChoice = FolderDeletion::MoveToRoot;
    std::optional<CopyChoice> copyChoice;
    bool cancelCopy = false;
    std::function<void(ImageProperties&)> edit;
    PropertyEditing editing;
    std::optional<std::pair<std::string, std::string>> newPassword;

    void tell(const std::string& text, ombrix::ui::Icon) override { told.push_back(text); }
    bool ask(const std::string&) override { return true; }
    std::vector<std::string> chooseImageFiles() override { return files; }
    std::optional<bool> askConversion() override { return keepSources; }
    int runConversion(int, int, const std::string&, const ProgressWork& work) override {
        ++conversions;
        return work([this](int percent) { return !(cancelConversionAt50 && percent >= 50); });
    }
    std::optional<FindResult> findImages(const FindSetup&) override { return std::nullopt; }
    DeleteAnswer askDeleteImage(const std::string&, bool& fromDisk) override {
        ++deleteQuestions;
        auto [answer, disk] = deleteAnswers.front();
        deleteAnswers.pop_front();
        fromDisk = disk;
        return answer;
    }
    FolderDeletion askDeleteFolder(const std::string&) override { return folderChoice; }
    std::optional<CopyChoice> askCopy(const CopyRequest&) override { return copyChoice; }
    int runCopy(const std::string&, const ProgressWork& work) override {
        return work([this](int percent) { return !(cancelCopy && percent > 0); });
    }
    bool editProperties(ImageProperties& p, const PropertyEditing& e,
                        const std::function<void()>& changePassword,
                        const std::function<void()>&) override {
        editing = e;
        if (!edit) return false;
        edit(p);
        if (newPassword) changePassword();
        return true;
    }
    std::optional<std::pair<std::string, std::string>> askNewPassword() override {
        return newPassword;
    }
    std::optional<std::string> chooseFolder(const std::string&, const std::string&) override {
        return std::nullopt;
    }
    void showFileInformation(const FileInformation&) override {}
};

AccessState everyRight() {
    AccessState a;
    a.mayInsertEject = a.useGlobalImages = a.useLocalImages = true;
    a.canChangeGlobalCatalogue = a.canChangeGlobalTree = true;
    a.canChangeLocalCatalogue = a.canChangeLocalTree = true;
    return a;
}

// A document over the fake catalogue, with the operations and counters of tree writes.
struct Scene {
    ombrix::test::TempRoot root;
    FakeClient client;
    ScriptedDialogs dialogs;
    MngDocument document;
    AccessState access = everyRight();
    BusyFlags busy;
    int treeWrites = 0;
    int flagsSeen = 0;
    std::vector<std::string> treeLines{"\\Games\\|", "\\Office\\|"};
    std::unique_ptr<ImageOperations> ops;

    explicit Scene(ViewOptions view = {}) {
        load(view);
        ImageOperations::Host host;
        host.document = &document;
        host.access = [this] { return access; };
        host.busy = &busy;
        host.ended = [this](int flag) {
            ++flagsSeen;
            busy.clear(flag);
        };
        host.saveTrees = [this] { ++treeWrites; };
        host.temporaryFolder = (root / "tmp").string();
        fs::create_directories(root / "tmp");
        ops = std::make_unique<ImageOperations>(host, client.ports(), dialogs);
    }

    void load(ViewOptions view) {
        DocumentSources s;
        s.catalogue = [this] {
            std::vector<CatalogueImage> images;
            for (const auto& [index, e] : client.entries) {
                CatalogueImage i;
                i.index = index;
                i.path = e.path;
                i.description = e.description;
                i.defaultDrive = e.driveLetter;
                images.push_back(i);
            }
            return images;
        };
        s.drives = [this] {
            std::vector<VirtualDrive> d;
            for (auto [letter, index] : client.drives)
                d.push_back({letter, index, ""});
            return d;
        };
        s.globalTreeLines = [this] { return treeLines; };
        document.load(s, view);
    }

    // An image file on disk with two track part files and a lower-case icon beside it.
    std::string image(const std::string& name, bool catalogued = true, int index = 5001) {
        const fs::path folder = root / "images" / name;
        fs::create_directories(folder);
        const fs::path file = folder / (name + ".om4");
        ombrix::samples::writeImage(file, ombrix::samples::makeHeader(name));
        if (catalogued) {
            OmxImageInfo e{};
            std::strncpy(e.path, file.c_str(), sizeof e.path - 1);
            std::strncpy(e.description, name.c_str(), 128);
            client.entries[index] = e;
        }
        return file.string();
    }

    std::vector<std::string> imagesIn(const std::string& folder) {
        std::vector<std::string> out;
        for (int i : document.imagesIn(folder))
            out.push_back(document.image(i)->description);
        std::sort(out.begin(), out.end());
        return out;
    }
};

TEST(Adding, FilesAreCataloguedPlacedBelowTheFolderAndTheTreeWrittenOnce) {
    Scene s;
    const std::string a = s.image("Atlas", false);
    const std::string b = s.image("Birds", false);
    const auto bad = s.root / "bad.om4";
    ombrix::test::writeFile(bad, std::string(2000, 'x'));
    const auto added = s.ops->addFiles({a, b, bad.string()}, "\\Games\\");
    EXPECT_EQ(added, (std::vector<int>{5001, 5002}));
    EXPECT_EQ(s.imagesIn("\\Games\\"), (std::vector<std::string>{"Atlas", "Birds"}));
    EXPECT_EQ(s.treeWrites, 1);
    ASSERT_EQ(s.dialogs.told.size(), 1u);
    EXPECT_EQ(s.dialogs.told[0],
              bad.string() + " is not a valid Ombrix image. This image will not be added.");
    EXPECT_FALSE(s.busy.any());

    // Already catalogued: the library says 0, which fails like any other refusal.
    EXPECT_TRUE(s.ops->addFiles({a}, "\\Office\\").empty());
    EXPECT_EQ(s.dialogs.told.back(), "Cannot add the image " + a +
                                         " at the moment. It may be in use by another "
                                         "application. Please try again later.");
    EXPECT_EQ(s.treeWrites, 1);
}

TEST(Adding, DiscImagesAreConvertedFirstAndACancelAddsNothing) {
    Scene s;
    const auto iso = s.root / "in" / "DISC.ISO";
    ombrix::test::writeFile(iso, "iso bytes");
    s.dialogs.keepSources = false;
    ASSERT_EQ(s.ops->addFiles({iso.string()}, "\\").size(), 1u);
    EXPECT_TRUE(fs::exists(s.root / "in/DISC.om4"));
    EXPECT_FALSE(fs::exists(iso)) << "the source goes when it was not to be kept";
    EXPECT_EQ(s.document.image(5001)->description, "Converted");

    // A second conversion onto an existing image would overwrite it: refused, both kept.
    ombrix::test::writeFile(iso, "iso bytes");
    EXPECT_TRUE(s.ops->addFiles({iso.string()}, "\\").empty());
    EXPECT_TRUE(fs::exists(iso));
    EXPECT_NE(s.dialogs.told.back().find("already exists"), std::string::npos);

    const auto other = s.root / "in" / "other.iso";
    ombrix::test::writeFile(other, "iso bytes");
    s.dialogs.told.clear();
    s.dialogs.cancelConversionAt50 = true;
    EXPECT_TRUE(s.ops->addFiles({other.string()}, "\\").empty());
    EXPECT_TRUE(s.dialogs.told.empty()) << "a cancel is not an error";
    EXPECT_EQ(s.client.entries.size(), 1u);

    s.dialogs.cancelConversionAt50 = false;
    s.client.conversionResult = 5;
    EXPECT_TRUE(s.ops->addFiles({other.string()}, "\\").empty());
    EXPECT_EQ(s.dialogs.told.back(),
              "Cannot convert " + other.string() + ". Error: disc unreadable.");
    s.client.conversionResult = 8;
    s.ops->addFiles({other.string()}, "\\");
    EXPECT_EQ(s.dialogs.told.back(), other.string() + " is not a valid image file.");

    // Refusing the conversion dialog skips the disc images but adds the others.
    s.dialogs.keepSources.reset();
    const std::string ready = s.image("Ready", false);
    EXPECT_EQ(s.ops->addFiles({other.string(), ready}, "\\").size(), 1u);
}

TEST(Drives, InsertRecordsTheFirstDriveAsDefaultAndFailuresAreReported) {
    Scene s;
    s.image("Atlas");
    s.load({});
    EXPECT_TRUE(s.ops->insert('F', 5001));
    EXPECT_EQ(s.client.drives['F'], 5001);
    EXPECT_EQ(s.client.entries[5001].driveLetter, 'F');
    EXPECT_EQ(s.document.image(5001)->defaultDrive, 'F');
    // The recorded drive stays when the image goes elsewhere later.
    EXPECT_TRUE(s.ops->insert('E', 5001));
    EXPECT_EQ(s.client.entries[5001].driveLetter, 'F');
    EXPECT_TRUE(s.ops->eject('E'));
    EXPECT_EQ(s.client.drives['E'], -1);

    s.client.insertResult = 23;
    EXPECT_FALSE(s.ops->insert('E', 5001));
    EXPECT_EQ(s.client.reportedErrors, std::vector<int>{23});
    EXPECT_EQ(s.client.drives['E'], -1);

    s.access.mayInsertEject = false;
    s.client.insertResult = 0;
    EXPECT_FALSE(s.ops->insert('E', 5001));
}

TEST(Deleting, YesToAllDeletesTheRestFromDiskWithoutAsking) {
    Scene s;
    const std::string a = s.image("Atlas", true, 5001);
    const std::string b = s.image("Birds", true, 5002);
    const std::string c = s.image("Chess", true, 5003);
    ombrix::test::writeFile(fs::path(a).replace_extension(".000"), "part");
    ombrix::test::writeFile(fs::path(a).replace_extension(".ico"), "icon");
    ombrix::test::writeFile(fs::path(b).parent_path() / "notes.txt", "kept");
    s.treeLines = {"\\Games\\|" + a, "\\Games\\|" + b, "\\Office\\|" + b};
    s.load({});
    s.dialogs.deleteAnswers = {{DeleteAnswer::No, false}, {DeleteAnswer::YesToAll, true}};
    s.ops->deleteImages({{"\\", 5003}, {"\\Games\\", 5001}, {"\\Games\\", 5002}});
    EXPECT_EQ(s.dialogs.deleteQuestions, 2);
    EXPECT_TRUE(fs::exists(c));
    EXPECT_FALSE(fs::exists(fs::path(a).parent_path())) << "the emptied folder goes too";
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(fs::exists(fs::path(b).parent_path() / "notes.txt"));
    EXPECT_EQ(s.client.entries.size(), 1u);
    EXPECT_FALSE(s.document.tree().holdsImage(5002)) << "every reference goes";
    EXPECT_EQ(s.treeWrites, 1);
    EXPECT_FALSE(s.busy.any());
}

TEST(Deleting, AFailedDiskDeletionKeepsTheImageCataloguedAndItsFilesWhole) {
    Scene s;
    const std::string a = s.image("Atlas");
    s.load({});
    s.client.denyAccess = 5;
    s.dialogs.deleteAnswers = {{DeleteAnswer::Yes, true}};
    s.ops->deleteImages({{"\\", 5001}});
    EXPECT_TRUE(fs::exists(a));
    EXPECT_EQ(s.client.entries.size(), 1u);
    EXPECT_TRUE(s.document.tree().holdsImage(5001));
    EXPECT_EQ(s.dialogs.told.back(),
              "Cannot physically delete the ombrix called 'Atlas'. Possible causes: You do not "
              "have the required permissions, or the ombrix is in use on another computer.");

    // A wrong password keeps it too, even when the list did not know of the password yet;
    // without the disk choice only the entry goes.
    s.client.denyAccess = 0;
    ombrix::samples::writeImage(a, ombrix::samples::makeHeader("Atlas", "secret"));
    s.client.passwordRight = false;
    s.dialogs.deleteAnswers = {{DeleteAnswer::Yes, true}};
    s.ops->deleteImages({{"\\", 5001}});
    EXPECT_TRUE(fs::exists(a));
    EXPECT_EQ(s.dialogs.told.back(),
              "Wrong password. The ombrix 'Atlas' was not deleted from the hard disk.");
    s.dialogs.deleteAnswers = {{DeleteAnswer::Yes, false}};
    s.ops->deleteImages({{"\\", 5001}});
    EXPECT_TRUE(fs::exists(a));
    EXPECT_TRUE(s.client.entries.empty());
}

TEST(Folders, DeletingMovesExcludesOrDeletesWhatTheyHold) {
    Scene s;
    const std::string a = s.image("Atlas", true, 5001);
    const std::string b = s.image("Birds", true, 5002);
    s.treeLines = {"\\Games\\|" + a, "\\Games\\Old\\|" + b, "\\Office\\|"};
    s.load({});
    s.ops->deleteFolder("\\Games\\");
    EXPECT_EQ(s.document.tree().folder("\\Games\\Old\\"), nullptr);
    EXPECT_EQ(s.imagesIn("\\"), (std::vector<std::string>{"Atlas", "Birds"}));

    s.treeLines = {"\\Games\\|" + a};
    s.load({});
    s.dialogs.folderChoice = FolderDeletion::Exclude;
    s.ops->deleteFolder("\\Games\\");
    EXPECT_EQ(s.client.entries.count(5001), 0u);
    EXPECT_TRUE(fs::exists(a));

    s.treeLines = {"\\Office\\|" + b};
    s.load({});
    s.dialogs.folderChoice = FolderDeletion::DeleteEntirely;
    s.ops->deleteFolder("\\Office\\");
    EXPECT_FALSE(fs::exists(b));
    EXPECT_TRUE(s.client.entries.empty());
    // The root is no folder to delete.
    s.ops->deleteFolder("\\");
    EXPECT_EQ(s.treeWrites, 3);
}

TEST(Folders, NewFoldersAreNumberedAndNamesChecked) {
    Scene s;
    EXPECT_EQ(s.ops->newFolder("\\Games\\"), "\\Games\\New Folder\\");
    EXPECT_EQ(s.ops->newFolder("\\Games\\"), "\\Games\\New Folder (2)\\");
    EXPECT_EQ(s.ops->newFolder("\\Games\\"), "\\Games\\New Folder (3)\\");
    EXPECT_TRUE(s.ops->renameFolder("\\Games\\New Folder\\", "  Arcade"));
    EXPECT_NE(s.document.tree().folder("\\Games\\Arcade\\"), nullptr);
    EXPECT_FALSE(s.ops->renameFolder("\\Games\\New Folder (2)\\", "arcade"));
    EXPECT_EQ(s.dialogs.told.back(),
              "A folder with the name 'arcade' already exists.\n Please choose a different name.");
    for (const char* bad : {"   ", "a.b", "x|y", "q?", "semi;colon", "bang!"}) {
        EXPECT_FALSE(s.ops->renameFolder("\\Games\\New Folder (2)\\", bad)) << bad;
    }
    EXPECT_EQ(s.dialogs.told.back(),
              "The file name field is empty or contains one or more characters that are not "
              "allowed.");
    s.access.canChangeLocalTree = s.access.canChangeGlobalTree = false;
    EXPECT_EQ(s.ops->newFolder("\\"), "");
}

TEST(Properties, OnlyChangedFieldsAreWrittenAndAnImageInUseSaysSo) {
    Scene s;
    const std::string a = s.image("Atlas");
    s.load({});
    s.dialogs.edit = [](ImageProperties& p) {
        p.description = "Atlas 2027";
        p.program = "%OMXDrive%\\setup";
        p.ejectOnExit = true;
    };
    s.client.descriptionFails = true;
    s.ops->properties(5001);
    EXPECT_TRUE(s.dialogs.editing.description && s.dialogs.editing.catalogueFields);
    EXPECT_EQ(s.client.written, std::vector<std::string>{"description " + a + " Atlas 2027"});
    EXPECT_EQ(s.dialogs.told.back(),
              "You cannot change the properties of the selected ombrix, because it is in use.");
    // The catalogue's fields are still written; the description stays as the file has it.
    EXPECT_STREQ(s.client.entries[5001].program, "%OMXDrive%\\setup");
    EXPECT_EQ(s.client.entries[5001].flag, 1);
    EXPECT_STREQ(s.client.entries[5001].description, "Atlas");

    // Without write access to the file only the catalogue's fields may change.
    s.client.written.clear();
    s.client.denyAccess = 5;
    s.dialogs.edit = [](ImageProperties&) {};
    s.ops->properties(5001);
    EXPECT_FALSE(s.dialogs.editing.description);
    EXPECT_FALSE(s.dialogs.editing.comment);
    EXPECT_TRUE(s.dialogs.editing.catalogueFields);
    EXPECT_TRUE(s.client.written.empty());
}

TEST(Properties, APasswordChangeNeedsTwoEqualEntries) {
    Scene s;
    s.image("Atlas");
    s.load({});
    std::vector<std::string> set;
    ClientPorts ports = s.client.ports();
    ports.setPassword = [&](const std::string&, const std::string& old, const std::string& now) {
        set.push_back(old + ">" + now);
        return 0;
    };
    ImageOperations::Host host;
    host.document = &s.document;
    host.access = [&] { return s.access; };
    ImageOperations ops(host, ports, s.dialogs);
    s.dialogs.edit = [](ImageProperties&) {};
    s.dialogs.newPassword = std::pair<std::string, std::string>{"one", "two"};
    ops.properties(5001);
    EXPECT_EQ(s.dialogs.told.back(), "The passwords entered were not identical.");
    s.dialogs.newPassword = std::pair<std::string, std::string>{"new", "new"};
    ops.properties(5001);
    EXPECT_EQ(set, std::vector<std::string>{">new"});
}

TEST(DragAndDrop, MovesCopiesAndRefusals) {
    Scene s;
    const std::string a = s.image("Atlas");
    s.treeLines = {"\\Games\\|" + a, "\\Games\\Old\\|", "\\Office\\|"};
    s.load({});
    EXPECT_TRUE(s.ops->dropOnFolder({{"\\Games\\", 5001}}, "\\Office\\", false));
    EXPECT_EQ(s.document.tree().foldersOf(5001), std::vector<std::string>{"\\Office\\"});
    EXPECT_TRUE(s.ops->dropOnFolder({{"\\Office\\", 5001}}, "\\Games\\", true));
    EXPECT_EQ(s.document.tree().foldersOf(5001),
              (std::vector<std::string>{"\\Games\\", "\\Office\\"}));
    // A folder goes with what it holds, but never into itself.
    EXPECT_TRUE(s.ops->dropOnFolder({{"\\Games\\", 0}}, "\\Office\\", false));
    EXPECT_NE(s.document.tree().folder("\\Office\\Games\\Old\\"), nullptr);
    EXPECT_FALSE(s.ops->dropOnFolder({{"\\Office\\", 0}}, "\\Office\\Games\\", false));
    EXPECT_FALSE(s.ops->dropOnFolder({{"\\", 0}}, "\\Office\\", false));

    // With one reference per image a further one is refused.
    Scene single(ViewOptions{false, true});
    single.image("Atlas");
    single.treeLines = {"\\Games\\|" + a};
    single.load({false, true});
    EXPECT_FALSE(single.ops->dropOnFolder({{"\\Games\\", 5001}}, "\\Office\\", true));

    // A drive locked by the administrator takes nothing; another one takes a single image.
    s.client.adminLetters = "EG";
    EXPECT_FALSE(s.ops->dropOnDrive({{"\\Games\\", 5001}}, 'E'));
    EXPECT_EQ(s.client.drives['E'], -1);
    EXPECT_FALSE(s.ops->dropOnDrive({{"\\Games\\", 5001}, {"\\Office\\", 5001}}, 'F'));
    EXPECT_TRUE(s.ops->dropOnDrive({{"\\Games\\", 5001}}, 'F'));
    EXPECT_EQ(s.client.drives['F'], 5001);
}

TEST(Transfer, CopiesGoToTheTargetCatalogueAndFailuresLeaveBothAsTheyWere) {
    Scene s(ViewOptions{true, false});
    const std::string a = s.image("Atlas", true, 5001);
    ombrix::test::writeFile(fs::path(a).replace_extension(".000"), std::string(4096, 'd'));
    s.load({true, false});
    const std::string target = (s.root / "local").string();
    s.dialogs.copyChoice = CopyChoice{true, target};

    // The target catalogue refuses: the copies go again, the source keeps its entry.
    s.client.addFails = true;
    EXPECT_FALSE(s.ops->transfer({5001}, "\\local\\"));
    EXPECT_EQ(s.client.entries.count(5001), 1u);
    EXPECT_FALSE(fs::exists(target + "/Atlas"));

    // Cancelled while copying: nothing shown, nothing left.
    s.client.addFails = false;
    s.dialogs.cancelCopy = true;
    s.dialogs.told.clear();
    EXPECT_FALSE(s.ops->transfer({5001}, "\\local\\"));
    EXPECT_TRUE(s.dialogs.told.empty());
    EXPECT_TRUE(fs::is_empty(target));

    s.dialogs.cancelCopy = false;
    EXPECT_TRUE(s.ops->transfer({5001}, "\\local\\"));
    EXPECT_EQ(s.client.entries.count(5001), 0u);
    ASSERT_EQ(s.client.entries.count(1), 1u);
    EXPECT_EQ(std::string(s.client.entries[1].path), target + "/Atlas/Atlas.om4");
    EXPECT_TRUE(fs::exists(target + "/Atlas/Atlas.000"));
    EXPECT_TRUE(fs::exists(a)) << "the source's files stay";
    EXPECT_EQ(s.document.tree().foldersOf(1), std::vector<std::string>{"\\local\\"});

    // A selection from both catalogues is refused.
    s.image("Birds", true, 5002);
    s.load({true, false});
    EXPECT_FALSE(s.ops->transfer({1, 5002}, "\\local\\"));
    EXPECT_NE(s.dialogs.told.back().find("both local and network CDs"), std::string::npos);
}

TEST(Search, FindsImageFilesOfOneTypeIgnoringCaseBelowTheFolder) {
    ombrix::test::TempRoot root;
    ombrix::test::writeFile(root / "a/one.ISO", "x");
    ombrix::test::writeFile(root / "a/b/two.iso", "x");
    ombrix::test::writeFile(root / "a/three.om4", "x");
    size_t last = 0;
    const auto found = findImageFiles((root / "a").string(), ImageFileType::Iso, [&](size_t n) {
        last = n;
        return true;
    });
    EXPECT_EQ(found.size(), 2u);
    EXPECT_EQ(last, 2u);
    EXPECT_EQ(
        findImageFiles((root / "a").string(), ImageFileType::Iso, [](size_t) { return false; })
            .size(),
        1u);
}

}  // namespace

namespace {

// Through the client library: the pool's catalogue file and the tree file on disk, before and
// after an add.
TEST(Adding, ReachesThePoolsCatalogueAndTreeFiles) {
    ombrix::test::TempRoot root;
    const fs::path pool = root / "pool";
    fs::create_directories(pool);
    const std::string catalogue = (pool / "OMXimg.dat").string();
    const std::string treeFile = (pool / "OMXTree.dat").string();
    EnvSetGlobalValue("OmxConfigFileNet", catalogue.c_str());
    const fs::path image = root / "images/atlas.om4";
    ombrix::samples::writeImage(image, ombrix::samples::makeHeader("Atlas"));

    MngDocument document;
    document.load({}, {});
    document.tree().insert("\\Games\\", TreeEntry::kFolder | TreeEntry::kGlobalBit);
    AccessState access = everyRight();
    ImageOperations::Host host;
    host.document = &document;
    host.access = [&] { return access; };
    host.saveTrees = [&] {
        const std::string text = document.tree().fileText(TreeFile::Global, "", [&](int index) {
            return document.image(index) != nullptr ? document.image(index)->path : "";
        });
        ASSERT_EQ(saveTreeFile(treeFile, text), 0);
    };
    ClientPorts ports;
    ports.addImage = [](OmxImageInfo& record, int range) {
        return OMXAddImageCheck(&record, range, 0);
    };
    ports.header = [](const std::string& path, OmxImageHeader& header) {
        return OMXGetHeader(path.c_str(), &header);
    };
    ScriptedDialogs dialogs;
    ImageOperations operations(host, ports, dialogs);
    EXPECT_FALSE(fs::exists(treeFile));
    ASSERT_EQ(operations.addFiles({image.string()}, "\\Games\\"), std::vector<int>{5001});
    EXPECT_NE(ombrix::test::readFile(catalogue).find(image.string() + "|"), std::string::npos);
    EXPECT_NE(ombrix::test::readFile(catalogue).find("|Atlas"), std::string::npos);
    const std::string tree = ombrix::test::readFile(treeFile);
    EXPECT_NE(tree.find("\\Games\\|" + image.string() + "\r\n"), std::string::npos) << tree;
    EXPECT_TRUE(dialogs.told.empty());
}

}  // namespace

namespace {

TEST(Adding, AConversionNeverTouchesAnotherImageOfTheSameName) {
    Scene s;
    const fs::path folder = s.root / "in";
    ombrix::test::writeFile(folder / "disc.iso", "iso bytes");
    ombrix::test::writeFile(folder / "DISC.OM4", "another image");
    ombrix::test::writeFile(folder / "DISC.000", "its track");
    EXPECT_TRUE(s.ops->addFiles({(folder / "disc.iso").string()}, "\\").empty());
    EXPECT_EQ(s.dialogs.conversions, 0);
    EXPECT_EQ(ombrix::test::readFile(folder / "DISC.000"), "its track");
    EXPECT_NE(s.dialogs.told.back().find("already exists"), std::string::npos);
    // A track part file alone is enough to refuse.
    fs::remove(folder / "DISC.OM4");
    EXPECT_TRUE(s.ops->addFiles({(folder / "disc.iso").string()}, "\\").empty());
    EXPECT_EQ(ombrix::test::readFile(folder / "DISC.000"), "its track");
}

TEST(Adding, TheLocalBranchTakesNothingWhenTheLibraryKeepsNoLocalCatalogue) {
    Scene s(ViewOptions{true, false});
    s.client.localWritable = false;
    s.load({true, false});
    const std::string a = s.image("Atlas", false);
    EXPECT_TRUE(s.ops->addFiles({a}, "\\local\\").empty());
    EXPECT_TRUE(s.client.entries.empty());
    EXPECT_EQ(s.ops->addFiles({a}, "\\network\\"), std::vector<int>{5001});
    EXPECT_EQ(s.document.tree().foldersOf(5001), std::vector<std::string>{"\\network\\"});
    // Nor can an image move there.
    EXPECT_FALSE(s.ops->transfer({5001}, "\\local\\"));
    EXPECT_EQ(s.client.entries.count(5001), 1u);
}

TEST(Deleting, TheSessionsDrivesLetGoOfTheImageBeforeItsFilesGo) {
    Scene s;
    const std::string a = s.image("Atlas");
    s.client.drives['E'] = 5001;
    s.load({});
    s.dialogs.deleteAnswers = {{DeleteAnswer::Yes, true}};
    s.ops->deleteImages({{"\\", 5001}});
    EXPECT_EQ(s.client.drives['E'], -1);
    EXPECT_FALSE(fs::exists(a));
}

TEST(Shortcut, TheDesktopEntryCarriesAnyPathSafely) {
    const auto entry = desktopEntry("/opt/ombrix/system/oxtcmd", "/srv/a b/100% \"x\"\\y$.om4");
    ASSERT_TRUE(entry.has_value());
    EXPECT_NE(entry->find("\nExec=\"/opt/ombrix/system/oxtcmd\" "
                          "\"/srv/a b/100%% \\\\\"x\\\\\"\\\\\\\\y\\\\$.om4\"\n"),
              std::string::npos)
        << *entry;
    EXPECT_NE(entry->find("\nComment=Ombrix v4 -- /srv/a b/100% \"x\"\\\\y$.om4\n"),
              std::string::npos);
    // A line break would let a path add keys of its own.
    EXPECT_FALSE(desktopEntry("/opt/oxtcmd", "/srv/a\nExec=evil.om4").has_value());
}

}  // namespace
