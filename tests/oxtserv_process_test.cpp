// The management service as a separate process in a temporary machine root, driven through the
// service control stand-in and its pipe as clients drive it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "common/names.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/event_log.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "platform/service_control.h"
#include "support/global_value.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using ombrix::test::globalValue;
using ombrix::test::waitFor;
namespace svc = ombrix::svc;
using ombrix::platform::callNamedPipe;

const char* kDisplay = "Ombrix TS Management";

std::string program() {
    return (ombrix::test::systemDir() / "Oxtserv").string();
}

struct Result {
    int exitCode = -1;
    std::string out;
};

// Runs the program to its end with the given switches; stdout and stderr together.
Result runService(const std::string& switches) {
    Result result;
    std::string command = "'" + program() + "' " + switches + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.out.append(buffer, n);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

CMountRequest record(int32_t code, uint32_t session = 0xFFFFFFFFu, const char* text = "") {
    CMountRequest r;
    r.m_request = code;
    r.m_sessionId = session;
    r.setText(text);
    return r;
}

// One call of the service pipe as the other programs make it; the raw reply bytes come back.
bool call(const CMountRequest& sent, CMountRequest& reply) {
    size_t read = 0;
    int rc = callNamedPipe(".", ombrix::names::kServicePipe, sent.bytes(), sizeof sent,
                           reply.bytes(), sizeof reply, read, 1500);
    return rc == 0 && read == sizeof reply;
}

bool serviceAnswers() {
    CMountRequest reply;
    return call(record(7), reply) && reply.m_request == 7;
}

// `Oxtserv -d` (or another switch) in the background, its output in a file; stopped by a signal.
class ConsoleService {
  public:
    explicit ConsoleService(const std::filesystem::path& output, const char* mode = "-d")
        : output_(output) {
        pid_ = fork();
        if (pid_ == 0) {
            FILE* out = std::freopen(output.c_str(), "w", stdout);
            (void)out;
            std::string path = program();
            execl(path.c_str(), path.c_str(), mode, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~ConsoleService() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    // Sends Ctrl-C (or `signal`); the exit code, or -1 when it did not end in time.
    int interrupt(int signal = SIGINT) {
        kill(pid_, signal);
        int status = 0;
        bool ended = waitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, 20s);
        if (!ended) return -1;
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string output() const { return ombrix::test::readFile(output_); }

  private:
    std::filesystem::path output_;
    pid_t pid_ = -1;
};

TEST(OxtservProcess, InstallStartStopAndRemoveThroughTheController) {
    ombrix::test::TempRoot root;
    Result install = runService("-i");
    EXPECT_EQ(install.exitCode, 0);
    EXPECT_EQ(install.out, "Ombrix TS Management installed.\n");
    EXPECT_TRUE(ombrix::eventlog::isRegistered(kDisplay));
    svc::ServiceConfig config;
    ASSERT_EQ(svc::getServiceConfig("OXTServ", config), 0);
    EXPECT_EQ(config.displayName, kDisplay);
    EXPECT_EQ(config.description, "Supports Ombrix drive management");
    EXPECT_EQ(runService("-i").out,
              "CreateService failed - The specified service already exists.\n");

    Result start = runService("-s");
    EXPECT_EQ(start.exitCode, 0);
    EXPECT_EQ(start.out, "Starting Ombrix TS Management.\nOmbrix TS Management started.\n");
    svc::ServiceStatus status;
    ASSERT_EQ(svc::queryServiceStatus("OXTServ", status), 0);
    EXPECT_EQ(status.currentState, svc::kRunning);
    EXPECT_EQ(status.controlsAccepted, 5u);  // stop and shutdown
    EXPECT_EQ(status.checkPoint, 0u);
    ASSERT_EQ(svc::controlService("OXTServ", svc::kControlInterrogate, status), 0);
    EXPECT_EQ(status.currentState, svc::kRunning);
    EXPECT_EQ(status.waitHint, 3000u);
    EXPECT_TRUE(serviceAnswers());
    // Without the miniport the service has no units and says so.
    EXPECT_EQ(globalValue("OMXUnits"), "0");
    EXPECT_EQ(globalValue("OMXAdapter"), "-1");
    CMountRequest reply;
    ASSERT_TRUE(call(record(17, 2, "alice"), reply));
    ASSERT_TRUE(call(record(1, 2, "/img/a.om4"), reply));
    EXPECT_EQ(reply.m_request, -4);
    ASSERT_TRUE(call(record(2, 2), reply));
    EXPECT_EQ(reply.m_request, -9);

    Result stop = runService("-e");
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_EQ(stop.out, "Ending Ombrix TS Management.\nOmbrix TS Management ended.\n");
    ASSERT_EQ(svc::queryServiceStatus("OXTServ", status), 0);
    EXPECT_EQ(status.currentState, svc::kStopped);
    EXPECT_EQ(status.win32ExitCode, 0u);
    EXPECT_FALSE(std::filesystem::exists(ombrix::platform::pipePath(ombrix::names::kServicePipe)));
    EXPECT_FALSE(call(record(7), reply));

    // Removing a running service stops it first; stopped within a second, so no dots.
    ASSERT_EQ(runService("-s").exitCode, 0);
    Result remove = runService("-u");
    EXPECT_EQ(remove.exitCode, 0);
    EXPECT_EQ(remove.out,
              "Ending Ombrix TS Management.\nOmbrix TS Management ended.\n"
              "Ombrix TS Management removed.\n");
    EXPECT_EQ(svc::serviceExists("OXTServ"), 1060);
    EXPECT_FALSE(ombrix::eventlog::isRegistered(kDisplay));
    EXPECT_EQ(runService("-s").out,
              "OpenService failed - The specified service does not exist as an installed "
              "service.\n");

    auto events = ombrix::eventlog::read(kDisplay);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].text, "Service has been installed.");
    EXPECT_EQ(events[0].id, 0x40000000u);
    bool driverReported = false, noSlotReported = false;
    for (const auto& e : events) {
        driverReported |= e.text == "Cannot connect to driver" && e.id == 0xC0000002u;
        noSlotReported |= e.text == "No available drive found" && e.id == 0x80000001u;
    }
    EXPECT_TRUE(driverReported);
    EXPECT_TRUE(noSlotReported);
}

TEST(OxtservProcess, ShutdownControlEndsTheServiceAndUnacceptedControlsAreRefused) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(runService("-i").exitCode, 0);
    ASSERT_EQ(runService("-s").exitCode, 0);
    svc::ServiceStatus status;
    EXPECT_EQ(svc::controlService("OXTServ", svc::kControlPause, status), 1052);
    ASSERT_EQ(svc::controlService("OXTServ", svc::kControlShutdown, status), 0);
    EXPECT_TRUE(waitFor([&] {
        return svc::queryServiceStatus("OXTServ", status) == 0 &&
               status.currentState == svc::kStopped;
    }));
    EXPECT_EQ(status.win32ExitCode, 0u);
    EXPECT_EQ(svc::controlService("OXTServ", svc::kControlStop, status), 1062);
}

TEST(OxtservProcess, StartedOutsideTheControllerItOnlyReportsTheFailure) {
    ombrix::test::TempRoot root;
    Result plain = runService("");
    EXPECT_NE(plain.exitCode, 0);
    auto events = ombrix::eventlog::read(kDisplay);
    ASSERT_EQ(events.size(), 1u);
    // The source is not registered, so the log has no message text for it.
    EXPECT_NE(
        events[0].text.find("The service process could not connect to the service controller."),
        std::string::npos);
    EXPECT_EQ(events[0].id, 0xC0000002u);
    EXPECT_FALSE(std::filesystem::exists(ombrix::platform::pipePath(ombrix::names::kServicePipe)));
}

TEST(OxtservProcess, ConsoleRunEndsOnCtrlC) {
    ombrix::test::TempRoot root;
    ConsoleService service(root / "console.txt");
    ASSERT_TRUE(waitFor(serviceAnswers));
    EXPECT_EQ(service.interrupt(), 0);
    EXPECT_EQ(service.output(),
              "Debugging Ombrix TS Management.\nStopping Ombrix TS Management.\n");
    EXPECT_FALSE(std::filesystem::exists(ombrix::platform::pipePath(ombrix::names::kServicePipe)));
}

TEST(OxtservProcess, FacelessRunEndsWithTheSessionAndPrintsNothing) {
    ombrix::test::TempRoot root;
    ConsoleService service(root / "faceless.txt", "-f");
    ASSERT_TRUE(waitFor(serviceAnswers));
    EXPECT_EQ(service.interrupt(SIGTERM), 0);
    EXPECT_EQ(service.output(), "");
    EXPECT_FALSE(std::filesystem::exists(ombrix::platform::pipePath(ombrix::names::kServicePipe)));
}

TEST(OxtservProcess, ControlToolListsStartsQueriesAndStops) {
    ombrix::test::TempRoot root;
    std::string tool = "'" + (ombrix::test::systemDir() / "oxtsvc").string() + "' ";
    auto run = [&](const std::string& args) {
        Result result;
        FILE* pipe = popen((tool + args + " 2>&1").c_str(), "r");
        char buffer[512];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            result.out.append(buffer, n);
        int status = pclose(pipe);
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    };
    EXPECT_NE(run("start OXTServ").exitCode, 0);
    ASSERT_EQ(runService("-i").exitCode, 0);
    EXPECT_EQ(run("list").out, "OXTServ\tSTOPPED\tOmbrix TS Management\n");
    Result start = run("start oxtserv");
    EXPECT_EQ(start.exitCode, 0);
    EXPECT_EQ(start.out, "oxtserv: RUNNING\n");
    Result query = run("query OXTServ");
    EXPECT_NE(query.out.find("STATE: 4 RUNNING"), std::string::npos) << query.out;
    EXPECT_NE(query.out.find("CONTROLS_ACCEPTED: 5"), std::string::npos);
    EXPECT_NE(run("start OXTServ").exitCode, 0);  // already running
    Result stop = run("stop OXTServ");
    EXPECT_EQ(stop.exitCode, 0);
    EXPECT_EQ(stop.out, "OXTServ: STOPPED\n");
    EXPECT_NE(run("stop OXTServ").exitCode, 0);
    EXPECT_EQ(run("--help").exitCode, 0);
    EXPECT_NE(run("bogus").exitCode, 0);
}

TEST(OxtservProcess, SettingsReachTheGlobalStoreAndTheLanguageLibraryItsTexts) {
    ombrix::test::TempRoot root;
    namespace reg = ombrix::registry;
    const std::string key = "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";
    const std::string home = (root / "home").string() + "/";
    reg::setString(key, "OmxHomePath", home);
    reg::setString(key, "OmxLanguage", "deu");
    reg::setString(key, "OmxTreePathNet", "/srv/shared/");
    reg::setDword(key, "OmxServerPort", 65535);
    std::filesystem::create_directories(home + "Language/deu/Res");
    std::filesystem::copy_file(OXTSERV_LANGUAGE_FIXTURE, home + "Language/deu/Res/Oxtserv.deu");

    ConsoleService service(root / "console.txt");
    ASSERT_TRUE(waitFor(serviceAnswers));
    EXPECT_EQ(service.interrupt(), 0);
    EXPECT_EQ(globalValue("OmxLanguage"), "deu");
    EXPECT_EQ(globalValue("OmxServerPort"), "65535");
    EXPECT_EQ(globalValue("OmxTreePathNet"), "/srv/shared/");  // set: kept
    for (const char* path :
         {"OMXServerPathNet", "OmxConfigPathNet", "OmxAdmPathNet", "OMXSecurityPathNet"}) {
        EXPECT_EQ(globalValue(path), home + "system/config/") << path;
    }
    bool translated = false;
    for (const auto& e : ombrix::eventlog::read(kDisplay))
        translated |= e.text.find("Keine Verbindung zum Treiber") != std::string::npos;
    EXPECT_TRUE(translated);
}

class ServicePipe : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(waitFor(serviceAnswers)); }
    void TearDown() override { service.interrupt(); }

    ombrix::test::TempRoot root;
    ConsoleService service{root / "console.txt"};
};

TEST_F(ServicePipe, WrongSizedMessagesGetNoReply) {
    for (size_t size : {303u, 305u, 1u}) {
        std::vector<char> message(size, 0);
        int32_t code = 7;
        std::memcpy(message.data() + 8, &code, sizeof code);
        CMountRequest reply;
        size_t read = 0;
        EXPECT_EQ(callNamedPipe(".", ombrix::names::kServicePipe, message.data(), size,
                                reply.bytes(), sizeof reply, read, 1500),
                  109)
            << size;
    }
    EXPECT_TRUE(serviceAnswers());
}

TEST_F(ServicePipe, UnknownCodesComeBackZeroWithEverythingElseUnchanged) {
    CMountRequest sent = record(5, 12, "some text");
    sent.m_header = 0xDEADBEEF;
    sent.m_spare = 0x01020304;
    sent.m_logonIdLow = 77;
    sent.m_dwData = 42;
    sent.setPassword("pw");
    CMountRequest reply;
    ASSERT_TRUE(call(sent, reply));
    sent.m_request = 0;
    EXPECT_EQ(std::memcmp(sent.bytes(), reply.bytes(), sizeof sent), 0);
}

TEST_F(ServicePipe, LogOnTwiceListAndLogOff) {
    CMountRequest reply;
    for (uint32_t id : {3u, 5u, 7u}) {
        ASSERT_TRUE(call(record(17, id, "user"), reply));
        EXPECT_EQ(reply.m_request, 17);
    }
    ASSERT_TRUE(call(record(17, 5, "again"), reply));
    EXPECT_EQ(reply.m_request, -13);
    EXPECT_EQ(globalValue("OMXLogons"), "3|5|7|");
    EXPECT_EQ(globalValue("Sid_5"), "user");

    ASSERT_TRUE(call(record(19, 1), reply));
    ASSERT_EQ(reply.m_dwData, 2u);
    EXPECT_EQ(reply.listEntry(0), 5u);
    EXPECT_EQ(reply.listEntry(1), 7u);
    ASSERT_TRUE(call(record(19, 3), reply));
    EXPECT_EQ(reply.m_dwData, 0u);

    ASSERT_TRUE(call(record(18, 5), reply));
    EXPECT_EQ(reply.m_request, 18);
    EXPECT_EQ(globalValue("OMXLogons"), "3|7|");
    EXPECT_EQ(globalValue("Sid_5"), "");
}

TEST_F(ServicePipe, NotificationsReachTheSessionsLater) {
    CMountRequest reply;
    ASSERT_TRUE(call(record(17, 4, "user"), reply));
    int error = 0;
    auto session =
        ombrix::platform::NamedPipeServer::create(ombrix::names::sessionPipe(4), 5, error);
    ASSERT_NE(session, nullptr);

    CMountRequest note = record(40, 4, "D");
    note.m_dwData = 123;
    auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(call(note, reply));
    EXPECT_EQ(reply.m_request, 40);
    auto answered = std::chrono::steady_clock::now();

    auto connection = session->accept(3000, error);
    ASSERT_NE(connection, nullptr);
    auto received = std::chrono::steady_clock::now();
    CMountRequest forwarded;
    size_t size = 0;
    ASSERT_EQ(connection->read(forwarded.bytes(), sizeof forwarded, size, 1000), 0);
    EXPECT_EQ(size, sizeof forwarded);
    EXPECT_EQ(forwarded.m_request, 40);
    EXPECT_EQ(forwarded.m_dwData, 123u);
    EXPECT_EQ(forwarded.text(), "D");
    connection->write(forwarded.bytes(), sizeof forwarded);
    EXPECT_GE(received - sent, 100ms);
    EXPECT_LT(answered - sent, received - sent);
}

TEST_F(ServicePipe, PeerNoticeAlsoReachesTheNetworkAccessService) {
    int error = 0;
    auto net = ombrix::platform::NamedPipeServer::create(ombrix::names::kNetPipe, 5, error);
    ASSERT_NE(net, nullptr);
    std::thread netService([&] {
        auto connection = net->accept(3000, error);
        if (!connection) return;
        CMountRequest received;
        size_t size = 0;
        if (connection->read(received.bytes(), sizeof received, size, 1000) != 0) return;
        EXPECT_EQ(size, sizeof received);
        EXPECT_EQ(received.m_request, 38);
        EXPECT_EQ(received.m_dwData, 46u);
        connection->write(received.bytes(), sizeof received);
    });
    CMountRequest reply;
    ASSERT_TRUE(call(record(46, 2, "x"), reply));
    EXPECT_EQ(reply.m_request, 46);
    netService.join();
    for (int32_t code : {31, 35, 39, 49}) {
        ASSERT_TRUE(call(record(code), reply));
        EXPECT_EQ(reply.m_request, code);
    }
}

TEST_F(ServicePipe, EndRequestIsAnsweredThenThePipeIsDeaf) {
    CMountRequest reply;
    ASSERT_TRUE(call(record(-1), reply));
    EXPECT_EQ(reply.m_request, -1);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(call(record(7), reply));
}

// Eight client processes log sessions on and off and list them, each on its own ids, through
// the guarded call every program uses.
TEST_F(ServicePipe, EightClientsUnderLoadLoseNothing) {
    constexpr int kClients = 8;
    constexpr int kRequests = 2001;  // log on, list, log off: 667 times
    std::vector<pid_t> children;
    for (int c = 0; c < kClients; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            ombrix::platform::NamedMutex mutex(ombrix::names::kServicePipeMutex);
            int wrong = 0;
            const uint32_t base = 1000u * static_cast<uint32_t>(c + 1);
            for (int i = 0; i < kRequests; ++i) {
                uint32_t id = base + static_cast<uint32_t>(i / 3 % 50);
                int32_t code = i % 3 == 0 ? 17 : i % 3 == 1 ? 19 : 18;
                CMountRequest r = record(code, code == 19 ? 0 : id, "load");
                if (!CallPipeGuarded(&mutex, ombrix::names::kServicePipe, r, 1500, 3)) {
                    ++wrong;
                    continue;
                }
                if (r.m_request != code) ++wrong;
                if (code == 19 && r.m_dwData == 0) ++wrong;  // its own id is logged on
            }
            // Each client leaves one session logged on.
            CMountRequest last = record(17, base + 999, "stay");
            if (!CallPipeGuarded(&mutex, ombrix::names::kServicePipe, last, 1500, 3) ||
                last.m_request != 17) {
                ++wrong;
            }
            _exit(wrong == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string logons = globalValue("OMXLogons");
    for (int c = 0; c < kClients; ++c) {
        std::string id = std::to_string(1000 * (c + 1) + 999) + "|";
        EXPECT_NE(logons.find(id), std::string::npos) << logons;
    }
    EXPECT_EQ(std::count(logons.begin(), logons.end(), '|'), kClients) << logons;
}

}  // namespace
