// The administration program's channels against two real servers: each a machine root of its
// own with the driver stand-in, the management service on its own loopback address (SRVA on
// 127.0.0.1, SRVB on 127.0.0.2) and a session whose helper runs as an unprivileged account. The
// program works as if it ran on SRVA: SRVA's session through its pipe, SRVB's over TCP.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "admin/admin_channels.h"
#include "admin/admin_system.h"
#include "admin/server_pools.h"
#include "common/names.h"
#include "common/sample_images.h"
#include "platform/blocking_socket.h"
#include "platform/registry.h"
#include "platform/terminal_sessions.h"
#include "support/accounts.h"
#include "support/driver_and_service.h"
#include "support/echo_pipe.h"
#include "support/free_port.h"
#include "support/grant_rights.h"
#include "support/pipe_records.h"
#include "support/pool_server.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;
using namespace ombrix::admin;
using ombrix::test::callPipe;
using ombrix::test::inRoot;
using ombrix::test::Program;
using ombrix::test::record;
using ombrix::test::waitFor;

struct Server {
    std::string name;
    std::string address;
    std::unique_ptr<ombrix::test::TempRoot> root;
    int port = 0;
    std::unique_ptr<Program> driver, service, helper;
    std::unique_ptr<ombrix::test::EchoPipe> net;

    ServerEntry entry(bool local) const { return {name, 0, port, local}; }
};

class AdminProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "the sessions' accounts need root";
        accounts = {ombrix::test::testAccount("ombrix-alice"),
                    ombrix::test::testAccount("ombrix-bob")};
        // The program runs as an administrator: an ordinary account in the group the root's
        // registry names.
        admin = ombrix::test::testAccount("ombrix-admin");
        for (int i = 0; i < 2; ++i) {
            auto& s = servers[i];
            s.name = i == 0 ? "SRVA" : "SRVB";
            s.address = i == 0 ? "127.0.0.1" : "127.0.0.2";
            s.root = std::make_unique<ombrix::test::TempRoot>();
            ASSERT_NO_FATAL_FAILURE(inRoot(s.root->path(), [&] { start(s, accounts[i]); }));
        }
        ::setenv("OMBRIX_ROOT", servers[0].root->path().c_str(), 1);
        AdminChannels::Ports ports = systemChannelPorts();
        ports.ownSession = [] { return 99u; };  // the program's own session is none of these
        ports.sendRecord = [this](const ServerEntry& to, const CIPData& request, CIPData& reply) {
            const Server& s = to.name == "SRVA" ? servers[0] : servers[1];
            try {
                CBlockingSocket socket;
                socket.Create();
                socket.Connect(CBlockingSocket::GetHostByName(s.address, to.port), 2000);
                WriteIPData(socket, request, 2000);
                return ReadIPData(socket, reply, 5000) == IPHeaderCheck::kGood;
            } catch (...) {
                return false;
            }
        };
        channels = std::make_unique<AdminChannels>(ports);
    }
    void TearDown() override {
        for (auto& s : servers) {
            if (!s.root) continue;
            inRoot(s.root->path(), [&] {
                s.helper.reset();
                if (s.service) s.service->stop(SIGINT);
                s.driver.reset();
                return 0;
            });
        }
    }

    void start(Server& s, const ombrix::test::TestAccount& account) {
        s.net = std::make_unique<ombrix::test::EchoPipe>(ombrix::names::kNetPipe);
        ombrix::test::grantEveryone(4 | 8);
        ombrix::registry::setString(ombrix::test::kGlobalSettings, "OMXAdminGroup", admin.name);
        s.port = ombrix::test::freePort(s.address.c_str());
        ombrix::registry::setString(ombrix::test::kGlobalSettings, "OmxServerPort",
                                    std::to_string(s.port));
        ombrix::registry::setString(ombrix::test::kGlobalSettings, "OMXHomePath",
                                    (s.root->path() / "home").string() + "/");
        fs::create_directories(s.root->path() / "home/system/config");
        ombrix::test::startDriverAndService(*s.root, s.driver, s.service,
                                            {"--units", "2", "--no-fuse"},
                                            {{"OMBRIX_IP", s.address}, {"OMBRIX_HOST", s.name}});
        ASSERT_EQ(ombrix::wts::logOn(1, account.name), 0);
        ASSERT_EQ(callPipe(ombrix::names::kServicePipe, record(17, 1, account.name)).m_request, 17);
        s.helper = std::make_unique<Program>(
            "OxtHelp", std::vector<std::string>{}, *s.root / "helper", "1",
            std::vector<std::pair<std::string, std::string>>{
                {"HOME", ombrix::test::homeFor(s.root->path(), account).string()},
                {"OMBRIX_UI_RECORD", (*s.root / "boxes").string()}},
            &account);
        const std::string pipe = ombrix::names::sessionPipe(1);
        ASSERT_TRUE(waitFor([&] { return callPipe(pipe, record(29)).m_request == 29; }));
        ombrix::samples::writeImage(*s.root / "disc.om4", ombrix::samples::makeHeader("Disc"));
        ::chmod(s.root->path().c_str(), 0755);
    }

    std::string image(int server) { return (*servers[server].root / "disc.om4").string(); }
    // The drives of session 1 as the tree shows them.
    std::vector<DriveNode> drivesOf(const ServerEntry& server) {
        const auto sessions = channels->sessions(server);
        if (!sessions) return {};
        for (const auto& s : *sessions) {
            if (s.id == 1) return s.drives;
        }
        return {};
    }

    // Runs a call of the program's side as the administrator account.
    int asAdmin(const std::function<int()>& work) { return ombrix::test::runAs(admin, work); }

    std::vector<ombrix::test::TestAccount> accounts;
    ombrix::test::TestAccount admin;
    Server servers[2];
    std::unique_ptr<AdminChannels> channels;
};

TEST_F(AdminProcess, TreeInsertEjectAndDriveLettersInALocalAndARemoteSession) {
    const ServerEntry local = servers[0].entry(true);
    const ServerEntry remote = servers[1].entry(false);
    std::string reason;

    // The tree after a refresh: each server's session with its user.
    const auto localSessions = channels->sessions(local);
    ASSERT_TRUE(localSessions.has_value());
    ASSERT_FALSE(localSessions->empty());
    EXPECT_EQ(localSessions->back().user, accounts[0].name);
    const auto remoteSessions = channels->sessions(remote);
    ASSERT_TRUE(remoteSessions.has_value());
    ASSERT_FALSE(remoteSessions->empty());
    EXPECT_EQ(remoteSessions->back().user, accounts[1].name);

    // Insert and eject in the other local session (its pipe) and in the remote one (TCP), as
    // the administrator account.
    auto insert = [&](const ServerEntry& server, uint32_t session, char letter, int which) {
        return asAdmin([&] {
            std::string why;
            return channels->insert({server, session}, letter, image(which), "", why);
        });
    };
    auto eject = [&](const ServerEntry& server, char letter) {
        return asAdmin([&] {
            std::string why;
            return channels->eject({server, 1}, letter, why);
        });
    };
    ASSERT_EQ(insert(local, 1, 'E', 0), 0);
    EXPECT_EQ(drivesOf(local), (std::vector<DriveNode>{{'E', image(0)}}));
    ASSERT_EQ(insert(remote, 1, 'F', 1), 0);
    EXPECT_EQ(drivesOf(remote), (std::vector<DriveNode>{{'F', image(1)}}));
    EXPECT_EQ(eject(local, 'E'), 0);
    EXPECT_EQ(eject(remote, 'F'), 0);
    EXPECT_TRUE(drivesOf(local).empty());
    EXPECT_TRUE(drivesOf(remote).empty());
    // A session that does not exist answers nothing: a failure with a reason.
    EXPECT_NE(channels->insert({remote, 9}, 'E', image(1), "", reason), 0);
    EXPECT_FALSE(reason.empty());

    // Drive letters for one session, and for all sessions of the server.
    for (const ServerEntry& server : {local, remote}) {
        auto letters = [&] {
            return asAdmin([&] {
                const auto rows = channels->driveLetters({server, 1});
                return !rows                          ? -1
                       : chosenLetters(*rows) == "GH" ? 1
                       : chosenLetters(*rows) == "EF" ? 2
                                                      : 0;
            });
        };
        ASSERT_EQ(asAdmin([&] {
                      return channels->setDriveLetters({server, 1}, "GH", false);
                  }),
                  0)
            << server.name;
        EXPECT_EQ(letters(), 1) << server.name;
        ASSERT_EQ(asAdmin([&] {
                      return channels->setDriveLetters({server, 1}, "EF", true);
                  }),
                  0)
            << server.name;
        EXPECT_EQ(letters(), 2) << server.name;
    }
}

TEST_F(AdminProcess, APoolIsFormedFromTwoServersAndASilentOneIsUndone) {
    const std::string folder = (servers[0].root->path() / "pools/library").string();
    fs::create_directories(folder);
    ASSERT_EQ(poolFolderProblem(folder, true), std::nullopt);
    ASSERT_TRUE(setPoolName(folder, "Library"));
    const std::vector<ServerEntry> known{
        servers[0].entry(true), servers[1].entry(false), {"SRVC", 0, 1, false}};
    std::string error;
    auto rows = readPool(folder, known, error);
    ASSERT_TRUE(rows.has_value()) << error;
    for (auto& row : *rows)
        row.checked = true;
    std::vector<std::string> told;
    PoolSetter::Ports ports;
    ports.setSharedPath = [&](const std::string& server, int port, const std::string& where,
                              bool own, std::string& reason) {
        // As the administrator account; a refusal's reason stays in the child.
        reason.clear();
        return asAdmin([&] {
            std::string why;
            return channels->setSharedPath({server, 0, port, false}, where, own, why);
        });
    };
    ports.poolOf = [](const std::string&) { return std::optional<std::string>(""); };
    ports.tell = [&](const std::string& text) { told.push_back(text); };
    ports.ask = [](const std::string&) { return false; };
    PoolSetter setter(ports);
    EXPECT_FALSE(setter.apply(folder, *rows)) << "SRVC does not answer";
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0], "Error while communicating with server 'SRVC'");

    // Both answering servers now share the pool's folder; the file lists them, not SRVC.
    for (const Server& s : servers) {
        const std::string path =
            inRoot(s.root->path(), [] { return ombrix::test::globalValue("OMXServerPathNet"); });
        EXPECT_EQ(path, folder + "/") << s.name;
    }
    const std::string file = ombrix::test::readFile(fs::path(folder) / kPoolFile);
    EXPECT_NE(file.find("[SRVA]"), std::string::npos);
    EXPECT_NE(file.find("[SRVB]"), std::string::npos);
    EXPECT_EQ(file.find("[SRVC]"), std::string::npos);
}

}  // namespace
