// The driver stand-in, the management service and the network access service as separate
// processes in a temporary machine root: the shared files published and re-read when they change
// behind the services' backs, the notices that reach the sessions, the network pipe's requests
// and the password check of shared inserts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>

#include "common/names.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "pipes/mountrequest.h"
#include "platform/event_log.h"
#include "platform/locked_file.h"
#include "platform/message_bus.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "platform/service_control.h"
#include "platform/terminal_sessions.h"
#include "profiles/profile.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/echo_pipe.h"
#include "support/global_value.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using ombrix::test::EchoPipe;
using ombrix::test::Program;
using ombrix::test::readFile;
using ombrix::test::record;
using ombrix::test::waitFor;
using ombrix::test::writeFile;

// One change check and a little more.
constexpr auto kCheck = 8s;

std::string global(const std::string& key) {
    return ombrix::test::globalValue(key, "<missing>");
}

CMountRequest call(const std::string& pipe, const CMountRequest& sent) {
    return ombrix::test::callPipe(pipe, sent, 5000);
}
CMountRequest net(const CMountRequest& r) {
    return call(ombrix::names::kNetPipe, r);
}
CMountRequest manager(const CMountRequest& r) {
    return call(ombrix::names::kServicePipe, r);
}

// Replaces a file in one step, so no change check sees it half written.
void replaceFile(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::path temporary = path.string() + ".new";
    writeFile(temporary, text);
    std::filesystem::rename(temporary, path);
}

std::string catalogue(int first, int count) {
    std::string text = "[Images]\r\n";
    for (int n = first; n < first + count; ++n)
        text += "OMXImage_" + std::to_string(n) + "=/img/" + std::to_string(n) + ".om4|||\r\n";
    return text;
}

class NetService : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(share);
        EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str());
        EnvSetGlobalValue("OXTLogLevel", "0");
        EnvSetGlobalValue("OmxServerName", "alpha");
        for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet",
                                "OMXServerPathNet", "OmxAdmPathNet"}) {
            EnvSetGlobalValue(key, (share.string() + "/").c_str());
        }
        replaceFile(share / "OMXimg.dat",
                    "[Images]\r\nOMXImage_12=/img/a.om4|||\r\n"
                    "OMXImage_5012=/img/b.om4|||\r\n");
        ASSERT_TRUE(waitFor([] { return CMiniport::FindPort() == 3; }));
        manager_ = std::make_unique<Program>("Oxtserv", std::vector<std::string>{"-d"},
                                             root / "oxtserv.txt");
        ASSERT_TRUE(waitFor([] { return manager(record(7)).m_request == 7; }));
        ASSERT_EQ(ombrix::wts::logOn(2, "user2"), 0);
        ASSERT_EQ(manager(record(17, 2, "user2")).m_request, 17);
        session_ = std::make_unique<EchoPipe>(ombrix::names::sessionPipe(2));
        service_ = std::make_unique<Program>("OXTNet", std::vector<std::string>{"-d"},
                                             root / "oxtnet.txt");
        ASSERT_TRUE(waitFor([] { return global("NetAccount") != "<missing>"; }));
        ASSERT_TRUE(waitFor([] { return net(record(0)).m_request == 0; }));
    }
    void TearDown() override {
        if (service_) service_->stop(SIGINT);
        if (manager_) manager_->stop(SIGINT);
    }

    // The requests the session received from the management service, from `first` on.
    std::vector<int> notices(size_t first = 0) {
        std::vector<int> out;
        auto all = session_->received();
        for (size_t i = first; i < all.size(); ++i)
            out.push_back(all[i].m_request);
        return out;
    }
    int logged(const std::string& text) {
        std::string log = readFile(root / "OXTLog.log");
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    ombrix::test::TempRoot root;
    std::filesystem::path share = root / "share";
    Program driver{"oxtmpdrv", {"--port", "3", "--units", "2", "--no-fuse"}, root / "driver.txt"};
    std::unique_ptr<Program> manager_;
    std::unique_ptr<EchoPipe> session_;
    std::unique_ptr<Program> service_;
};

TEST_F(NetService, StartsUpPublishesTheSharedFilesAndTellsTheManager) {
    EXPECT_EQ(global("OMXImage_5012"), "/img/b.om4|||");  // 12 and 5012 are one key
    EXPECT_EQ(global("OMXImageCount"), "1");
    EXPECT_EQ(global("OMXIndexHiNet"), "5012");
    EXPECT_EQ(global("OMXServer"), "1");
    EXPECT_NE(global("OXTSecurity").find("oxtprof.dat"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(share / "Oxtenv.dat"));
    EXPECT_EQ(global("NetAccountSystem"), geteuid() == 0 ? "1" : "0");
    EXPECT_EQ(logged("Returning true from AttachToDriver"), 1);
    // Request 34 reached the management service, which reloaded its peers as for request 31.
    EXPECT_TRUE(waitFor([&] { return logged("NotifyServer, theRequest.m_dwData = 0") == 1; }));
}

TEST_F(NetService, CatalogueEditsBehindTheServicesBacksAreNoticedAndAnnounced) {
    // The first read found the entry new.
    ASSERT_TRUE(waitFor([&] { return !notices().empty(); }));
    EXPECT_EQ(notices(), (std::vector<int>{42}));
    size_t seen = session_->received().size();
    replaceFile(share / "OMXimg.dat",
                "[Images]\r\nOMXImage_12=/img/changed.om4|||\r\n"
                "OMXImage_13=/img/c.om4|||\r\n");
    ASSERT_TRUE(waitFor([] { return global("OMXImage_5012") == "/img/changed.om4|||"; }, kCheck));
    EXPECT_EQ(global("OMXImage_5013"), "/img/c.om4|||");
    ASSERT_TRUE(waitFor([&] { return notices(seen).size() >= 2; }, 3s));
    EXPECT_EQ(notices(seen), (std::vector<int>{42, 43}));
    EXPECT_EQ(session_->received()[seen].text(), "5013|");

    // 51 new entries at once: one reload, no lists.
    seen = session_->received().size();
    replaceFile(share / "OMXimg.dat", catalogue(5001, 53));
    ASSERT_TRUE(waitFor([] { return global("OMXImageCount") == "53"; }, kCheck));
    ASSERT_TRUE(waitFor([&] { return !notices(seen).empty(); }, 3s));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(notices(seen), (std::vector<int>{40}));

    // The same entries in another folder: a reload as well.
    seen = session_->received().size();
    std::filesystem::create_directories(root / "moved");
    replaceFile(root / "moved" / "OMXimg.dat", catalogue(5001, 53));
    EnvSetGlobalValue("OmxConfigPathNet", ((root / "moved").string() + "/").c_str());
    ASSERT_TRUE(waitFor([&] { return !notices(seen).empty(); }, kCheck));
    EXPECT_EQ(notices(seen), (std::vector<int>{40}));
    EXPECT_EQ(global("OmxConfigFileNet"), (root / "moved" / "OMXimg.dat").string());
}

TEST_F(NetService, ChangesReachTheProgramsOfASessionAsTheirMessages) {
    ASSERT_EQ(ombrix::wts::logOn(3, "user3"), 0);
    ombrix::platform::BusListener program(3);
    ASSERT_TRUE(program.ok());
    Program helper("OxtHelp", {}, root / "helper3.txt", "3", {{"HOME", (root / "home3").string()}});
    ASSERT_TRUE(
        waitFor([] { return call(ombrix::names::sessionPipe(3), record(29)).m_request == 29; }));
    // Waits for the message; the start-up's own notice may come first.
    auto next = [&](const std::string& name, int64_t lParam) {
        auto deadline = std::chrono::steady_clock::now() + kCheck;
        while (std::chrono::steady_clock::now() < deadline) {
            auto message = program.receive(200);
            if (message && message->name == name && message->lParam == lParam) return true;
        }
        return false;
    };
    replaceFile(share / "OMXimg.dat",
                "[Images]\r\nOMXImage_12=/img/b.om4|||\r\n"
                "OMXImage_14=/img/d.om4|||\r\n");
    EXPECT_TRUE(next("MSG_OXTNOTIFY_IMAGEADDED", 5014));
    replaceFile(share / "OMXTree.dat", "Games\r\n");
    EXPECT_TRUE(next("MSG_OXTTREE_CHANGED", 0));
}

TEST_F(NetService, HelperLibraryRereadsAndListsWhatIsPublished) {
    replaceFile(share / "OMXimg.dat", catalogue(20, 3));
    replaceFile(share / "OMXTree.dat", "Games\r\n  Tools  \r\n");
    OMXTSReReadImgFile();  // answered once published
    EXPECT_EQ(global("OMXImage_5020"), "/img/20.om4|||");
    OMXTSReReadTreeFile();
    EXPECT_EQ(global("OMXTree_2"), "Tools");

    std::vector<std::pair<int, std::string>> images;
    OMXTSEnumImages(&images, [](void* context, int number, const char* entry) {
        static_cast<std::vector<std::pair<int, std::string>>*>(context)->emplace_back(number,
                                                                                      entry);
        return 1;
    });
    ASSERT_EQ(images.size(), 3u);
    EXPECT_EQ(images[0], (std::pair<int, std::string>{5020, "/img/20.om4|||"}));
    int lines = OMXTSEnumTreeLines(7, [](long context, int number, const char* line) {
        return context == 7 && number == 1 && std::strcmp(line, "Games") == 0 ? 0 : 1;
    });
    EXPECT_EQ(lines, 1);  // the callback stopped after the first line
    // The tree request is announced to the sessions.
    EXPECT_TRUE(waitFor([&] {
        auto all = notices();
        return std::find(all.begin(), all.end(), 44) != all.end();
    }));
}

// An ordinary account gets nothing of the image passwords, cannot end the pipe and has the
// shared files re-read only with the administration right; the service goes on for the others.
TEST_F(NetService, OrdinaryAccountsAreAnsweredOnlyWhatTheyMayAsk) {
    if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "needs root";
    const auto bob = ombrix::test::testAccount("ombrix-bob");
    const std::string locked = (root / "locked.om4").string();
    ombrix::samples::writeImage(locked, ombrix::samples::makeHeader("locked", "secret"));
    auto asBob = [&](const CMountRequest& sent) {
        std::string out;
        ombrix::test::runAs(
            bob,
            [&] {
                CMountRequest got = call(ombrix::names::kNetPipe, sent);
                std::fwrite(got.bytes(), 1, sizeof got, stdout);
                return 0;
            },
            &out);
        CMountRequest got;
        if (out.size() == sizeof got) got.fromBytes(out.data());
        return got.m_request;
    };
    for (const CMountRequest& sent : {record(-1), record(32, 0, locked),
                                      record(33, 0, locked, 0, "secret"), record(35), record(52)})
        EXPECT_EQ(asBob(sent), 9999) << sent.m_request;
    EXPECT_EQ(net(record(33, 0, locked, 0, "secret")).m_request, 33);
    EXPECT_EQ(net(record(35)).m_request, 35);
}

// A pool starts with an empty catalogue: its first image can be added, and so can the next one
// after the only entry was removed.
TEST_F(NetService, AFreshPoolReceivesItsFirstSharedImage) {
    replaceFile(share / "OMXimg.dat", "");
    ASSERT_EQ(net(record(35)).m_request, 35);
    EXPECT_EQ(global("OMXImageCount"), "0");
    EXPECT_EQ(global("OmxConfigFileNet"), (share / "OMXimg.dat").string());
    OmxImageInfo info{};
    std::snprintf(info.path, sizeof info.path, "%s", (root / "first.om4").c_str());
    ombrix::samples::writeImage(info.path, ombrix::samples::makeHeader("first"));
    int index = OMXAddImage(&info, OMX_RANGE_SHARED);
    ASSERT_GE(index, 5001);
    ASSERT_TRUE(waitFor([] { return global("OMXImageCount") == "1"; }, kCheck));
    OMXRemoveImage(index);  // its result says nothing
    ASSERT_TRUE(waitFor([] { return global("OMXImageCount") == "0"; }, kCheck));
    EXPECT_EQ(global("OmxConfigFileNet"), (share / "OMXimg.dat").string());
    EXPECT_GE(OMXAddImage(&info, OMX_RANGE_SHARED), 5001);
    EXPECT_TRUE(waitFor([] { return global("OMXImageCount") == "1"; }, kCheck));
}

TEST_F(NetService, PasswordChecksAndSharedInserts) {
    using ombrix::samples::makeHeader;
    using ombrix::samples::writeImage;
    std::string open = (root / "open.om4").string(), locked = (root / "locked.om4").string(),
                old = (root / "old.om4").string();
    writeImage(open, makeHeader("open"));
    writeImage(locked, makeHeader("locked", "secret"));
    OmxImageHeader older = makeHeader("old", "x");
    std::memcpy(reinterpret_cast<char*>(&older) + 140, "ZRM V3.0", 9);
    writeImage(old, older);
    EXPECT_EQ(net(record(33, 0, open, 0, "anything")).m_request, 33);
    EXPECT_EQ(net(record(33, 0, old, 0, "anything")).m_request, 33);
    EXPECT_EQ(net(record(33, 0, locked, 0, "wrong")).m_request, -7);
    EXPECT_EQ(net(record(33, 0, locked, 0, "secret")).m_request, 33);
    CMountRequest digest = net(record(32, 0, locked));
    EXPECT_EQ(digest.text(), "5ebe2294ecd0e0f08eab7690d2a6ee69");

    // A second session sharing the unit must know the password.
    ASSERT_EQ(ombrix::wts::logOn(3, "user3"), 0);
    ASSERT_EQ(manager(record(17, 3, "user3")).m_request, 17);
    CMountRequest first = manager(record(1, 2, locked, 0, "secret"));
    ASSERT_EQ(first.m_request, 1);
    CMountRequest wrong = manager(record(1, 3, locked, 0, "guess"));
    EXPECT_EQ(wrong.m_request, -19);
    EXPECT_EQ(wrong.m_dwData, 8u);
    CMountRequest right = manager(record(1, 3, locked, 0, "secret"));
    EXPECT_EQ(right.m_request, 1);
    EXPECT_EQ(right.text(), first.text());
}

TEST_F(NetService, ServerListRequests) {
    std::string before = readFile(share / "OXTServ.dat");
    EXPECT_EQ(net(record(52)).m_request, 52);  // a local folder: nothing to leave
    EXPECT_EQ(readFile(share / "OXTServ.dat"), before);

    const char* reload = "NotifyServer, theRequest.m_dwData = 46";
    int peers = logged(reload);
    EXPECT_EQ(net(record(38, 0, "", 46)).m_request, 38);
    EXPECT_EQ(global("OMXServer"), "<missing>");
    EXPECT_EQ(global("Server_1"), "<missing>");
    EXPECT_EQ(global("ServerChange"), "1");
    EXPECT_TRUE(waitFor([&] { return logged(reload) > peers; }));

    EXPECT_EQ(net(record(49, 0, "", 4711)).m_request, 49);
    EXPECT_NE(readFile(share / "OXTServ.dat").find("OMXSERVERPORT=4711"), std::string::npos);
    // The management service named this server; the list keeps section names upper case.
    std::string name = global("OmxServerName");
    for (char& c : name)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    ASSERT_TRUE(waitFor([&] { return global("Server_1") == name + "|30|4711"; }, kCheck))
        << global("Server_1");
}

TEST_F(NetService, AnEmptyProfileFileFailsAndClearsTheRights) {
    ASSERT_NE(global("OXTSecurity"), "<missing>");
    replaceFile(share / "oxtprof.dat", "");
    EXPECT_EQ(net(record(37)).m_request, -8);
    EXPECT_EQ(global("OXTSecurity"), "<missing>");
    EXPECT_EQ(EnvGetSecurity(nullptr, 0), 0);
}

TEST_F(NetService, BadAndHeldFilesAreSurvivedLoggedOnceAndRecovered) {
    for (const char* name : {"OMXimg.dat", "OMXTree.dat", "OXTServ.dat", "Oxtadm.dat"})
        replaceFile(share / name, std::string("\x01\x02\xff junk\r\n[unclosed\r\n=x\r\n", 21));
    std::this_thread::sleep_for(kCheck + 5s);  // at least two change checks
    EXPECT_EQ(net(record(0)).m_request, 0);    // still serving
    EXPECT_EQ(logged("Could not get entries for Images"), 1);
    EXPECT_EQ(logged("ReadImagesFile() failed"), 1);
    EXPECT_EQ(global("OMXImageCount"), "<missing>");
    EXPECT_EQ(global("OMXServer"), "0");

    // Fixed catalogue, then held by another program for a while.
    replaceFile(share / "OMXimg.dat", catalogue(5001, 2));
    ASSERT_TRUE(waitFor([] { return global("OMXImageCount") == "2"; }, kCheck));
    int locks = logged("Could not lock");
    {
        ombrix::platform::LockedFile held;
        replaceFile(share / "OMXimg.dat", catalogue(5001, 3));
        ASSERT_EQ(held.open((share / "OMXimg.dat").string(), ombrix::platform::FileAccess::Write),
                  0);
        std::this_thread::sleep_for(kCheck + 5s);
        EXPECT_EQ(global("OMXImageCount"), "2");  // what was published stays
        EXPECT_EQ(logged("Could not lock"), locks + 1);
    }
    ASSERT_TRUE(waitFor([] { return global("OMXImageCount") == "3"; }, kCheck));
}

// Runs a program of the build to its end; stdout and stderr together.
std::string run(const char* program, const std::string& switches, int* exitCode = nullptr) {
    std::string command =
        "'" + (ombrix::test::systemDir() / program).string() + "' " + switches + " 2>&1";
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[512];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.append(buffer, n);
    int status = pclose(pipe);
    if (exitCode != nullptr) *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

TEST(NetServiceFrame, InstallsOnDemandAfterTheManagerAndStartsItFirst) {
    namespace svc = ombrix::svc;
    ombrix::test::TempRoot root;
    EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str());
    ASSERT_EQ(run("Oxtserv", "-i"), "Ombrix TS Management installed.\n");
    int rc = -1;
    EXPECT_EQ(run("OXTNet", "-i", &rc), "Ombrix TS Net Support installed.\n");
    EXPECT_EQ(rc, 0);
    svc::ServiceConfig config;
    ASSERT_EQ(svc::getServiceConfig("OXTNet", config), 0);
    EXPECT_EQ(config.displayName, "Ombrix TS Net Support");
    EXPECT_EQ(config.description, "Supports Ombrix file access over a network connection");
    EXPECT_EQ(config.startType, 3u);
    EXPECT_EQ(config.dependencies, (std::vector<std::string>{"OXTServ"}));
    auto events = ombrix::eventlog::read("Ombrix TS Net Support");
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0].text, "Service has been installed.");

    // Starting it starts the management service first.
    EXPECT_EQ(run("OXTNet", "-s", &rc),
              "Starting Ombrix TS Net Support.\nOmbrix TS Net Support started.\n");
    svc::ServiceStatus status;
    ASSERT_EQ(svc::queryServiceStatus("OXTServ", status), 0);
    EXPECT_EQ(status.currentState, svc::kRunning);
    EXPECT_TRUE(waitFor([] { return net(record(0)).m_request == 0; }));
    EXPECT_EQ(run("OXTNet", "-u"),
              "Ending Ombrix TS Net Support.\nOmbrix TS Net Support ended.\n"
              "Ombrix TS Net Support removed.\n");
    EXPECT_EQ(net(record(0)).m_request, 9999);
    run("Oxtserv", "-u");

    // An account of its own: started with the system; an unknown account is reported and the
    // installation still counts.
    EXPECT_EQ(run("OXTNet", "-i -l 'NOWHERE\\no-such-account-here'", &rc),
              "Ombrix TS Net Support installed.\n");
    EXPECT_EQ(rc, 0);
    ASSERT_EQ(svc::getServiceConfig("OXTNet", config), 0);
    EXPECT_EQ(config.startType, 2u);
    EXPECT_EQ(config.account, "NOWHERE\\no-such-account-here");
    bool reported = false;
    for (const auto& e : ombrix::eventlog::read("Ombrix TS Net Support")) {
        reported |=
            e.text == "Cannot activate SeServiceLogonRight for 'NOWHERE\\no-such-account-here'.";
    }
    EXPECT_TRUE(reported);
    run("OXTNet", "-u");
    EXPECT_EQ(run("OXTNet", "-i -l root"), "Ombrix TS Net Support installed.\n");
    uint32_t right = 0;
    EXPECT_EQ(ombrix::registry::getDword("HKLM\\SECURITY\\Policy\\Accounts\\S-1-5-18",
                                         "SeServiceLogonRight", right),
              0);
    EXPECT_EQ(right, 1u);
    EXPECT_NE(run("OXTNet", "--help").find("Usage: OXTNet"), std::string::npos);
}

}  // namespace

namespace {

// A profile file the service makes names its two default profiles in the service's language.
TEST(NetServiceLanguage, DefaultProfilesAreNamedInTheServicesLanguage) {
    ombrix::test::TempRoot root;
    const auto share = root / "share";
    std::filesystem::create_directories(share);
    std::filesystem::create_directories(root / "Language/deu/Res");
    const std::filesystem::path tests =
        std::filesystem::path(::testing::internal::GetArgvs()[0]).parent_path();
    std::filesystem::copy_file(tests / "liblanguage_fixture_v1.so",
                               root / "Language/deu/Res/OXTNet.deu");
    EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str());
    EnvSetGlobalValue("OmxLanguage", "deu");
    EnvSetGlobalValue("OXTLogLevel", "0");
    for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet",
                            "OMXServerPathNet", "OmxAdmPathNet"}) {
        EnvSetGlobalValue(key, (share.string() + "/").c_str());
    }
    Program service("OXTNet", {"-d"}, root / "oxtnet.txt");
    ASSERT_TRUE(waitFor([] { return global("OXTSecurity") != "<missing>"; }));
    CProfileList profiles;
    ASSERT_EQ(profiles.Load(readFile(share / "oxtprof.dat")), 0);
    ASSERT_EQ(profiles.Profiles().size(), 2u);
    EXPECT_EQ(profiles.Profiles()[0].name, "Interne Verwalter");
    EXPECT_EQ(profiles.Profiles()[1].name, "Interne Benutzer");
    // Without a driver, the many attempts to reach it are told once.
    const std::string log = readFile(root / "OXTLog.log");
    size_t tries = 0;
    for (size_t at = log.find("Trying to open"); at != std::string::npos;
         at = log.find("Trying to open", at + 1))
        ++tries;
    EXPECT_EQ(tries, 1u);
    service.stop(SIGINT);
}

}  // namespace
