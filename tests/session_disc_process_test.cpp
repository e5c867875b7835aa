// A disc inserted into a session's drive is read through that drive: the driver stand-in with
// its disc mounts, the management service and the session helpers, each a process of its own in
// a temporary machine root, driven as a user's insert and eject drive them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "common/names.h"
#include "common/oxtcomm_drives.h"
#include "omxcvt.h"
#include "outside/env/oxtenv.h"
#include "outside/oxtmpdrv/disc_mount.h"
#include "pipes/mountrequest.h"
#include "platform/logical_drives.h"
#include "platform/message_bus.h"
#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/terminal_sessions.h"
#include "platform/unique_fd.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/driver_and_service.h"
#include "support/echo_pipe.h"
#include "support/grant_rights.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
namespace t = ombrix::test;

namespace {

using t::callPipe;
using t::grantEveryone;
using t::record;

// What `account` reads of `path`; "<denied>" when that fails.
std::string readAs(const t::TestAccount& account, const fs::path& path) {
    std::string out;
    int rc = t::runAs(
        account,
        [&] {
            int fd = ::open(path.c_str(), O_RDONLY);
            if (fd < 0) return 3;
            ::close(fd);
            std::string text = t::readFile(path);
            std::fwrite(text.data(), 1, text.size(), stdout);
            return 0;
        },
        &out);
    return rc == 0 ? out : "<denied>";
}

// The sessions' programs run as the sessions' accounts: alice in session 1, bob in session 2.
class SessionDisc : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string why;
        if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
        if (!t::haveDiscTools()) GTEST_SKIP() << "xorriso and bsdtar are needed";
        if (!t::canUseAccounts()) GTEST_SKIP() << "the sessions' accounts need root";
        accounts = {t::testAccount("ombrix-alice"), t::testAccount("ombrix-bob")};
        iso = t::makeSampleIso(root.path(), "disc.iso");
        ASSERT_FALSE(iso.empty());
        ASSERT_EQ(t::convertIso(iso, image, OMXCVT_LZ, 2048, 64), 0);

        grantEveryone(4 | 8);
        ASSERT_NO_FATAL_FAILURE(t::startDriverAndService(root, driver, service, {"--units", "4"}));
        for (uint32_t sid : {1u, 2u}) {
            const t::TestAccount& account = accounts[sid - 1];
            ASSERT_EQ(ombrix::wts::logOn(sid, account.name), 0);
            helpers.push_back(std::make_unique<t::Program>(
                "OxtHelp", std::vector<std::string>{}, root / ("helper" + std::to_string(sid)),
                sid == 1 ? "1" : "2",
                std::vector<std::pair<std::string, std::string>>{
                    {"HOME", t::homeFor(root.path(), account).string()}},
                &account));
            ASSERT_TRUE(t::waitFor([sid] {
                return callPipe(ombrix::names::sessionPipe(sid), record(29)).m_request == 29;
            }));
        }
    }
    void TearDown() override {
        helpers.clear();
        if (service) service->stop(SIGINT);
        if (driver) driver->stop(SIGTERM);  // unmounts its discs
    }
    // A session's drive as its programs reach it.
    fs::path drive(uint32_t session, char letter) {
        return ombrix::objmgr::dosDevicesFolder(session) / (std::string(1, letter) + ":");
    }
    fs::path home(uint32_t session) { return root / ("home-" + accounts[session - 1].name); }
    // An insert or eject by the session's own account, through the client library.
    int insert(uint32_t session, char letter) {
        return t::runAs(accounts[session - 1], [&] {
            setenv("OMBRIX_SESSION", std::to_string(session).c_str(), 1);
            return OMXInsert(letter, image.c_str(), "", 1, 5, 0);
        });
    }
    int eject(uint32_t session, char letter) {
        return t::runAs(accounts[session - 1], [&] {
            setenv("OMBRIX_SESSION", std::to_string(session).c_str(), 1);
            return OMXEject(letter);
        });
    }

    t::TempRoot root;
    t::EchoPipe net{ombrix::names::kNetPipe};
    std::string image = (root / "images/Disc.om4").string();
    fs::path iso;
    std::vector<t::TestAccount> accounts;
    std::unique_ptr<t::Program> driver;
    std::unique_ptr<t::Program> service;
    std::vector<std::unique_ptr<t::Program>> helpers;
};

TEST_F(SessionDisc, InsertedDiscIsReadThroughTheSessionsDrives) {
    const t::TestAccount& alice = accounts[0];
    const t::TestAccount& bob = accounts[1];
    ASSERT_EQ(insert(1, 'E'), 0);
    // Through the session's drive and the user's folder of drive links alike.
    EXPECT_EQ(t::folderListing(drive(1, 'E')), t::referenceListing(iso));
    fs::path expected = root / "ref";
    ASSERT_TRUE(t::referenceExtract(iso, expected));
    std::string diff;
    EXPECT_TRUE(t::sameTrees(drive(1, 'E'), expected, diff)) << diff;
    EXPECT_EQ(readAs(alice, home(1) / "OmbrixDrives/E/readme.txt"), "hello\n");
    const fs::path longName =
        drive(1, 'E') / "one/two/three" / "a file with a rather long name of many words.txt";
    EXPECT_EQ(readAs(alice, longName), std::string(5000, 'x'));
    // Another account's session does not hold the unit: its user reads nothing of it.
    EXPECT_EQ(readAs(bob, longName), "<denied>");
    EXPECT_EQ(readAs(bob, fs::path(root / "Device/CdRom1/readme.txt")), "<denied>");

    // A second session shares the unit and reads the same.
    ASSERT_EQ(insert(2, 'F'), 0);
    EXPECT_EQ(fs::canonical(drive(2, 'F')), fs::canonical(drive(1, 'E')));
    EXPECT_TRUE(readAs(bob, home(2) / "OmbrixDrives/F/one/mixed.bin") ==
                t::readFile(root / "src/one/mixed.bin"));
    // The drive names its disc by the volume label, for the session's own user only.
    std::string label;
    t::runAs(
        bob, [] { return std::printf("%s", ombrix::platform::volumeLabel('F', 2).c_str()); },
        &label);
    EXPECT_EQ(label, "TEST_DISC");
    EXPECT_EQ(ombrix::platform::volumeLabel('E', 1), "TEST_DISC");  // root
    EXPECT_EQ(ombrix::platform::volumeLabel('Q', 1), "");

    // Both eject while a file is still open: nothing hangs, the open file reads on, and the
    // drive empties.
    ombrix::platform::UniqueFd open(::open((drive(1, 'E') / "one/mixed.bin").c_str(), O_RDONLY));
    ASSERT_TRUE(open.valid());
    ::posix_fadvise(open.get(), 0, 0, POSIX_FADV_DONTNEED);
    ASSERT_EQ(eject(1, 'E'), 0);
    // Alice's session no longer holds the unit: she reads nothing of it now.
    EXPECT_EQ(readAs(alice, fs::path(root / "Device/CdRom1/readme.txt")), "<denied>");
    ASSERT_EQ(eject(2, 'F'), 0);
    char buffer[1000];
    ASSERT_EQ(::pread(open.get(), buffer, sizeof buffer, 250000), ssize_t(sizeof buffer));
    EXPECT_EQ(std::string(buffer, sizeof buffer),
              t::readFile(root / "src/one/mixed.bin").substr(250000, sizeof buffer));
    open.reset();
    EXPECT_FALSE(fs::exists(drive(2, 'F') / "readme.txt"));

    // The next insert shows the disc again.
    ASSERT_EQ(insert(2, 'G'), 0);
    EXPECT_EQ(readAs(bob, drive(2, 'G') / "readme.txt"), "hello\n");
}

}  // namespace

namespace {

// The command-line program inserts for its session; the session's user then reads the disc.
TEST_F(SessionDisc, CommandLineInsertThenTheSessionsUserReadsThroughE) {
    if (!fs::exists(t::systemDir() / "oxtcmd")) GTEST_SKIP() << "oxtcmd is not built";
    // The image is a catalogue entry, as the administrator made it.
    ASSERT_TRUE(EnvSetGlobalValue("OMXImage_5001", (image + "|||0|0|0|0|Test disc").c_str()));
    EnvSetGlobalValue("OMXIndexHiNet", "5001");
    EnvSetGlobalValue("OMXImageCount", "1");
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"HOME", home(1).string()},
        {"OMBRIX_UI_RECORD", (root / "boxes.txt").string()},
        {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},
        {"QT_QPA_PLATFORM", ""}};
    // The boxes are recorded in a file the session's account may write.
    t::writeFile(root / "boxes.txt", "");
    ASSERT_EQ(::chown((root / "boxes.txt").c_str(), accounts[0].uid, accounts[0].gid), 0);
    t::Program insert("oxtcmd", {"/I", image, "E:"}, root / "oxtcmd.txt", "1", environment,
                      &accounts[0]);
    insert.wait();
    ASSERT_EQ(readAs(accounts[0], drive(1, 'E') / "readme.txt"), "hello\n")
        << t::readFile(root / "boxes.txt") << t::readFile(root / "oxtcmd.txt");
    EXPECT_TRUE(readAs(accounts[0], drive(1, 'E') / "one/exact.bin") == std::string(4 * 2048, 'e'));
    EXPECT_TRUE(readAs(accounts[0], home(1) / "OmbrixDrives/E/one/mixed.bin") ==
                t::readFile(root / "src/one/mixed.bin"));
    EXPECT_EQ(readAs(accounts[1], drive(1, 'E') / "readme.txt"), "<denied>");

    t::Program eject("oxtcmd", {"/E", "E:"}, root / "oxtcmd2.txt", "1", environment, &accounts[0]);
    eject.wait();
    EXPECT_FALSE(fs::exists(drive(1, 'E') / "readme.txt"));
}

// A process of a session that opens a file of the disc is reported by the driver; the service
// tells that session, whose helper passes it on to the session's programs.
TEST_F(SessionDisc, OpeningAFileTellsTheSession) {
    ASSERT_EQ(insert(1, 'E'), 0);
    ombrix::platform::BusListener listener(1);
    ASSERT_TRUE(listener.ok());
    // A program of session 1 holds a file of the disc open for a moment.
    const std::string file = (drive(1, 'E') / "readme.txt").string();
    pid_t reader = ::fork();
    if (reader == 0) {
        t::becomeInChild(accounts[0]);
        ::setenv("OMBRIX_SESSION", "1", 1);
        ::execl("/bin/sh", "sh", "-c", "exec 3<\"$0\"; sleep 3", file.c_str(),
                static_cast<char*>(nullptr));
        _exit(127);
    }
    bool told = false;
    for (int i = 0; i < 50 && !told; ++i) {
        auto message = listener.receive(100);
        told = message && message->name == "MSG_OXTNOTIFY_DRIVEACCESS";
    }
    ::kill(reader, SIGTERM);
    ::waitpid(reader, nullptr, 0);
    EXPECT_TRUE(told);
}

}  // namespace
