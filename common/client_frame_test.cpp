#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>

#include "common/language_resources.h"
#include "common/oxtcomm_admin.h"
#include "common/sample_images.h"
#include "common/string_table.h"
#include "oxtenv.h"
#include "platform/named_event.h"
#include "platform/registry.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
using ombrix::test::TempRoot;

extern "C" int OMXInit(void);
extern "C" int OMXGetInquiryStrings(char, char*, char*, char*);

namespace {

std::string mapped(int code) {
    char buffer[256] = "untouched";
    EXPECT_EQ(OMXMapErrorCode(code, buffer, sizeof buffer), 1);
    return buffer;
}

// Message boxes and dialogs of a test go to a record file and take answers from a script.
class Scripted : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("OMBRIX_UI_RECORD", (root_ / "record.txt").c_str(), 1);
        ::setenv("OMBRIX_UI_ANSWERS", (root_ / "answers.txt").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("OMBRIX_UI_RECORD");
        ::unsetenv("OMBRIX_UI_ANSWERS");
    }
    void answers(const std::string& lines) {
        ombrix::test::writeFile(root_ / "answers.txt", lines);
    }
    std::string record() { return ombrix::test::readFile(root_ / "record.txt"); }

    TempRoot root_;
};

TEST(ErrorTexts, EveryCodeMapsToItsText) {
    TempRoot root;
    const std::map<int, std::string> table = {
        {0, ""},
        {1, "File not found"},
        {2, "Path not found"},
        {3, "Too many open files"},
        {4, "Cannot open file"},
        {5, "Access denied"},
        {6, "No Ombrix v4 image file"},
        {7, "Invalid header CRC"},
        {8, "Invalid password"},
        {9, "Opening track file(s) failed"},
        {10, "Image file is corrupt"},
        {13, "Insufficient available resources"},
        {14, "Invalid drive"},
        {15, "Invalid device"},
        {16, "Drive is locked"},
        {17, "Communication failed"},
        {18, "Function called with invalid argument"},
        {19, "The image file is already in use"},
        {20, "Cannot eject ombrix"},
        {21, "Running in administration mode"},
        {504, "No free device found"},
        {514, "Access denied"},
        {515, "Invalid index"},
        {-1, "Invalid index"},
        {523, "Invalid password"},
        {600, "No permission to insert / eject "},
        {12, "Unknown error"},
        {11, "Unknown error"},
        {503, "Unknown error"},
        {521, "Unknown error"},
        {99999, "Unknown error"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(mapped(code), text) << "code " << code;
    for (int code : {501, 502, 505, 510, 513, 516, 520}) {
        EXPECT_EQ(mapped(code), "Internal Error, Code = " + std::to_string(code));
    }
    char small[5];
    EXPECT_EQ(OMXMapErrorCode(1, small, sizeof small), 1);
    EXPECT_STREQ(small, "File");
    EXPECT_EQ(OMXMapErrorCode(1, nullptr, 10), 0);
    EXPECT_EQ(OMXMapErrorCode(1, small, 0), 0);
}

TEST_F(Scripted, ReportsShowTheirBoxes) {
    OMXReportInsertError(0);
    OMXReportInsertError(16);
    OMXReportError(33);
    OMXReportError(4711);
    EXPECT_EQ(OMXInit(), 1);
    EXPECT_EQ(OMXGetInquiryStrings('E', nullptr, nullptr, nullptr), 87);
    EXPECT_EQ(record(),
              "Ombrix TS\twarning\tError inserting / ejecting the ombrix.\\n\\nReason: Drive is "
              "locked\n"
              "Ombrix TS\twarning\tError on reading administration file\n"
              "Ombrix TS\twarning\tInternal error\n"
              "Ombrix TS\tinformation\tOMXInit() - Function not implemented in OMX TS\n");
}

TEST_F(Scripted, ImagePasswordIsAskedUntilRightOrCancelled) {
    std::string open = (root_ / "open.om4").string();
    std::string locked = (root_ / "locked.om4").string();
    ombrix::samples::writeImage(open, ombrix::samples::makeHeader("Open"));
    ombrix::samples::writeImage(locked, ombrix::samples::makeHeader("Locked", "secret"));
    char password[32] = "untouched";
    EXPECT_EQ(OMXVerifyPWD(open.c_str(), password, sizeof password), 1);
    EXPECT_STREQ(password, "untouched");
    EXPECT_EQ(OMXVerifyPWD((root_ / "missing.om4").c_str(), password, sizeof password), 0);

    answers("password:wrong\nok\npassword:secret\n");
    EXPECT_EQ(OMXVerifyPWD(locked.c_str(), password, sizeof password), 1);
    EXPECT_STREQ(password, "secret");
    answers("cancel\n");
    EXPECT_EQ(OMXVerifyPWD(locked.c_str(), password, sizeof password), 0);
    EXPECT_EQ(record(),
              "Ombrix TS\tpassword\tlocked.om4\n"
              "Ombrix TS\twarning\tThe password for 'locked.om4' is invalid!\n"
              "Ombrix TS\tpassword\tlocked.om4\n"
              "Ombrix TS\tpassword\tlocked.om4\n");
}

TEST(ClientPaths, InstallPathComesFromTheStoreThenTheRegistry) {
    TempRoot root;
    char buffer[64];
    EXPECT_EQ(OMXGetInstallPath(buffer, sizeof buffer), 2);
    ombrix::registry::setString("HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings",
                                "OMXHomePath", "/opt/ombrix/");
    EXPECT_EQ(OMXGetInstallPath(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "/opt/ombrix/");
    EXPECT_EQ(OMXGetInstallPath(buffer, 5), 234);
    EnvSetGlobalValue("OmxHomePath", "/srv/ombrix/");
    EXPECT_EQ(OMXGetInstallPath(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "/srv/ombrix/");
    // The store's value does not fit either: reported, not cut.
    EXPECT_EQ(OMXGetInstallPath(buffer, 5), 234);

    EXPECT_EQ(OMXGetAdminFileName(buffer, sizeof buffer), 0);
    EnvSetGlobalValue("OmxAdmPathNet", "/pool");
    EXPECT_EQ(OMXGetAdminFileName(buffer, sizeof buffer), 1);
    EXPECT_STREQ(buffer, "/pool/Oxtadm.dat");
}

TEST(DrivesSet, TheServiceMustConsumeTheSignal) {
    TempRoot root;
    EXPECT_EQ(OMXServiceDrivesSet(0), 0);  // no service, no event
    int error = 0;
    auto event =
        ombrix::platform::NamedEvent::create("Global\\OMBRIX_4_SEC_EVENT", true, false, error);
    ASSERT_NE(event, nullptr);
    std::thread service([&] {
        if (event->wait(3000)) event->reset();
    });
    EXPECT_EQ(OMXServiceDrivesSet(0), 1);
    service.join();
    EXPECT_EQ(OMXServiceDrivesSet(0), 0);  // nobody consumes it: ten polls, then 0
}

TEST(Language, AResourceLibraryOfTheRightVersionReplacesTexts) {
    TempRoot root;
    fs::path fixtures = fs::path(::testing::internal::GetArgvs()[0]).parent_path();
    fs::path res = root / "home/Language/DEU/Res";
    fs::create_directories(res);
    fs::copy_file(fixtures / "liblanguage_fixture_v1.so", res / "oxtcomm.DEU");
    fs::copy_file(fixtures / "liblanguage_fixture_v2.so", res / "other.DEU");
    EnvSetGlobalValue("OmxHomePath", (root / "home/").c_str());
    EnvSetUserValue("OmxLanguage", "DEU");
    ::setenv("OMBRIX_UI_RECORD", (root / "record.txt").c_str(), 1);

    ombrix::strings::LanguageResources right("oxtcomm", 1);
    EXPECT_EQ(right.text(9).value_or(""), "Datei nicht gefunden");
    EXPECT_FALSE(right.text(10).has_value());  // falls back to the built-in text
    EXPECT_EQ(right.helpFile(), (root / "home/Language/DEU/Help/oxtcomm.hlp").string());

    ombrix::strings::LanguageResources wrong("other", 1);
    EXPECT_FALSE(wrong.text(9).has_value());
    EXPECT_EQ(ombrix::test::readFile(root / "record.txt"),
              "Ombrix TS\tinformation\tThe language file has the wrong version - using build in "
              "language.\\nPlease download the current language files.\n");

    EnvSetUserValue("OmxLanguage", "DEUTSCH");  // not three letters: built-in texts
    ombrix::strings::LanguageResources longCode("oxtcomm", 1);
    EXPECT_FALSE(longCode.text(9).has_value());
    ::unsetenv("OMBRIX_UI_RECORD");
}

TEST(Language, TextsAreFormattedWithoutInterpretingTheirDirectives) {
    using ombrix::strings::formatText;
    EXPECT_EQ(formatText("Fehler: %s %d %n", "x"), "Fehler: x %d %n");
    EXPECT_EQ(formatText("Internal Error, Code = %d", "510"), "Internal Error, Code = 510");
    EXPECT_EQ(formatText("100%% of %s", "all"), "100% of all");
    EXPECT_EQ(formatText("trailing %", "x"), "trailing %");
}

}  // namespace
