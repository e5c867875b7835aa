#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_disc.h"
#include "common/oxtcomm_drives.h"
#include "oxtenv.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::waitFor;
using ombrix::test::writeFile;

std::string replaced(const char* text, char drive) {
    char buffer[256];
    std::strcpy(buffer, text);
    OMXReplaceDriveVar(buffer, drive);
    return buffer;
}

TEST(RunProgram, DriveVariableIsReplacedByTheLetterInAnyCase) {
    EXPECT_EQ(replaced("%OMXDrive%\\setup.exe", 'E'), "E\\setup.exe");
    EXPECT_EQ(replaced("%omxdrive%:/x %OmXdRiVe%", 'F'), "F:/x F");
    EXPECT_EQ(replaced("%OMXDrive", 'G'), "%OMXDrive");
    EXPECT_EQ(replaced("", 'G'), "");
}

// A script that writes its working directory and each argument on a line of `out`.
std::filesystem::path argumentWriter(const TempRoot& root, const std::string& name,
                                     const std::filesystem::path& out) {
    auto script = root / name;
    writeFile(script, "#!/bin/sh\n{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > '" +
                          out.string() + "'\n");
    ::chmod(script.c_str(), 0755);
    return script;
}

TEST(RunProgram, QuotedProgramGetsEverythingAfterTheQuoteAndRunsInTheDirectory) {
    TempRoot root;
    auto out = root / "out.txt";
    auto script = argumentWriter(root, "my program.sh", out);
    std::string line = "  \"" + script.string() + "\" one \"two three\"";
    EXPECT_GT(OMXExecute(line.c_str(), "/tmp"), 32);
    ASSERT_TRUE(waitFor([&] { return readFile(out).find("[two three]") != std::string::npos; }));
    EXPECT_EQ(readFile(out), "/tmp\n[one]\n[two three]\n");
}

TEST(RunProgram, AnExistingFileWithBlanksIsTheWholeProgramElseTheFirstWordIs) {
    TempRoot root;
    auto out = root / "out.txt";
    auto script = argumentWriter(root, "with blank.sh", out);
    EXPECT_GT(OMXExecute(script.c_str(), nullptr), 32);
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(out); }));
    EXPECT_EQ(readFile(out).find('['), std::string::npos);  // no arguments

    std::filesystem::remove(out);
    auto plain = argumentWriter(root, "plain.sh", out);
    // Split at the first tab only when there is no blank.
    std::string line = plain.string() + "\tfirst";
    EXPECT_GT(OMXExecute(line.c_str(), root.path().c_str()), 32);
    ASSERT_TRUE(waitFor([&] { return readFile(out).find("[first]") != std::string::npos; }));
    EXPECT_EQ(readFile(out), root.path().string() + "\n[first]\n");
    line = plain.string() + "\tfirst second";
    EXPECT_EQ(OMXExecute(line.c_str(), nullptr), 2);  // "<program>\tfirst" names no file
}

TEST(RunProgram, FailuresGiveTheShellResults) {
    TempRoot root;
    EXPECT_EQ(OMXExecute((root / "missing").c_str(), nullptr), 2);
    EXPECT_EQ(OMXExecute((root / "no/such/dir/prog").c_str(), nullptr), 3);
    EXPECT_EQ(OMXExecute("ombrix-no-such-program-anywhere", nullptr), 2);
    auto out = root / "out.txt";
    auto script = argumentWriter(root, "p.sh", out);
    EXPECT_EQ(OMXExecute(script.c_str(), (root / "gone").c_str()), 3);
}

TEST(RunProgram, ImageEditorStartsFromTheInstallationWithTheImage) {
    TempRoot root;
    auto out = root / "out.txt";
    std::filesystem::create_directories(root / "home" / "system");
    auto editor = argumentWriter(root, "home/system/OMXEdit", out);
    EnvSetGlobalValue("OMXHomePath", (root / "home").string().append("/").c_str());
    std::string image = (root / "my disc.om4").string();
    EXPECT_GT(OMXBuildOMX(image.c_str()), 32);
    ASSERT_TRUE(waitFor([&] { return readFile(out).find("[/COMX:") != std::string::npos; }));
    EXPECT_NE(readFile(out).find("[/COMX:" + image + "]"), std::string::npos);

    std::filesystem::remove(editor);
    EXPECT_EQ(OMXBuildOMX(image.c_str()), 2);
}

TEST(RunProgram, AccessCheckOpensAndClosesTheFile) {
    TempRoot root;
    auto file = root / "image.om4";
    writeFile(file, "x");
    EXPECT_EQ(OMXCheckAccessFile(file.c_str(), OMX_ACCESS_READ), 0);
    EXPECT_EQ(OMXCheckAccessFile(file.c_str(), OMX_ACCESS_READ | OMX_ACCESS_WRITE), 0);
    EXPECT_EQ(OMXCheckAccessFile((root / "missing").c_str(), OMX_ACCESS_READ), 2);
    EXPECT_EQ(OMXCheckAccessFile(root.path().c_str(), OMX_ACCESS_READ), 5);
    EXPECT_NE(OMXCheckAccessFile(nullptr, OMX_ACCESS_READ), 0);
}

}  // namespace

namespace {

// A FIFO or a device where an image is expected answers at once instead of blocking the caller.
TEST(SpecialFiles, AreRefusedWithoutWaiting) {
    TempRoot root;
    const std::string fifo = (root / "fifo.om4").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(OMXCheckAccessFile(fifo.c_str(), OMX_ACCESS_READ), 5);
    OmxImageHeader header;
    EXPECT_NE(OMXGetHeader(fifo.c_str(), &header), 0);
    EXPECT_EQ(OMXHasPWD(fifo.c_str()), 0);
    EXPECT_EQ(OMXCheckAccessFile("/dev/null", OMX_ACCESS_READ), 5);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}

}  // namespace

namespace {

// Probing whether the session's helper runs never makes another probe (or a starting helper)
// believe it does.
TEST(HelperProbe, ProbesNeverSeeEachOtherAsTheHelper) {
    TempRoot root;
    ::setenv("OMBRIX_SESSION", "6", 1);
    EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str());  // no helper there
    std::vector<pid_t> children;
    for (int process = 0; process < 3; ++process) {
        children.push_back(::fork());
        if (children.back() == 0) {
            int running = 0;
            for (int n = 0; n < 300; ++n)
                running += OMXCheckOMXPlay();
            _exit(running == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    ::unsetenv("OMBRIX_SESSION");
}

}  // namespace
