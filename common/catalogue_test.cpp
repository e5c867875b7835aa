#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "common/inifile.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "oxtenv.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
using ombrix::test::TempRoot;

namespace {

std::string entryAt(int index) {
    char buffer[2048] = {};
    return OMXGetImageStringFromIndex(index, buffer, sizeof buffer) ? buffer : "<missing>";
}

OmxImageInfo infoFor(const std::string& path) {
    OmxImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.path, path.c_str(), sizeof info.path - 1);
    std::strcpy(info.program, "%OMXDrive%\\setup.exe");
    info.driveLetter = 'E';
    info.firstNumber = 7;
    info.flag = 1;
    return info;
}

// A machine root with a shared catalogue file, as the services configure it.
class Catalogue : public ::testing::Test {
  protected:
    void SetUp() override {
        file_ = (root_ / "pool/OMXimg.dat").string();
        fs::create_directories(root_ / "pool");
        EnvSetGlobalValue("OmxConfigFileNet", file_.c_str());
    }

    // Publishes the catalogue file into the global store as the network access service does.
    void publish() {
        CIniFile file(file_);
        ASSERT_EQ(file.OpenAndLoad(false, CIniFile::kAttempts), 0);
        CEntryList entries;
        file.GetSectionEntries("Images", entries);
        int highest = 5000;
        for (const CEntry& entry : entries) {
            int index = std::atoi(entry.key.c_str() + 9);
            if (index < 5000) index += 5000;
            highest = std::max(highest, index);
            char key[32];
            std::snprintf(key, sizeof key, "OMXImage_%.4d", index);
            EnvSetGlobalValue(key, entry.value.c_str());
        }
        EnvSetGlobalValue("OMXIndexHiNet", std::to_string(highest).c_str());
    }

    std::string image(const std::string& name, const std::string& description = "Disc") {
        fs::path path = root_ / "images" / name;
        ombrix::samples::writeImage(path, ombrix::samples::makeHeader(description));
        return path.string();
    }

    TempRoot root_;
    std::string file_;
};

TEST_F(Catalogue, CountersFallBackWhenMissing) {
    EXPECT_EQ(OMXGetIndexHi(), 0);
    EXPECT_EQ(OMXGetIndexHiNet(), 5000);
    EXPECT_EQ(OMXGetNumberOfImages(), -1);
    EnvSetGlobalValue("OMXIndexHiNet", "4000");
    EXPECT_EQ(OMXGetIndexHiNet(), 5000);
    EnvSetGlobalValue("OMXIndexHiNet", "5007");
    EnvSetGlobalValue("OMXIndexHi", "3");
    EnvSetGlobalValue("OMXImageCount", "12");
    EXPECT_EQ(OMXGetIndexHiNet(), 5007);
    EXPECT_EQ(OMXGetIndexHi(), 3);
    EXPECT_EQ(OMXGetNumberOfImages(), 12);
}

TEST_F(Catalogue, EntryTextsParseIntoTheRecord) {
    EnvSetGlobalValue("OMXImage_5001", "/img/a.om4|run.sh|/work|F|12|-3|1|A disc");
    EnvSetGlobalValue("OMXImage_5002", "/img/b.om4|prog|dir|G|5");
    EnvSetGlobalValue("OMXImage_5003", "/img/c.om4||/dir|0|1|2|0|Pipes | in | text");
    EnvSetGlobalValue("OMXImage_5004",
                      (std::string(300, 'p') + "|x|y|E|1|2|1|" + std::string(200, 'd')).c_str());
    OmxImageInfo info;
    ASSERT_EQ(OMXGetImageInfoFromIndex(5001, &info), 1);
    EXPECT_STREQ(info.path, "/img/a.om4");
    EXPECT_STREQ(info.program, "run.sh");
    EXPECT_STREQ(info.parameters, "/work");
    EXPECT_EQ(info.driveLetter, 'F');
    EXPECT_EQ(info.firstNumber, 12);
    EXPECT_EQ(info.secondNumber, -3);
    EXPECT_EQ(info.flag, 1);
    EXPECT_STREQ(info.description, "A disc");

    ASSERT_EQ(OMXGetImageInfoFromIndex(5002, &info), 1);  // five fields only
    EXPECT_EQ(info.firstNumber, 5);
    EXPECT_EQ(info.flag, 0);
    EXPECT_STREQ(info.description, "");

    ASSERT_EQ(OMXGetImageInfoFromIndex(5003, &info), 1);  // an empty field keeps its place
    EXPECT_STREQ(info.program, "");
    EXPECT_STREQ(info.parameters, "/dir");
    EXPECT_STREQ(info.description, "Pipes | in | text");

    ASSERT_EQ(OMXGetImageInfoFromIndex(5004, &info), 1);  // over-long fields are cut
    EXPECT_EQ(std::strlen(info.path), 259u);
    EXPECT_EQ(std::strlen(info.description), 128u);

    EXPECT_EQ(OMXGetImageInfoFromIndex(5005, &info), 0);
    EXPECT_EQ(OMXGetImageInfoFromIndex(5001, nullptr), 0);
    char small[5];
    EXPECT_EQ(OMXGetImageStringFromIndex(5001, small, sizeof small), 4);
    EXPECT_STREQ(small, "/img");
}

TEST_F(Catalogue, LookupByPathIgnoresCaseAndFollowsAliases) {
    std::string real = image("Disc.om4");
    fs::create_directory_symlink(root_ / "images", root_ / "mapped");
    EnvSetGlobalValue("OMXIndexHi", "2");
    EnvSetGlobalValue("OMXImage_0002", "/local/x.om4|||0|0|0|0|");
    EnvSetGlobalValue("OMXIndexHiNet", "5003");
    EnvSetGlobalValue("OMXImage_5003", (real + "|||0|0|0|0|").c_str());
    EnvSetGlobalValue("OMXImage_5002", "/LOCAL/X.OM4|||0|0|0|0|");

    EXPECT_EQ(OMXGetIndexFromImageFile("/local/X.om4", OMX_RANGE_ALL), 2);
    EXPECT_EQ(OMXGetIndexFromImageFile("/local/X.om4", OMX_RANGE_SHARED), 5002);
    EXPECT_EQ(OMXGetIndexFromImageFile((root_ / "mapped/Disc.om4").c_str(), OMX_RANGE_ALL), 5003);
    EXPECT_EQ(OMXGetIndexFromImageFile((root_ / "images/Disc.om4").c_str(), OMX_RANGE_LOCAL), -1);
    EXPECT_EQ(OMXGetIndexFromImageFile("/nowhere.om4", OMX_RANGE_ALL), -1);
    EXPECT_EQ(OMXGetIndexFromImageFile(nullptr, OMX_RANGE_ALL), -1);
}

TEST_F(Catalogue, AddingWritesTheFileWithTheHeaderDescription) {
    std::string path = image("a.om4", "Office 2000");
    OmxImageInfo info = infoFor(path);
    ASSERT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5001);
    EXPECT_STREQ(info.description, "Office 2000");
    CIniFile file(file_);
    ASSERT_EQ(file.OpenAndLoad(false, 1), 0);
    std::string value;
    ASSERT_TRUE(file.GetValue("Images", "OMXImage_5001", value));
    EXPECT_EQ(value, path + "|%OMXDrive%\\setup.exe||E|7|0|1|Office 2000");
    file.Close();

    // Once published, the same image is not added again and the file stays as it is.
    publish();
    std::string before = ombrix::test::readFile(file_);
    info = infoFor(path);
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 0);
    EXPECT_EQ(ombrix::test::readFile(file_), before);

    // The next image takes the next index.
    info = infoFor(image("b.om4"));
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5002);
}

TEST_F(Catalogue, TheSessionsDebugTraceFollowsTheCalls) {
    std::string trace = (root_ / "trace.txt").string();
    EnvSetUserValue("DebugOut", trace.c_str());
    OmxImageInfo info = infoFor(image("a.om4"));
    ASSERT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5001);
    EXPECT_EQ(OMXAddImage(nullptr, OMX_RANGE_SHARED), -1);
    EXPECT_EQ(ombrix::test::readFile(trace),
              "oxtcomm_test - Entering OMXAddImage_int()\n"
              "oxtcomm_test - Entering OMXAddImage_int()\n"
              "oxtcomm_test - No Info\n");
    EnvSetUserValue("DebugOut", (root_ / "no/such/folder/t.txt").c_str());
    EXPECT_EQ(OMXAddImage(nullptr, OMX_RANGE_SHARED), -1);  // an unwritable trace is ignored
}

TEST_F(Catalogue, AddingRefusesWhatIsNoImage) {
    ombrix::test::writeFile(root_ / "images/text.om4", std::string(2000, 'x'));
    OmxImageInfo info = infoFor((root_ / "images/text.om4").string());
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), -1);

    info = infoFor((root_ / "images/missing.om4").string());
    EXPECT_EQ(OMXAddImageCheck(&info, OMX_RANGE_SHARED, 1), -1);
    EXPECT_EQ(OMXAddImageCheck(&info, OMX_RANGE_SHARED, 0), 5001);  // lenient: no description
    EXPECT_STREQ(info.description, "");
    EXPECT_EQ(OMXAddImage(nullptr, OMX_RANGE_SHARED), -1);

    EnvDeleteGlobalValue("OmxConfigFileNet");
    info = infoFor(image("c.om4"));
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), -1);
}

TEST_F(Catalogue, OlderFormatImagesNeedTheCompatibilitySwitch) {
    std::string old(1069, '\0');
    std::memcpy(&old[12], "Old disc", 8);
    std::memcpy(&old[140], "ZRM V3.0", 8);
    ombrix::test::writeFile(root_ / "images/old.om4", old);
    std::memcpy(&old[140], "ZRM V9.9", 8);
    ombrix::test::writeFile(root_ / "images/odd.om4", old);

    OmxImageInfo info = infoFor((root_ / "images/old.om4").string());
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), -1);
    EnvSetGlobalValue("Omx3xCompat", "1");
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5001);
    EXPECT_STREQ(info.description, "Old disc");
    info = infoFor((root_ / "images/odd.om4").string());
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), -1);
}

TEST_F(Catalogue, AKeyTakenInTheFileMovesTheNewEntryToAFreeOne) {
    ombrix::test::writeFile(file_,
                            "[Images]\r\nOMXImage_5001=/other.om4|||0|0|0|0|\r\n"
                            "OMXImage_5002=/other2.om4|||0|0|0|0|\r\n");
    OmxImageInfo info = infoFor(image("a.om4"));  // the store is not published yet
    EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5003);
}

TEST_F(Catalogue, TwoProcessesAddingAtOnceLoseNothing) {
    const int kEach = 15;
    for (int i = 0; i < kEach; ++i) {
        image("p" + std::to_string(i) + ".om4");
        image("c" + std::to_string(i) + ".om4");
    }
    pid_t child = fork();
    const char* prefix = child == 0 ? "c" : "p";
    int failures = 0;
    for (int i = 0; i < kEach; ++i) {
        OmxImageInfo info =
            infoFor((root_ / "images" / (prefix + std::to_string(i) + ".om4")).string());
        if (OMXAddImage(&info, OMX_RANGE_SHARED) < 5001) ++failures;
    }
    if (child == 0) _exit(failures);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);

    CIniFile file(file_);
    ASSERT_EQ(file.OpenAndLoad(false, 1), 0);
    CEntryList entries;
    file.GetSectionEntries("Images", entries);
    std::set<std::string> paths;
    for (const CEntry& entry : entries)
        paths.insert(entry.value.substr(0, entry.value.find('|')));
    EXPECT_EQ(entries.size(), 2u * kEach);
    EXPECT_EQ(paths.size(), 2u * kEach);
}

TEST_F(Catalogue, ChangingStoresOnlyRealChanges) {
    std::string path = image("a.om4", "Original");
    OmxImageInfo info = infoFor(path);
    ASSERT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), 5001);
    publish();

    OmxImageInfo changed;
    ASSERT_EQ(OMXGetImageInfoFromIndex(5001, &changed), 1);
    std::strcpy(changed.program, "other.sh");
    std::strcpy(changed.description, "Not taken over");
    std::strcpy(changed.path, "/elsewhere.om4");
    EXPECT_EQ(OMXSetImageInfoFromIndex(5001, &changed), 1);
    CIniFile file(file_);
    ASSERT_EQ(file.OpenAndLoad(false, 1), 0);
    std::string value;
    ASSERT_TRUE(file.GetValue("Images", "OMXImage_5001", value));
    EXPECT_EQ(value, path + "|other.sh||E|7|0|1|Original");

    // Unchanged: answered without touching the file (it may even be unreachable).
    publish();
    OmxImageInfo same;
    ASSERT_EQ(OMXGetImageInfoFromIndex(5001, &same), 1);
    fs::remove(file_);
    EXPECT_EQ(OMXSetImageInfoFromIndex(5001, &same), 1);
    EXPECT_FALSE(fs::exists(file_));

    // Local entries and missing ones are not changed here.
    EnvSetGlobalValue("OMXImage_0001", "/l.om4|a|b|0|0|0|0|");
    EXPECT_EQ(OMXSetImageInfoFromIndex(1, &changed), 0);
    EXPECT_EQ(OMXSetImageInfoFromIndex(5999, &changed), 0);
}

TEST_F(Catalogue, ChangingFindsTheEntryByPathWhenKeysDiffer) {
    ombrix::test::writeFile(file_, "[Images]\r\nOMXImage_0012=/img/x.om4|a|b|0|0|0|0|X\r\n");
    publish();  // key 12 is published as 5012
    OmxImageInfo info;
    ASSERT_EQ(OMXGetImageInfoFromIndex(5012, &info), 1);
    std::strcpy(info.program, "new");
    EXPECT_EQ(OMXSetImageInfoFromIndex(5012, &info), 1);
    CIniFile file(file_);
    ASSERT_EQ(file.OpenAndLoad(false, 1), 0);
    std::string value;
    ASSERT_TRUE(file.GetValue("Images", "OMXImage_0012", value));
    EXPECT_EQ(value, "/img/x.om4|new|b|0|0|0|0|X");
}

TEST_F(Catalogue, RemovingTheHighestEntryLowersTheHighestIndex) {
    ombrix::test::writeFile(file_,
                            "[Images]\r\nOMXImage_5001=/a.om4|||0|0|0|0|\r\n"
                            "OMXImage_5002=/b.om4|||0|0|0|0|\r\n"
                            "OMXImage_0013=/c.om4|||0|0|0|0|\r\n");
    publish();
    ASSERT_EQ(OMXGetIndexHiNet(), 5013);
    OMXRemoveImage(5002);
    EXPECT_EQ(OMXGetIndexHiNet(), 5013);
    OMXRemoveImage(5013);  // stored under key 13 in the file
    EXPECT_EQ(OMXGetIndexHiNet(), 5012);
    std::string text = ombrix::test::readFile(file_);
    EXPECT_EQ(text, "[IMAGES]\r\nOMXIMAGE_5001=/a.om4|||0|0|0|0|\r\n");

    EnvSetGlobalValue("OMXImage_4999", "/local.om4|||0|0|0|0|");
    OMXRemoveImage(4999);  // local entries are refused
    EXPECT_EQ(entryAt(4999), "/local.om4|||0|0|0|0|");
}

}  // namespace
