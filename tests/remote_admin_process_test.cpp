// Remote administration through the whole chain: a raw TCP client sends the administration
// records to the management service, which drives the session helper programs of the sessions,
// which insert and eject through the service and the driver stand-in; each a process of its own
// in a temporary machine root, the service on its own loopback address.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>

#include "common/names.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "platform/blocking_socket.h"
#include "platform/registry.h"
#include "platform/terminal_sessions.h"
#include "profiles/profile.h"
#include "service/ip_data.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/driver_and_service.h"
#include "support/echo_pipe.h"
#include "support/free_port.h"
#include "support/grant_rights.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::callPipe;
using ombrix::test::EchoPipe;
using ombrix::test::grantEveryone;
using ombrix::test::Program;
using ombrix::test::record;
using ombrix::test::waitFor;

constexpr const char* kAddress = "127.0.0.2";

class RemoteAdmin : public ::testing::Test {
  protected:
    void SetUp() override {
        ombrix::samples::writeImage(root / "a.om4", ombrix::samples::makeHeader("a.om4"));
        ombrix::samples::writeImage(root / "secret.om4",
                                    ombrix::samples::makeHeader("Secret disc", "sesame"));
        grantEveryone(4 | 8);
        port = ombrix::test::freePort(kAddress);
        ombrix::registry::setString("HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings",
                                    "OmxServerPort", std::to_string(port));
        ASSERT_NO_FATAL_FAILURE(ombrix::test::startDriverAndService(
            root, driver, service, {"--units", "4", "--no-fuse"},
            {{"OMBRIX_IP", kAddress}, {"OMBRIX_HOST", "SRVB"}}));
        if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "the sessions' accounts need root";
        accounts = {ombrix::test::testAccount("ombrix-alice"),
                    ombrix::test::testAccount("ombrix-bob")};
        for (uint32_t sid : {1u, 2u}) {
            const auto& account = accounts[sid - 1];
            ASSERT_EQ(ombrix::wts::logOn(sid, account.name), 0);
            ASSERT_EQ(
                callPipe(ombrix::names::kServicePipe, record(17, sid, account.name)).m_request, 17);
            // The boxes are recorded where the session's account may write.
            const auto boxes = root / ("boxes" + std::to_string(sid));
            ombrix::test::writeFile(boxes, "");
            ASSERT_EQ(::chown(boxes.c_str(), account.uid, account.gid), 0);
            helpers.push_back(std::make_unique<Program>(
                "OxtHelp", std::vector<std::string>{}, root / ("helper" + std::to_string(sid)),
                sid == 1 ? "1" : "2",
                std::vector<std::pair<std::string, std::string>>{
                    {"HOME", ombrix::test::homeFor(root.path(), account).string()},
                    {"OMBRIX_UI_RECORD", boxes.string()}},
                &account));
            std::string pipe = ombrix::names::sessionPipe(sid);
            ASSERT_TRUE(waitFor([&] { return callPipe(pipe, record(29)).m_request == 29; }));
        }
    }
    void TearDown() override {
        helpers.clear();
        if (service) service->stop(SIGINT);
    }

    // One administration record; false when the service closed without a reply.
    bool send(const CIPData& request, CIPData& reply) {
        CBlockingSocket socket;
        socket.Create();
        socket.Connect(CBlockingSocket::GetHostByName(kAddress, port), 2000);
        WriteIPData(socket, request, 2000);
        try {
            return ReadIPData(socket, reply, 5000) == IPHeaderCheck::kGood;
        } catch (const CBlockingSocketException&) {
            return false;
        }
    }
    CIPData ask(uint32_t type, uint32_t session, const std::string* text = nullptr) {
        CIPData request(type, session);
        if (text) request.SetText(*text);
        CIPData reply;
        EXPECT_TRUE(send(request, reply)) << "type " << type;
        return reply;
    }
    CIPData ask(uint32_t type, uint32_t session, const std::string& text) {
        return ask(type, session, &text);
    }
    std::string image(const char* name) { return (root / name).string(); }

    ombrix::test::TempRoot root;
    EchoPipe net{ombrix::names::kNetPipe};
    int port = 0;
    std::vector<ombrix::test::TestAccount> accounts;
    std::unique_ptr<Program> driver;
    std::unique_ptr<Program> service;
    std::vector<std::unique_ptr<Program>> helpers;
};

TEST_F(RemoteAdmin, InsertListAndEjectInAnotherServersSessions) {
    CIPData reply = ask(15, 1, "E:" + image("a.om4"));
    EXPECT_EQ(reply.Type(), 15u);
    EXPECT_EQ(reply.Data(), 0u);
    // The password travels after the bar (the administration program has checked it).
    reply = ask(15, 2, "F:" + image("secret.om4") + "|sesame");
    EXPECT_EQ(reply.Type(), 15u);

    reply = ask(13, 0);
    auto sessions = reply.Texts();
    std::sort(sessions.begin(), sessions.end());
    EXPECT_EQ(sessions, (std::vector<std::string>{"1|ombrix-alice|E|" + image("a.om4"),
                                                  "2|ombrix-bob|F|" + image("secret.om4")}));

    auto letters = ask(10, 1).Texts();
    ASSERT_EQ(letters.size(), 26u);
    EXPECT_EQ(letters[4], "E|1|1|" + image("a.om4"));
    EXPECT_EQ(letters[0], "A|1|0|(A:)");

    reply = ask(12, 1);
    EXPECT_EQ(reply.Data(), 0u);
    std::string standard;
    EXPECT_TRUE(reply.Text(standard));
    EXPECT_FALSE(standard.empty());

    reply = ask(16, 1, "E");
    EXPECT_EQ(reply.Type(), 16u);
    EXPECT_EQ(reply.Data(), 0u);
    sessions = ask(13, 0).Texts();
    std::sort(sessions.begin(), sessions.end());
    EXPECT_EQ(sessions, (std::vector<std::string>{"1|ombrix-alice",
                                                  "2|ombrix-bob|F|" + image("secret.om4")}));

    // New drive letters for session 1, and a text for every user.
    reply = ask(11, 1, "0|EFGH");
    EXPECT_EQ(reply.Data(), 0u);
    EXPECT_EQ(ask(10, 1).Texts()[7], "H|1|1|(H:)");
    reply = ask(14, 0, "Maintenance at noon");
    EXPECT_EQ(reply.Type(), 14u);
    for (const char* boxes : {"boxes1", "boxes2"}) {
        EXPECT_TRUE(waitFor([&] {
            return ombrix::test::readFile(root / boxes) ==
                   "Ombrix TS\tinformation\tMaintenance at noon\n";
        })) << boxes;
    }
}

}  // namespace
