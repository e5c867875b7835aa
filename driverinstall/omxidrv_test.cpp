#include "driverinstall/omxidrv.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <regex>

#include "driverinstall/installer_test_support.h"
#include "platform/device_setup.h"
#include "platform/unique_fd.h"

namespace drv = ombrix::drvinst;
using ombrix::test::storedResult;
using Lines = std::vector<std::string>;

namespace {

std::filesystem::path programFolder() {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path();
}

// The exported calls log beside the program, which all tests of this program share: each test
// holds a lock on that log for its whole run and starts from an empty file.
class ExportsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        lock_.reset(::open((programFolder() / "drvinst.log.lock").c_str(),
                           O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        ASSERT_TRUE(lock_.valid());
        ASSERT_EQ(::flock(lock_.get(), LOCK_EX), 0);
        std::filesystem::remove(logFile_);
        ombrix::test::installShippedInf();
    }

    void TearDown() override {
        std::filesystem::remove(logFile_);
        std::filesystem::remove(ombrix::test::systemDir() / "drvinst.log");  // the tool's
    }

    Lines log() const { return ombrix::test::logMessages(logFile_); }
    bool adapterPresent() {
        ombrix::devices::DeviceInfo probe;
        probe.instanceId = "ROOT\\SCSIADAPTER\\0000";
        return ombrix::devices::DeviceSetup().nodeStatus(probe) == 0;
    }

    ombrix::platform::UniqueFd lock_;
    std::filesystem::path logFile_ = programFolder() / "drvinst.log";
    ombrix::test::TempRoot root_;
};

TEST_F(ExportsTest, InstallDriverLogsBesideTheProgram) {
    EXPECT_EQ(InstallDriver(nullptr, 0), 0);
    EXPECT_EQ(storedResult(), "0|");
    EXPECT_TRUE(adapterPresent());
    // Every line starts with its "%c" time stamp.
    const std::regex line(
        R"(([A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3]\d \d\d:\d\d:\d\d \d{4} \S.*\n){7})");
    EXPECT_TRUE(std::regex_match(ombrix::test::readFile(logFile_), line));

    EXPECT_EQ(InstallDriver(nullptr, 0), 2);
    EXPECT_EQ(storedResult(), "2|Already installed");
    EXPECT_EQ(InstallDriver(nullptr, 1), 0);
    EXPECT_EQ(storedResult(), "0|");
    EXPECT_FALSE(adapterPresent());
}

TEST_F(ExportsTest, CustomActionsAnswerZeroAndLeaveTheOutcomeInTheRegistry) {
    EXPECT_EQ(MSIInstallDriver(42), 0u);
    EXPECT_EQ(storedResult(), "0|");
    Lines lines = log();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front(), "MSIInstallDriver called");
    EXPECT_EQ(lines[1], "Setting Result to 1");
    EXPECT_EQ(lines.back(), "Install done");
    EXPECT_EQ(lines[lines.size() - 2], "Setting Result to 0");

    EXPECT_EQ(MSIInstallDriver(42), 0u);
    EXPECT_EQ(storedResult(), "2|Already installed");

    std::filesystem::remove(logFile_);
    EXPECT_EQ(MSIUnInstallDriver(42), 0u);
    EXPECT_EQ(storedResult(), "0|");
    EXPECT_FALSE(adapterPresent());
    EXPECT_EQ(log(),
              (Lines{"MSIUnInstallDriver called", "Setting Result to 1", "RemoveDrives(oxtmpdrv)",
                     "Calling SetupDiGetClassDevs()", "Starting SetupDiEnumDeviceInfo",
                     "Calling SetupDiGetDeviceRegistryProperty(), dwCount = 0",
                     "Removing drives done", "Setting Result to 0"}));

    EXPECT_EQ(MSIUnInstallDriver(42), 0u);
    EXPECT_EQ(storedResult(), "2|HardwareID root\\nrvoxt not found");

    std::filesystem::remove_all(drv::windowsFolder());
    EXPECT_EQ(MSIInstallDriver(0), 0u);
    EXPECT_EQ(storedResult(), "2|Inf file '" + drv::defaultInfPath().string() + "' not found");
}

struct ToolRun {
    int status;
    std::string output;
};

ToolRun runTool(const std::string& arguments) {
    std::string command =
        "'" + (ombrix::test::systemDir() / "omxidrv-install").string() + "' " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    ToolRun run{-1, {}};
    if (pipe == nullptr) return run;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, n);
    int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TEST_F(ExportsTest, CommandLineToolInstallsAndRemoves) {
    ToolRun help = runTool("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("usage: omxidrv-install [--remove] [INF]"), std::string::npos);
    EXPECT_EQ(runTool("--bogus").status, 2);

    ToolRun missing = runTool("/nonexistent.inf");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.output.find("Inf file '/nonexistent.inf' not found"), std::string::npos);

    ToolRun install = runTool("");
    EXPECT_EQ(install.status, 0) << install.output;
    EXPECT_TRUE(adapterPresent());
    ToolRun again = runTool("'" + drv::defaultInfPath().string() + "'");
    EXPECT_EQ(again.status, 1);
    EXPECT_NE(again.output.find("Already installed"), std::string::npos);
    ToolRun removal = runTool("--remove");
    EXPECT_EQ(removal.status, 0) << removal.output;
    EXPECT_FALSE(adapterPresent());
}

}  // namespace
