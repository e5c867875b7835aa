// A pool of three servers on this host: three machine roots with the loopback addresses
// 127.0.0.1 to 127.0.0.3, each running the driver stand-in, the management service and the
// network access service, all sharing one pool folder. A change of a shared file made on one
// server reaches the others as peer records, is published there and reaches their sessions.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/names.h"
#include "common/oxtcomm.h"
#include "common/sample_images.h"
#include "outside/help/oxthelp.h"
#include "pipes/mountrequest.h"
#include "pipes/pipe_call.h"
#include "platform/message_bus.h"
#include "platform/terminal_sessions.h"
#include "support/free_port.h"
#include "support/pool_server.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ombrix::platform::BusListener;
using ombrix::test::inRoot;
using ombrix::test::PoolServer;
using ombrix::test::waitFor;
using ombrix::test::writeFile;

constexpr uint32_t kSession = 2;
const char* const kSharedKeys[] = {"OmxConfigPathNet", "OMXServerPathNet", "OmxTreePathNet",
                                   "OmxAdmPathNet", "OMXSecurityPathNet"};

std::string catalogue(int count) {
    std::string text = "[Images]\r\n";
    for (int n = 1; n <= count; ++n)
        text += "OMXImage_" + std::to_string(n) + "=/img/" + std::to_string(n) + ".om4|||\r\n";
    return text;
}

// Replaces a shared file in one step and gives it the write time of the file it replaces, so
// that the change checks of the other servers' network access services do not see the change:
// only the peer records can bring it to them.
void replaceUnnoticed(const fs::path& path, const std::string& text) {
    auto written = fs::last_write_time(path);
    fs::path temporary = path.string() + ".new";
    writeFile(temporary, text);
    fs::last_write_time(temporary, written);
    fs::rename(temporary, path);
}

class ThreeServers : public ::testing::Test {
  protected:
    void SetUp() override {
        int mailslot = ombrix::test::freePort("127.0.0.1", SOCK_DGRAM);
        const char* hosts = "SRVA,SRVB,SRVC";
        a = std::make_unique<PoolServer>("SRVA", "127.0.0.1", mailslot, hosts);
        b = std::make_unique<PoolServer>("SRVB", "127.0.0.2", mailslot, hosts);
        c = std::make_unique<PoolServer>("SRVC", "127.0.0.3", mailslot, hosts);

        // The pool definition names the three servers with their ports; each shares all five
        // files, so each is told of every change (flags 62).
        std::string folder = pool.path().string() + "/";
        std::string list = "[_OXT_SERVER_POOL_NAME_SECTION_]\r\nPool_Name=LOOPBACK\r\n";
        for (PoolServer* s : servers()) {
            list += "[" + s->name + "]\r\n";
            for (const char* key : kSharedKeys) {
                s->SetSetting(key, folder);
                list += std::string(key) + "=" + folder + "\r\n";
            }
            list += "OmxServerPort=" + std::to_string(s->port) + "\r\n";
        }
        writeFile(pool / "OXTServ.dat", list);
        writeFile(pool / "OMXimg.dat", catalogue(1));
        writeFile(pool / "OMXTree.dat", "Games\r\n");

        for (PoolServer* s : servers()) {
            ASSERT_TRUE(s->StartDriver()) << s->name;
            s->Start();
            ASSERT_TRUE(s->StartNetService()) << s->name;
        }
        // Each has loaded its peers from the published server list and found itself there.
        for (PoolServer* s : servers()) {
            ASSERT_TRUE(waitFor([&] { return s->Logged("Found myself") == 1; })) << s->name;
        }
    }
    void TearDown() override {
        listener.reset();
        c.reset();
        b.reset();
        a.reset();
    }
    std::vector<PoolServer*> servers() { return {a.get(), b.get(), c.get()}; }
    ombrix::test::TestAccount bob;

    // Logs session 2 on at B with its helper program running and a program of the session
    // listening to its messages.
    void SessionAtB() {
        if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "the session's account needs root";
        bob = ombrix::test::testAccount("ombrix-bob");
        ASSERT_EQ(inRoot(b->root, [&] { return ombrix::wts::logOn(kSession, bob.name); }), 0);
        ASSERT_EQ(b->Call(17, 0, bob.name.c_str(), kSession).m_request, 17);
        listener = inRoot(b->root, [] { return std::make_unique<BusListener>(kSession); });
        ASSERT_TRUE(listener->ok());
        b->Spawn("OxtHelp", {}, "oxthelp2", SIGTERM,
                 {{"OMBRIX_SESSION", std::to_string(kSession)},
                  {"HOME", ombrix::test::homeFor(b->root, bob).string()}},
                 &bob);
        ASSERT_TRUE(waitFor([&] {
            CMountRequest r;
            r.m_request = 29;
            return inRoot(b->root,
                          [&] { return CallPipe(ombrix::names::sessionPipe(2), r, 250, 1); });
        }));
    }
    // Waits for the message; notices of the start-up may come first.
    bool Heard(const std::string& name, int64_t lParam) {
        auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            auto message = listener->receive(200);
            if (message && message->name == name && message->lParam == lParam) return true;
        }
        return false;
    }

    ombrix::test::TempRoot pool;
    std::unique_ptr<PoolServer> a, b, c;
    std::unique_ptr<BusListener> listener;
};

TEST_F(ThreeServers, ServersFindEachOtherAndCarryChangesOfTheSharedFiles) {
    for (PoolServer* s : servers()) {
        EXPECT_TRUE(waitFor([&] { return s->Global("KSCount") == "3"; })) << s->name;
        EXPECT_EQ(s->Global("Pool_Name"), "LOOPBACK");
        EXPECT_EQ(s->Global("OMXImage_5001"), "/img/1.om4|||") << s->name;
        // Its own entry: flags 0, so it never tells itself.
        EXPECT_EQ(
            s->Logged("CServer Run() Found myself : " + s->ip + " (" + s->name + "), Flags = 0"), 1)
            << s->name;
    }
    EXPECT_EQ(a->Logged("CServer Run() : 127.0.0.2 (SRVB), Flags = 62"), 1);
    EXPECT_EQ(a->Logged("CServer Run() : 127.0.0.3 (SRVC), Flags = 62"), 1);
    ASSERT_NO_FATAL_FAILURE(SessionAtB());
    if (IsSkipped()) return;

    // An image added to the shared catalogue on A: A's network access service publishes it at
    // once, B and C hear of it through type-2 records from A's management service.
    replaceUnnoticed(pool / "OMXimg.dat", catalogue(2));
    inRoot(a->root, [] {
        OMXTSReReadImgFile();
        return 0;
    });
    EXPECT_EQ(a->Global("OMXImage_5002"), "/img/2.om4|||");
    for (PoolServer* s : {b.get(), c.get()}) {
        EXPECT_TRUE(waitFor([&] { return s->Global("OMXImage_5002") == "/img/2.om4|||"; }))
            << s->name;
        EXPECT_EQ(s->Logged("Got IPData, type = 2"), 1) << s->name;
        EXPECT_EQ(s->Global("OMXImageCount"), "2");
    }
    EXPECT_TRUE(Heard(ombrix::names::kMsgImageAdded, 5002));

    // An image added through the client library on A travels the same way.
    std::string image = (pool / "images" / "office.om4").string();
    ombrix::samples::writeImage(image, ombrix::samples::makeHeader("Office"));
    OmxImageInfo info;
    std::memset(&info, 0, sizeof info);
    std::strncpy(info.path, image.c_str(), sizeof info.path - 1);
    EXPECT_EQ(inRoot(a->root, [&] { return OMXAddImage(&info, OMX_RANGE_SHARED); }), 5003);
    for (PoolServer* s : {b.get(), c.get()}) {
        EXPECT_TRUE(waitFor([&] { return s->Global("OMXImage_5003").starts_with(image); }))
            << s->name;
        EXPECT_TRUE(waitFor([&] { return s->Logged("Got IPData, type = 2") == 2; })) << s->name;
    }
    EXPECT_TRUE(Heard(ombrix::names::kMsgImageAdded, 5003));

    // The folder tree the same way, with type-1 records.
    replaceUnnoticed(pool / "OMXTree.dat", "Games\r\nTools\r\n");
    inRoot(a->root, [] {
        OMXTSReReadTreeFile();
        return 0;
    });
    for (PoolServer* s : {b.get(), c.get()}) {
        EXPECT_TRUE(waitFor([&] { return s->Global("OMXTree_2") == "Tools"; })) << s->name;
        EXPECT_EQ(s->Logged("Got IPData, type = 1"), 1) << s->name;
    }
    EXPECT_TRUE(Heard("MSG_OXTTREE_CHANGED", 0));
    EXPECT_EQ(a->Logged("Got IPData"), 0);  // A never told itself
}

TEST_F(ThreeServers, AServerMissingFromThePeerListIsNotTold) {
    // A's list counts three servers but the second value (B) is missing: A loads SRVA (itself)
    // and SRVC.
    a->SetGlobal("Server_2", "");
    ASSERT_EQ(a->Global("OMXServer"), "3");
    EXPECT_EQ(a->Call(31).m_request, 31);
    ASSERT_TRUE(waitFor([&] { return a->Logged("Found myself") == 2; }));
    EXPECT_TRUE(
        waitFor([&] { return a->Logged("CServer Run() : 127.0.0.3 (SRVC), Flags = 62") == 2; }));
    EXPECT_EQ(a->Logged("CServer Run() : 127.0.0.2 (SRVB)"), 1);  // the first loading only

    replaceUnnoticed(pool / "OMXimg.dat", catalogue(3));
    inRoot(a->root, [] {
        OMXTSReReadImgFile();
        return 0;
    });
    EXPECT_TRUE(waitFor([&] { return c->Global("OMXImage_5003") == "/img/3.om4|||"; }));
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(b->Logged("Got IPData"), 0);
    EXPECT_EQ(b->Global("OMXImage_5003"), "");
}

}  // namespace
