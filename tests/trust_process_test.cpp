// Who may do what, tried as ordinary accounts would on a server: the driver stand-in and the
// management service run as root, the sessions' programs and every attempt to get past one's
// own session as unprivileged accounts. alice owns session 1, bob session 2; carol administers
// (a member of the administrators' group); dave may not insert.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/names.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "common/sample_images.h"
#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "outside/help/rights.h"
#include "oxthelp.h"
#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/terminal_sessions.h"
#include "platform/unique_fd.h"
#include "profiles/profile.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/driver_and_service.h"
#include "support/echo_pipe.h"
#include "support/free_port.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
namespace t = ombrix::test;

namespace {

using t::callPipe;
using t::record;
using t::TestAccount;

constexpr const char* kAdminGroup = "ombrix-admins";

// Connects to a socket of the machine root as the calling process: the errno of the refusal,
// or 0 when it was let in.
int connectError(const fs::path& socketFile) {
    ombrix::platform::UniqueFd fd(::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketFile.c_str());
    return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? 0
                                                                                           : errno;
}

class Trust : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!t::canUseAccounts()) GTEST_SKIP() << "the users' accounts need root";
        alice = t::testAccount("ombrix-alice");
        bob = t::testAccount("ombrix-bob");
        carol = t::testAccount("ombrix-carol");
        dave = t::testAccount("ombrix-dave");
        ASSERT_EQ(std::system(("groupadd -f " + std::string(kAdminGroup)).c_str()), 0);
        ASSERT_EQ(std::system(("usermod -a -G " + std::string(kAdminGroup) + " " + carol.name +
                               " >/dev/null 2>&1")
                                  .c_str()),
                  0);
        ASSERT_EQ(ombrix::registry::setString(ombrix::help::kSettingsKey,
                                              ombrix::help::kAdminGroupKey, kAdminGroup),
                  0);
        publishRights();

        for (const char* name : {"a.om4", "b.om4"})
            ombrix::samples::writeImage(root / "pub" / name, ombrix::samples::makeHeader(name));
        ombrix::samples::writeImage(root / "private/secret.om4",
                                    ombrix::samples::makeHeader("Secret"));
        ombrix::samples::writeImage(root / "pub/locked.om4",
                                    ombrix::samples::makeHeader("Locked", "sesame"));
        ::chmod((root / "private").c_str(), 0700);
        ASSERT_EQ(::mkfifo((root / "pub/fifo.om4").c_str(), 0644), 0);

        ASSERT_NO_FATAL_FAILURE(t::startDriverAndService(root, driver, service));
        startSession(1, alice);
        startSession(2, bob);
    }
    void TearDown() override {
        helpers.clear();
        if (service) service->stop(SIGINT);
        if (driver) driver->stop(SIGTERM);
    }

    // Everybody inserts and ejects, except dave.
    void publishRights() {
        CProfileList list;
        CProfile profile;
        profile.name = "users";
        profile.rights = 4;
        ASSERT_TRUE(
            profile.security.BuildFromMembers({{ombrix::profiles::Sid::Everyone(), false},
                                               {ombrix::profiles::Sid::User(dave.uid), true}}));
        list.Profiles().push_back(std::move(profile));
        std::string bytes;
        ASSERT_EQ(list.Save(bytes), 0);
        ASSERT_TRUE(EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size())));
    }

    void startSession(uint32_t sid, const TestAccount& account) {
        ASSERT_EQ(ombrix::wts::logOn(sid, account.name), 0);
        const std::string id = std::to_string(sid);
        helpers.push_back(std::make_unique<t::Program>(
            "OxtHelp", std::vector<std::string>{}, root / ("helper" + id), id.c_str(),
            std::vector<std::pair<std::string, std::string>>{
                {"HOME", t::homeFor(root.path(), account).string()}},
            &account));
        ASSERT_TRUE(t::waitFor([sid] {
            return callPipe(ombrix::names::sessionPipe(sid), record(29)).m_request == 29;
        }));
    }

    std::string image(const char* relative) { return (root / relative).string(); }

    // A pipe call made by `account`: the reply's request field, 9999 when no reply came.
    int32_t callAs(const TestAccount& account, const std::string& pipe, const CMountRequest& sent,
                   CMountRequest* reply = nullptr) {
        std::string out;
        t::runAs(
            account,
            [&] {
                CMountRequest got = callPipe(pipe, sent, 1000);
                std::fwrite(got.bytes(), 1, sizeof got, stdout);
                return 0;
            },
            &out);
        CMountRequest got;
        got.m_request = 9999;
        if (out.size() == sizeof got) got.fromBytes(out.data());
        if (reply != nullptr) *reply = got;
        return got.m_request;
    }
    int32_t serviceAs(const TestAccount& account, const CMountRequest& sent,
                      CMountRequest* reply = nullptr) {
        return callAs(account, ombrix::names::kServicePipe, sent, reply);
    }

    // An insert or eject through the client library by `account` in `session`.
    int insertAs(const TestAccount& account, uint32_t session, char letter, const std::string& path,
                 const std::string& password = "") {
        return t::runAs(account, [&] {
            setenv("OMBRIX_SESSION", std::to_string(session).c_str(), 1);
            return OMXInsert(letter, path.c_str(), password.c_str(), 1, 5, 0);
        });
    }
    int rightOf(const TestAccount& account, int right) {
        return t::runAs(account, [&] { return OMXTSHasRight(right); });
    }

    std::string link(uint32_t session, char letter) {
        std::string target;
        ombrix::objmgr::queryDosDevice(std::string(1, letter) + ":", target, session);
        return target;
    }
    std::pair<std::string, uint32_t> unit(int number) {
        CMountRequest r = t::call(record(4, 0, "", number));
        return {std::string(r.text()), r.m_dwData};
    }

    t::TempRoot root;
    t::EchoPipe net{ombrix::names::kNetPipe};  // confirms shared inserts' passwords
    TestAccount alice, bob, carol, dave;
    std::unique_ptr<t::Program> driver;
    std::unique_ptr<t::Program> service;
    std::vector<std::unique_ptr<t::Program>> helpers;
};

TEST_F(Trust, UsersWorkAsThemselvesWithTheirRights) {
    // The global store is read by everybody and changed by root alone.
    std::string out;
    EXPECT_EQ(t::runAs(
                  alice,
                  [] {
                      char value[64] = "";
                      if (!EnvGetGlobalValue("OXTEmptyDevice", value, sizeof value)) return 1;
                      std::fputs(value, stdout);
                      return EnvSetGlobalValue("OMXAdminGroup", "ombrix-alice") ? 2 : 0;
                  },
                  &out),
              0);
    EXPECT_EQ(out, "\\Device\\CdRom0");
    char group[64] = "";
    EnvGetGlobalValue("OMXAdminGroup", group, sizeof group);
    EXPECT_NE(std::string(group), alice.name);

    // A user's program logs into that user's own log, never into root's.
    ASSERT_TRUE(EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str()));
    ASSERT_TRUE(EnvSetGlobalValue("OXTLogLevel", "0"));
    const fs::path home = t::homeFor(root.path(), alice);
    t::runAs(alice, [&] {
        setenv("HOME", home.c_str(), 1);
        unsetenv("XDG_STATE_HOME");
        OXTLog(0, "a line of %s", "alice");
        return 0;
    });
    EXPECT_NE(t::readFile(home / ".local/state/ombrix/OXTLog.log").find("a line of alice"),
              std::string::npos);
    EXPECT_EQ(t::readFile(root / "OXTLog.log").find("a line of alice"), std::string::npos);

    // A program that set the drives tells the service, which takes the notice.
    EXPECT_TRUE(
        t::waitFor([&] { return t::runAs(alice, [] { return OMXServiceDrivesSet(1); }) == 1; }));

    // Rights from the profiles; administration from the administrators' group only.
    EXPECT_EQ(rightOf(alice, 2), 1);
    EXPECT_EQ(rightOf(alice, 8), 0);
    EXPECT_EQ(rightOf(carol, 8), 1);
    EXPECT_EQ(rightOf(dave, 2), 0);

    // alice inserts an image she can read into her own drive.
    ASSERT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom1");
    EXPECT_EQ(unit(1), std::make_pair(image("pub/a.om4"), 1u));

    // dave has a session too, but no right to insert: the service says so as well, whatever
    // record he sends.
    startSession(4, dave);
    EXPECT_EQ(insertAs(dave, 4, 'E', image("pub/b.om4")), 600);
    CMountRequest reply;
    EXPECT_EQ(serviceAs(dave, record(1, 4, image("pub/b.om4")), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 600u);
    EXPECT_EQ(unit(2).first, "");
}

TEST_F(Trust, ImagesAreOpenedWithTheCallersRights) {
    // A file alice cannot read is no disc of hers, nor a FIFO, nor a path the record cuts.
    EXPECT_EQ(insertAs(alice, 1, 'E', image("private/secret.om4")), 5);
    CMountRequest reply;
    EXPECT_EQ(serviceAs(alice, record(1, 1, image("private/secret.om4")), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 5u);
    EXPECT_EQ(serviceAs(alice, record(1, 1, image("pub/fifo.om4")), &reply), -19);
    EXPECT_EQ(serviceAs(alice, record(1, 1, ""), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 18u);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(unit(n).first, "") << n;

    // A unit that holds the image already is shared only with those who can read it.
    ASSERT_EQ(t::call(record(17, 3, "root")).m_request, 17);
    ASSERT_EQ(t::call(record(1, 3, image("private/secret.om4"))).m_request, 1);
    EXPECT_EQ(serviceAs(alice, record(1, 1, image("private/secret.om4")), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 5u);
    EXPECT_EQ(unit(1).second, 1u);
    // Which image a unit holds is told to its users and administrators only.
    EXPECT_EQ(serviceAs(alice, record(4, 0, "", 1), &reply), 4);
    EXPECT_EQ(std::string(reply.text()), "");
    EXPECT_EQ(serviceAs(carol, record(4, 0, "", 1), &reply), 4);
    EXPECT_EQ(std::string(reply.text()), image("private/secret.om4"));
}

// A protected image goes into a unit only with its password, however the insert is made: the
// driver checks it, not only the client.
TEST_F(Trust, AProtectedImageNeedsItsPassword) {
    const std::string locked = image("pub/locked.om4");
    // A raw record with a wrong password, then the right one.
    CMountRequest reply;
    EXPECT_EQ(serviceAs(bob, record(1, 2, locked, 0, "guess"), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 8u);
    EXPECT_EQ(unit(1).first, "");
    EXPECT_EQ(serviceAs(bob, record(2, 2, "", 1)), 2);
    EXPECT_EQ(serviceAs(bob, record(1, 2, locked, 0, "sesame"), &reply), 1);
    EXPECT_EQ(serviceAs(bob, record(2, 2, "", 1)), 2);
    EXPECT_EQ(unit(1).first, "");

    // Through the client library.
    EXPECT_EQ(insertAs(alice, 1, 'E', locked, "wrong"), 8);
    EXPECT_EQ(insertAs(alice, 1, 'E', locked, ""), 8);
    EXPECT_EQ(unit(1).first, "");
    EXPECT_EQ(insertAs(alice, 1, 'E', locked, "sesame"), 0);
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom1");
    ASSERT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);  // the unit is free again

    // The command-line program, as the user runs it, for the catalogued image.
    ASSERT_TRUE(EnvSetGlobalValue("OMXImage_5001", (locked + "|||0|0|0|0|Locked").c_str()));
    EnvSetGlobalValue("OMXIndexHiNet", "5001");
    EnvSetGlobalValue("OMXImageCount", "1");
    const auto boxes = root / "boxes-carol.txt";
    t::writeFile(boxes, "");
    ASSERT_EQ(::chown(boxes.c_str(), carol.uid, carol.gid), 0);
    startSession(3, carol);
    const std::vector<std::pair<std::string, std::string>> environment = {
        {"HOME", t::homeFor(root.path(), carol).string()},
        {"OMBRIX_UI_RECORD", boxes.string()},
        {"QT_QPA_PLATFORM", "offscreen"}};
    t::Program wrong("oxtcmd", {"/I", locked, "G:", "/P", "wrong"}, root / "oxtcmd1.txt", "3",
                     environment, &carol);
    EXPECT_EQ(wrong.wait(std::chrono::seconds(20)), 1);
    EXPECT_EQ(link(3, 'G'), "\\Device\\CdRom0");
    t::Program right("oxtcmd", {"/I", locked, "G:", "/P", "sesame"}, root / "oxtcmd2.txt", "3",
                     environment, &carol);
    EXPECT_EQ(right.wait(std::chrono::seconds(20)), 0) << t::readFile(boxes);
    EXPECT_EQ(link(3, 'G'), "\\Device\\CdRom2");
}

TEST_F(Trust, NobodyActsForAnotherSession) {
    ASSERT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);
    CMountRequest reply;
    // bob logs on a session that is not his, inserts and ejects for alice's, logs hers off.
    EXPECT_EQ(serviceAs(bob, record(17, 77, "bob"), &reply), -19);
    EXPECT_EQ(serviceAs(bob, record(1, 77, image("pub/b.om4"))), -19);
    EXPECT_EQ(serviceAs(bob, record(1, 1, image("pub/b.om4")), &reply), -19);
    EXPECT_EQ(reply.m_dwData, 5u);
    EXPECT_EQ(serviceAs(bob, record(2, 1, "E:", 1)), -19);
    EXPECT_EQ(serviceAs(bob, record(18, 1)), -19);
    EXPECT_EQ(unit(1), std::make_pair(image("pub/a.om4"), 1u));
    EXPECT_EQ(t::call(record(17, 1, "x")).m_request, -13);  // alice is still logged on

    // The service's own requests are root's: no answer, and the service goes on.
    for (int32_t code : {-1, 6, 31, 40, 46, 49})
        EXPECT_EQ(serviceAs(bob, record(code, 2)), 9999) << code;
    EXPECT_EQ(t::call(record(7)).m_request, 7);

    // An administrator acts for any session.
    EXPECT_EQ(serviceAs(carol, record(2, 1, "E:", 1)), 2);
    EXPECT_EQ(unit(1).second, 0u);
}

TEST_F(Trust, SessionPipesAnswerTheirOwnAndTheAdministrators) {
    const std::string alices = ombrix::names::sessionPipe(1);
    // bob reaches nothing in alice's session.
    for (int32_t code : {1, 2, 16, 22, 23, 29, 48})
        EXPECT_EQ(callAs(bob, alices, record(code, 1, "hi", 'E')), 9999) << code;
    // alice asks her own session, but administers it only with the right to.
    EXPECT_EQ(callAs(alice, alices, record(29, 1)), 29);
    EXPECT_EQ(callAs(alice, alices, record(23, 1, "HI", 0)), 9999);
    // carol administers every session.
    EXPECT_EQ(callAs(carol, alices, record(29, 1)), 29);
    EXPECT_EQ(callAs(carol, alices, record(1, 1, image("pub/b.om4"), 'F')), 1);
    EXPECT_EQ(link(1, 'F'), "\\Device\\CdRom1");
}

TEST_F(Trust, NobodyTakesAnotherSessionsNames) {
    // bob starts a helper for session 3 before its user carol does: it cannot serve it.
    ASSERT_EQ(ombrix::wts::logOn(3, carol.name), 0);
    t::Program squatter("OxtHelp", {}, root / "squatter.txt", "3",
                        {{"HOME", t::homeFor(root.path(), bob).string()}}, &bob);
    EXPECT_EQ(squatter.wait(std::chrono::seconds(5)), 1);
    EXPECT_EQ(t::runAs(bob,
                       [&] {
                           int fd =
                               ::open((root / "sync/Session3/x").c_str(), O_CREAT | O_RDWR, 0600);
                           return fd < 0 ? 0 : 1;
                       }),
              0);
    // carol's own helper serves her session.
    helpers.push_back(
        std::make_unique<t::Program>("OxtHelp", std::vector<std::string>{}, root / "helper3", "3",
                                     std::vector<std::pair<std::string, std::string>>{
                                         {"HOME", t::homeFor(root.path(), carol).string()}},
                                     &carol));
    EXPECT_TRUE(t::waitFor(
        [] { return callPipe(ombrix::names::sessionPipe(3), record(29)).m_request == 29; }));

    // The session's folders are its account's; the files saying whose it is are root's.
    struct stat st {};
    ASSERT_EQ(::stat((root / "Sessions/3/user").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    ASSERT_EQ(::stat((root / "Sessions/3/DosDevices").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, carol.uid);
    ASSERT_EQ(::stat((root / "env/session/3").c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, carol.uid);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    // Log-off takes them away.
    ASSERT_EQ(ombrix::wts::logOff(3), 0);
    EXPECT_FALSE(fs::exists(root / "env/session/3"));
    EXPECT_FALSE(fs::exists(root / "Sessions/3/pipe"));
}

TEST_F(Trust, RootsFilesAndSocketsAreRootsOwn) {
    EXPECT_EQ(ombrix::registry::setString("HKLM\\SOFTWARE\\Test", "x", "1"), 0);
    const std::vector<fs::path> closed = {root / "registry/HKLM.reg.lock",
                                          root / "env/global/lock.mdb",
                                          root / "sync/Global/OMX_TS_Pipe_Mutex"};
    for (const fs::path& file : closed) {
        EXPECT_EQ(t::runAs(bob,
                           [&] {
                               int fd = ::open(file.c_str(), O_RDONLY);
                               return fd < 0 && errno == EACCES ? 0 : 1;
                           }),
                  0)
            << file;
    }
    // Only root puts images into units and takes them out.
    for (const char* device : {"Device/CdRom1.ctl", "Device/Scsi2"}) {
        EXPECT_EQ(t::runAs(bob, [&] { return connectError(root / device) == EACCES ? 0 : 1; }), 0)
            << device;
    }
    // The log never follows a link into another file.
    fs::create_directories(root / "home");
    t::writeFile(root / "victim", "untouched");
    fs::create_symlink(root / "victim", root / "home/OXTLog.log");
    ASSERT_TRUE(EnvSetGlobalValue("OmxHomePath", (root / "home/").c_str()));
    ASSERT_TRUE(EnvSetGlobalValue("OXTLogLevel", "0"));
    EXPECT_EQ(t::call(record(17, 9, "root")).m_request, 17);  // the service logs it
    EXPECT_EQ(t::readFile(root / "victim"), "untouched");
}

TEST_F(Trust, HostileCallersCostBoundedResources) {
    // bob holds hundreds of connections open without a word: alice is served all the same.
    pid_t holder = ::fork();
    if (holder == 0) {
        t::becomeInChild(bob);
        std::vector<int> held;
        for (int i = 0; i < 300; ++i) {
            int fd = ::socket(AF_UNIX, SOCK_SEQPACKET | SOCK_NONBLOCK, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            std::snprintf(address.sun_path, sizeof address.sun_path, "%s",
                          ombrix::platform::pipePath(ombrix::names::kServicePipe).c_str());
            ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
            held.push_back(fd);
        }
        ::pause();
        _exit(0);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);

    // Repeated port changes leave no descriptors behind.
    auto descriptors = [this] {
        size_t n = 0;
        for ([[maybe_unused]] auto& e :
             fs::directory_iterator("/proc/" + std::to_string(service->pid()) + "/fd"))
            ++n;
        return n;
    };
    EnvSetGlobalValue("OmxServerPort", std::to_string(t::freePort("127.0.0.1")).c_str());
    t::call(record(49));
    const size_t before = descriptors();
    for (int i = 0; i < 200; ++i)
        ASSERT_EQ(t::call(record(49)).m_request, 49);
    EXPECT_LE(descriptors(), before + 10);  // a few threads come and go
}

TEST_F(Trust, ARestartShowsNoSessionAnotherSessionsDisc) {
    ASSERT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);
    ASSERT_EQ(link(1, 'E'), "\\Device\\CdRom1");
    service->stop(SIGKILL);
    service = std::make_unique<t::Program>("Oxtserv", std::vector<std::string>{"-d"},
                                           root / "service2.txt");
    ASSERT_TRUE(t::waitFor([] { return t::call(record(7)).m_request == 7; }));
    // The unit was emptied and alice's drive shows the empty device, not what comes next.
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom0");
    ASSERT_EQ(insertAs(bob, 2, 'E', image("pub/b.om4")), 0);
    EXPECT_EQ(link(2, 'E'), "\\Device\\CdRom1");
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom0");
    // alice inserts again: her session is logged on anew, and her disc gets its own unit.
    ASSERT_EQ(insertAs(alice, 1, 'E', image("pub/a.om4")), 0);
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom2");

    // The driver starts anew and holds nothing: at its next check the service gives the lost
    // discs up, and the drives that showed them show an empty drive.
    driver->stop(SIGKILL);
    driver = std::make_unique<t::Program>(
        "oxtmpdrv", std::vector<std::string>{"--units", "4", "--no-fuse"}, root / "driver2.txt");
    EXPECT_TRUE(
        t::waitFor([&] { return link(1, 'E') == "\\Device\\CdRom0"; }, std::chrono::seconds(25)));
    EXPECT_EQ(link(2, 'E'), "\\Device\\CdRom0");
    ASSERT_EQ(insertAs(bob, 2, 'F', image("pub/a.om4")), 0);
    EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom0");
}

}  // namespace
