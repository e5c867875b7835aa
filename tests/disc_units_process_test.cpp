// The driver stand-in as its own process in a temporary machine root: a unit that receives an
// image shows the disc's files at Device/CdRom<n>, reports who opens them in its notification
// buffer, and lets the disc go while files are still open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "omxcvt.h"
#include "outside/oxtmpdrv/disc_mount.h"
#include "platform/scsi_miniport.h"
#include "platform/unique_fd.h"
#include "service/miniport_client.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/hostile_discs.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
namespace t = ombrix::test;
namespace scsi = ombrix::scsi;
using namespace std::chrono_literals;

namespace {

class Driver {
  public:
    Driver(const fs::path& log, std::vector<std::string> args) {
        pid_ = ::fork();
        if (pid_ == 0) {
            if (std::freopen(log.c_str(), "w", stderr) == nullptr) _exit(126);
            std::string path = (t::systemDir() / "oxtmpdrv").string();
            std::vector<char*> argv{path.data()};
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(path.c_str(), argv.data());
            _exit(127);
        }
    }
    // Ends the driver as a service stop does, so it unmounts its discs.
    int stop() {
        if (pid_ <= 0) return -1;
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~Driver() { stop(); }
    pid_t pid() const { return pid_; }

  private:
    pid_t pid_ = -1;
};

// The most memory (KB) the process has held, from its status file; -1 when unknown.
long peakMemoryKb(pid_t pid) {
    std::string status = t::readFile("/proc/" + std::to_string(pid) + "/status");
    const size_t at = status.find("VmHWM:");
    return at == std::string::npos ? -1 : std::stol(status.substr(at + 6));
}

bool isMountPoint(const fs::path& folder) {
    struct stat st, up;
    if (::stat(folder.c_str(), &st) != 0) return false;
    if (::stat((folder / "..").c_str(), &up) != 0) return false;
    return st.st_dev != up.st_dev;
}

// The process ids of the notification slots of type 100.
std::vector<uint32_t> notifiedProcesses(const fs::path& buffer) {
    std::string bytes = t::readFile(buffer);
    std::vector<uint32_t> out;
    for (size_t k = 0; k < scsi::kNotifySlots; ++k) {
        const size_t at = scsi::kNotifyHead + k * scsi::kNotifySlotSize;
        if (at + scsi::kNotifySlotSize > bytes.size()) break;
        auto* slot = reinterpret_cast<const unsigned char*>(bytes.data() + at);
        if (scsi::readU32(slot) == scsi::kSlotAccess)
            out.push_back(scsi::readU32(slot + scsi::kSlotPid));
    }
    return out;
}

class DiscUnits : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!t::haveDiscTools()) GTEST_SKIP() << "xorriso and bsdtar are needed";
        iso_ = t::makeSampleIso(root_.path());
        ASSERT_FALSE(iso_.empty());
        container_ = (root_ / "images/Disc.om4").string();
        ASSERT_EQ(t::convertIso(iso_, container_, OMXCVT_DEFLATE, 2352, 64), 0);
    }

    bool portReady(CMiniport& port) {
        return t::waitFor([&] { return port.Open(4); });
    }

    t::TempRoot root_;
    fs::path iso_;
    std::string container_;
};

TEST_F(DiscUnits, InsertedDiscShowsItsFilesAndEjectWithOpenFilesNeitherHangsNorFails) {
    std::string why;
    if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
    Driver driver(root_ / "driver.log", {"--port", "4", "--units", "2"});
    CMiniport port;
    ASSERT_TRUE(portReady(port));
    CDriveInfo unit;
    unit.number = 1;
    unit.targetId = 1;
    const fs::path folder = root_ / "Device/CdRom1";
    ASSERT_EQ(port.Insert(unit, container_, ""), 0u);
    if (!isMountPoint(folder))
        GTEST_SKIP() << "mount refused here: " << t::readFile(root_ / "driver.log");

    EXPECT_EQ(t::folderListing(folder), t::referenceListing(iso_));
    fs::path expected = root_ / "ref";
    ASSERT_TRUE(t::referenceExtract(iso_, expected));
    std::string diff;
    EXPECT_TRUE(t::sameTrees(folder, expected, diff)) << diff;
    // Opening files told the driver's notification buffer who we are.
    const auto pids = notifiedProcesses(root_ / "Device/Scsi4.notify");
    EXPECT_NE(std::find(pids.begin(), pids.end(), uint32_t(::getpid())), pids.end());
    EXPECT_TRUE(fs::is_empty(root_ / "Device/CdRom0"));

    // Eject while a file is open: the request is answered, the folder is free, the open file
    // goes on reading without an error, and the next insert works.
    const std::string source = t::readFile(root_ / "src/one/mixed.bin");
    ombrix::platform::UniqueFd open(::open((folder / "one/mixed.bin").c_str(), O_RDONLY));
    ASSERT_TRUE(open.valid());
    char buffer[4096];
    ASSERT_EQ(::pread(open.get(), buffer, sizeof buffer, 0), ssize_t(sizeof buffer));
    ::posix_fadvise(open.get(), 0, 0, POSIX_FADV_DONTNEED);
    auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(port.Insert(unit, "", ""), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_FALSE(isMountPoint(folder));
    EXPECT_TRUE(fs::is_empty(folder));
    ASSERT_EQ(::pread(open.get(), buffer, sizeof buffer, 200000), ssize_t(sizeof buffer));
    EXPECT_EQ(std::string(buffer, sizeof buffer), source.substr(200000, sizeof buffer));

    ASSERT_EQ(port.Insert(unit, container_, ""), 0u);
    EXPECT_EQ(t::readFile(folder / "readme.txt"), "hello\n");
    // A second image into the same unit replaces the first.
    fs::path other = root_ / "other";
    t::writeFile(other / "only here.txt", "other disc");
    ASSERT_FALSE(t::makeIso(other, root_ / "other.iso", true).empty());
    std::string second = (root_ / "images/Other.om4").string();
    ASSERT_EQ(OMXConvertISO2OM4((root_ / "other.iso").c_str(), OMXCVT_LZ, 1, nullptr), 0);
    fs::rename(root_ / "other.om4", second);
    fs::rename(root_ / "other.000", root_ / "images/Other.000");
    ASSERT_EQ(port.Insert(unit, second, ""), 0u);
    EXPECT_EQ(t::readFile(folder / "only here.txt"), "other disc");
    EXPECT_FALSE(fs::exists(folder / "readme.txt"));

    // Stopping the driver unmounts what it shows, even with a file of an ejected disc still
    // open; that file then answers at once.
    EXPECT_EQ(driver.stop(), 0);
    EXPECT_FALSE(isMountPoint(folder));
    const ssize_t late = ::pread(open.get(), buffer, sizeof buffer, 100000);
    EXPECT_TRUE(late < 0 || late == ssize_t(sizeof buffer)) << late;
}

TEST_F(DiscUnits, WithoutFuseUnitsOnlyRecordTheirImages) {
    Driver driver(root_ / "driver.log", {"--port", "4", "--units", "1", "--no-fuse"});
    CMiniport port;
    ASSERT_TRUE(portReady(port));
    CDriveInfo unit;
    ASSERT_EQ(port.Insert(unit, container_, ""), 0u);
    std::string held;
    ASSERT_TRUE(port.QueryImage(unit, held));
    EXPECT_EQ(held, container_);
    EXPECT_FALSE(isMountPoint(root_ / "Device/CdRom0"));
    EXPECT_TRUE(fs::is_empty(root_ / "Device/CdRom0"));
}

TEST_F(DiscUnits, UnreadableImageIsRecordedAndShowsNothing) {
    std::string why;
    if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
    Driver driver(root_ / "driver.log", {"--port", "4", "--units", "1"});
    CMiniport port;
    ASSERT_TRUE(portReady(port));
    t::writeFile(root_ / "images/Broken.om4", "not a container");
    CDriveInfo unit;
    ASSERT_EQ(port.Insert(unit, (root_ / "images/Broken.om4").string(), ""), 0u);
    EXPECT_FALSE(isMountPoint(root_ / "Device/CdRom0"));
    EXPECT_TRUE(t::waitFor([&] {
        return t::readFile(root_ / "driver.log").find("cannot read") != std::string::npos;
    }));
    // The driver still answers.
    std::string held;
    EXPECT_TRUE(port.QueryImage(unit, held));
}

// Hostile discs are refused with a status that says why, quickly and in little memory, while
// the disc in another unit goes on reading.
TEST_F(DiscUnits, HostileDiscsAreRefusedWhileAnotherUnitServes) {
    std::string why;
    if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
    const std::string deep = (root_ / "images/Deep.om4").string();
    ASSERT_EQ(t::convertIso(t::makeDeepChainIso(root_ / "deep.iso", 65000), deep, OMXCVT_LZ), 0);
    const std::string far = t::makeFarPartImage(root_ / "images/Far.om4").string();
    ASSERT_FALSE(far.empty());

    Driver driver(root_ / "driver.log", {"--port", "4", "--units", "2"});
    CMiniport port;
    ASSERT_TRUE(portReady(port));
    CDriveInfo good, other;
    other.number = 1;
    other.targetId = 1;
    ASSERT_EQ(port.Insert(good, container_, ""), 0u);
    const fs::path goodFolder = root_ / "Device/CdRom0";
    if (!isMountPoint(goodFolder))
        GTEST_SKIP() << "mount refused here: " << t::readFile(root_ / "driver.log");
    ombrix::platform::UniqueFd open(::open((goodFolder / "readme.txt").c_str(), O_RDONLY));
    ASSERT_TRUE(open.valid());

    const std::pair<std::string, uint32_t> cases[] = {{deep, 14u}, {far, 13u}};
    for (const auto& [image, status] : cases) {
        SCOPED_TRACE(image);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(port.Insert(other, image, ""), status);
        const auto took = std::chrono::steady_clock::now() - started;
        RecordProperty("insert_ms_" + fs::path(image).stem().string(),
                       int(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        std::string held = "?";
        ASSERT_TRUE(port.QueryImage(other, held));
        EXPECT_EQ(held, "");
        EXPECT_FALSE(isMountPoint(root_ / "Device/CdRom1"));
        char buffer[16] = {};
        EXPECT_EQ(::pread(open.get(), buffer, sizeof buffer, 0), 6);
        EXPECT_EQ(t::readFile(goodFolder / "readme.txt"), "hello\n");
    }
    const long peakKb = peakMemoryKb(driver.pid());
    EXPECT_LT(peakKb, 256 * 1024);
    RecordProperty("driver_peak_kb", int(peakKb));
    EXPECT_NE(t::readFile(root_ / "driver.log").find("larger than a disc may be"),
              std::string::npos);
    // The unit takes a good disc afterwards.
    ASSERT_EQ(port.Insert(other, container_, ""), 0u);
    EXPECT_EQ(t::readFile(root_ / "Device/CdRom1/readme.txt"), "hello\n");
}

}  // namespace
