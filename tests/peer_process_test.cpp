// Three management services, each in its own machine root with its own loopback address, find
// each other through mailslot announcements, pass change notices to their peers, and answer
// the administration records of a raw TCP client. The network access service and the session
// helpers are played by small pipe servers of this test.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "common/names.h"
#include "pipes/mountrequest.h"
#include "platform/blocking_socket.h"
#include "platform/mailslot.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "service/announcement.h"
#include "service/ip_data.h"
#include "support/free_port.h"
#include "support/pool_server.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ombrix::platform::NamedPipeServer;
using ombrix::test::freePort;
using ombrix::test::inRoot;
using ombrix::test::waitFor;

// A pipe server in the test process answering each record with `answer`.
class FakePipe {
  public:
    using Answer = std::function<void(CMountRequest&)>;
    FakePipe(const fs::path& root, const std::string& name, Answer answer)
        : answer_(std::move(answer)) {
        int error = 0;
        server_ = inRoot(root, [&] { return NamedPipeServer::create(name, 5, error); });
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakePipe() {
        stop_ = true;
        thread_.join();
    }
    std::vector<CMountRequest> Received() {
        std::lock_guard guard(lock_);
        return received_;
    }
    bool Got(int32_t request) {
        for (const auto& r : Received()) {
            if (r.m_request == request) return true;
        }
        return false;
    }

  private:
    void Serve() {
        while (!stop_) {
            int error = 0;
            auto connection = server_->accept(100, error);
            if (!connection) continue;
            CMountRequest record;
            size_t size = 0;
            if (connection->read(record.bytes(), sizeof record, size, 1000) != 0) continue;
            {
                std::lock_guard guard(lock_);
                received_.push_back(record);
            }
            if (answer_) answer_(record);
            connection->write(record.bytes(), sizeof record);
        }
    }

    Answer answer_;
    std::unique_ptr<NamedPipeServer> server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<CMountRequest> received_;
};

// The session helper's side as far as remote administration needs it: drives and images.
struct FakeSession {
    std::mutex lock;
    std::map<char, std::string> drives;  // letter -> image path
    std::string letters = "EF";
    void Answer(uint32_t session, CMountRequest& r) {
        std::lock_guard guard(lock);
        auto letter = static_cast<char>(r.m_dwData);
        switch (r.m_request) {
            case 1:
                if (r.text().find("locked") != std::string_view::npos && r.password() != "pw") {
                    r.m_request = -19;
                    r.m_dwData = 8;
                    return;
                }
                drives[letter] = std::string(r.text());
                r.m_dwData = 0;
                r.setText("\\Device\\CdRom1");
                return;
            case 2:
                drives.erase(letter);
                r.m_dwData = 0;
                return;
            case 16: {
                std::string pairs;
                for (const auto& [l, path] : drives)
                    pairs += std::string(1, l) + "|1|";
                r.setText(pairs);
                return;
            }
            case 22:
                r.m_sessionId = session;
                r.m_dwData = letters.find(letter) != std::string::npos ? 1 : 0;
                r.setText(drives.count(letter) ? drives[letter] : "");
                return;
            case 23: letters = std::string(r.text()); return;
            case 29: r.setText("DE"); return;
            default: return;
        }
    }
};

using Server = ombrix::test::PoolServer;

class Pool : public ::testing::Test {
  protected:
    void SetUp() override {
        int mailslot = freePort("127.0.0.1", SOCK_DGRAM);
        // A knows its domain by addresses and no other server's name: it answers the others'
        // announcements at the address their records carry.
        a = std::make_unique<Server>("SRVA", "127.0.0.1", mailslot, "127.0.0.1,127.0.0.2,127.0.0.3",
                                     false);
        const char* hosts = "SRVA,SRVB,SRVC";
        b = std::make_unique<Server>("SRVB", "127.0.0.2", mailslot, hosts);
        c = std::make_unique<Server>("SRVC", "127.0.0.3", mailslot, hosts);
        for (Server* s : {a.get(), b.get(), c.get()}) {
            s->SetSetting("OMXServerPathNet", "/pool/first/");
            nets.push_back(std::make_unique<FakePipe>(s->root, ombrix::names::kNetPipe, nullptr));
        }
    }
    void TearDown() override {
        a.reset();
        b.reset();
        c.reset();
    }

    std::unique_ptr<Server> a, b, c;
    std::vector<std::unique_ptr<FakePipe>> nets;
};

TEST_F(Pool, ServersFindEachOtherAndPassChangesToTheirPeers) {
    a->Start();
    b->Start();
    c->Start();
    EXPECT_EQ(a->Global("OmxServerName"), "127.0.0.1");
    EXPECT_EQ(b->Global("IP_1"), "127.0.0.2");
    for (Server* s : {a.get(), b.get(), c.get()}) {
        EXPECT_TRUE(waitFor([&] { return s->Global("KSCount") == "3"; })) << s->name;
    }
    EXPECT_EQ(a->Global("KS_2"), "127.0.0.2|" + std::to_string(b->port) + "|/POOL/FIRST/");

    // A's server list names itself (it must not notify itself), B and C; entry 2 of 4 is
    // missing and is skipped.
    a->SetGlobal("OMXServer", "4");
    a->SetGlobal("Server_1", "SRVA|62|" + std::to_string(a->port));
    a->SetGlobal("Server_3", "127.0.0.2|62|" + std::to_string(b->port));
    a->SetGlobal("Server_4", "127.0.0.3|4|" + std::to_string(c->port));
    EXPECT_EQ(a->Call(34).m_request, 34);  // the network access service has started
    EXPECT_TRUE(waitFor(
        [&] { return a->Log().find("Found myself : 127.0.0.1 (SRVA)") != std::string::npos; }));

    // A changed shared catalogue: type 2 to B and C (flag 4), which pass it to their network
    // services.
    EXPECT_EQ(a->Call(35).m_request, 35);
    EXPECT_TRUE(waitFor([&] { return nets[1]->Got(35) && nets[2]->Got(35); }));
    // A tree file change goes only to B (flag 2); the server list change (31/47) to B only.
    EXPECT_EQ(a->Call(36).m_request, 36);
    EXPECT_EQ(a->Call(31, 47).m_request, 31);
    EXPECT_TRUE(waitFor([&] { return nets[1]->Got(36) && nets[1]->Got(38); }));
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(nets[2]->Got(36));
    EXPECT_FALSE(nets[2]->Got(38));
    for (int32_t code : {35, 36, 38})
        EXPECT_FALSE(nets[0]->Got(code)) << code;

    // A port change: B listens on the new port, stores it and tells the others.
    int moved = freePort("127.0.0.2", SOCK_STREAM);
    b->SetGlobal("OmxServerPort", std::to_string(moved));
    EXPECT_EQ(b->Call(49).m_request, 49);
    CIPData reply;
    EXPECT_TRUE(waitFor([&] {
        try {
            return b->Send(CIPData(12, 99), reply, moved);
        } catch (const CBlockingSocketException&) {
            return false;
        }
    }));
    EXPECT_THROW(b->Send(CIPData(12, 99), reply), CBlockingSocketException);
    std::string stored;
    inRoot(b->root, [&] {
        return ombrix::registry::getString(ombrix::test::kGlobalSettings, "OmxServerPort", stored);
    });
    EXPECT_EQ(stored, std::to_string(moved));
    EXPECT_TRUE(waitFor([&] {
        return a->Global("KS_2") == "127.0.0.2|" + std::to_string(moved) + "|/POOL/FIRST/";
    }));
}

TEST_F(Pool, RemoteAdministrationOfSessionsAndDrives) {
    b->Start();
    FakeSession one, two;
    FakePipe pipe1(b->root, ombrix::names::sessionPipe(1),
                   [&](CMountRequest& r) { one.Answer(1, r); });
    FakePipe pipe2(b->root, ombrix::names::sessionPipe(2),
                   [&](CMountRequest& r) { two.Answer(2, r); });
    EXPECT_EQ(b->Call(17, 0, "alice", 1).m_request, 17);
    EXPECT_EQ(b->Call(17, 0, "bob", 2).m_request, 17);
    EXPECT_EQ(b->Call(17, 0, "carol", 3).m_request, 17);  // no helper runs there
    b->SetGlobal("Device_1", "/img/one.om4");

    CIPData reply;
    CIPData insert(15, 1);
    insert.SetText("E:/img/one.om4");
    ASSERT_TRUE(b->Send(insert, reply));
    EXPECT_EQ(reply.Type(), 15u);
    EXPECT_EQ(reply.Data(), 0u);
    insert.SetText("F:/img/locked.om4");  // no password: refused with the session's code
    ASSERT_TRUE(b->Send(insert, reply));
    EXPECT_EQ(reply.Type(), 10015u);
    EXPECT_EQ(reply.Data(), 8u);
    insert.SetText("F:/img/locked.om4|pw");
    ASSERT_TRUE(b->Send(insert, reply));
    EXPECT_EQ(reply.Type(), 15u);

    ASSERT_TRUE(b->Send(CIPData(13, 0), reply));
    EXPECT_EQ(reply.Texts(), (std::vector<std::string>{"1|alice|E|/img/one.om4",
                                                       "1|alice|F|/img/one.om4", "2|bob"}));

    CIPData eject(16, 1);
    eject.SetText("F");
    ASSERT_TRUE(b->Send(eject, reply));
    EXPECT_EQ(reply.Type(), 16u);
    eject.SetData(3);  // session 3 has no helper
    ASSERT_TRUE(b->Send(eject, reply));
    EXPECT_EQ(reply.Type(), 10016u);
    EXPECT_EQ(reply.Data(), 77u);

    ASSERT_TRUE(b->Send(CIPData(10, 1), reply));
    auto letters = reply.Texts();
    ASSERT_EQ(letters.size(), 26u);
    EXPECT_EQ(letters[4], "E|1|1|/img/one.om4");
    EXPECT_EQ(letters[5], "F|1|1|(F:)");
    EXPECT_EQ(letters[6], "G|1|0|(G:)");

    CIPData set(11, 1);
    set.SetText("1|EFGH");
    ASSERT_TRUE(b->Send(set, reply));
    EXPECT_EQ(reply.Data(), 0u);
    EXPECT_EQ(one.letters, "EFGH");
    set.SetData(3);
    ASSERT_TRUE(b->Send(set, reply));
    EXPECT_EQ(reply.Data(), 77u);

    ASSERT_TRUE(b->Send(CIPData(12, 2), reply));
    std::string text;
    EXPECT_TRUE(reply.Text(text));
    EXPECT_EQ(text, "DE");

    CIPData message(14, 0);
    message.SetText("Maintenance at noon");
    ASSERT_TRUE(b->Send(message, reply));
    EXPECT_EQ(reply.Type(), 14u);
    EXPECT_TRUE(waitFor([&] { return pipe1.Got(48) && pipe2.Got(48); }));

    // A folder that is not there, or a link to one, holds no pool.
    const std::filesystem::path second = b->root / "second";
    std::filesystem::create_directories(second);
    std::filesystem::create_directory_symlink(second, b->root / "link");
    CIPData move(17, 0);
    for (const auto& refused : {b->root / "missing", b->root / "link"}) {
        move.SetText(refused.string() + "/");
        ASSERT_TRUE(b->Send(move, reply));
        EXPECT_EQ(reply.Type(), 10017u) << refused;
    }
    EXPECT_EQ(b->Global("OMXServerPathNet"), "/pool/first/");
    // Into a pool folder and back home; the sessions hear of it (request 50).
    move.SetText(second.string() + "/");
    ASSERT_TRUE(b->Send(move, reply));
    EXPECT_EQ(reply.Type(), 17u);
    EXPECT_EQ(b->Global("OMXServerPathNet"), second.string() + "/");
    EXPECT_EQ(b->Global("OmxConfigFileNet"), (second / "OMXimg.dat").string());
    EXPECT_TRUE(waitFor([&] { return pipe1.Got(50); }));
    ASSERT_TRUE(b->Send(CIPData(17, 1), reply));
    EXPECT_EQ(b->Global("OMXServerPathNet"), (b->root / "home").string() + "/system/config/");

    // A record with a wrong magic is closed without a reply; the server still answers.
    CIPData forged(13, 0);
    forged.m_header.magic = 0xDEADBEEF;
    EXPECT_FALSE(b->Send(forged, reply));
    EXPECT_TRUE(b->Send(CIPData(13, 0), reply));
    EXPECT_EQ(b->Call(7).m_request, 7);
}

}  // namespace

namespace {

using ombrix::test::PoolServer;

// One administration record sent from `source` (an address of this host); false when the
// connection closed without a reply.
bool SendFrom(const std::string& source, const PoolServer& to, const CIPData& record,
              CIPData& reply) {
    // A refused connection is closed at once: the write or the read may fail.
    try {
        CBlockingSocket socket;
        socket.Create();
        socket.Bind(CBlockingSocket::GetHostByName(source, 0));
        socket.Connect(CBlockingSocket::GetHostByName(to.ip, to.port), 2000);
        WriteIPData(socket, record, 2000);
        return ReadIPData(socket, reply, 3000) == IPHeaderCheck::kGood;
    } catch (const CBlockingSocketException&) {
        return false;
    }
}

// Servers of one pool on 127.0.0.1 and 127.0.0.2, and a stranger at 127.0.0.9 that is no
// server of it: the stranger is refused whatever it sends, and logged once; the pool's servers,
// and root on this host, are served.
TEST(PoolTrust, StrangersAreRefusedAndThePoolsServersServed) {
    const int mailslots = ombrix::test::freePort("127.0.0.1", SOCK_DGRAM);
    PoolServer a("SRVA", "127.0.0.1", mailslots, "SRVA,SRVB");
    PoolServer b("SRVB", "127.0.0.2", mailslots, "SRVA,SRVB");
    a.Start();
    b.Start();
    // The peers found each other by their announcements.
    ASSERT_TRUE(ombrix::test::waitFor([&] { return a.Global("KSCount") == "2"; }));

    CIPData reply;
    CIPData move(17, 0);
    move.SetText((a.root / "home").string() + "/");
    CIPData eject(16, 1);
    eject.SetText("E");
    CIPData insert(15, 1);
    insert.SetText("E:/img/one.om4");
    for (const CIPData& record : {CIPData(13, 0), insert, eject, move})
        EXPECT_FALSE(SendFrom("127.0.0.9", a, record, reply)) << record.Type();
    EXPECT_EQ(a.Logged("Refused an administration record from 127.0.0.9"), 1);
    EXPECT_EQ(a.Global("OMXServerPathNet"), (a.root / "home").string() + "/system/config/");

    // The peer and root on this host are served.
    EXPECT_TRUE(SendFrom("127.0.0.2", a, CIPData(13, 0), reply));
    EXPECT_TRUE(SendFrom("127.0.0.1", a, CIPData(13, 0), reply));

    // An announcement from the stranger is neither kept nor answered.
    ServerAnnouncement forged =
        announce::Make(announce::kAnnouncement, "STRANGER", "127.0.0.9", 1, "/elsewhere/");
    ombrix::test::inRoot(a.root, [&] {
        setenv("OMBRIX_IP", "127.0.0.9", 1);
        int rc = ombrix::platform::writeMailslot("127.0.0.1", announce::kMailslot, &forged,
                                                 sizeof forged);
        unsetenv("OMBRIX_IP");
        return rc;
    });
    EXPECT_TRUE(ombrix::test::waitFor(
        [&] { return a.Logged("Refused an announcement from 127.0.0.9") == 1; }));
    EXPECT_EQ(a.Global("KSCount"), "2");
}

// An account of this host that is neither root nor an administrator reaches no server over TCP,
// whatever address it sends from.
TEST(PoolTrust, AnOrdinaryAccountOfThisHostIsRefused) {
    if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "needs root";
    const auto bob = ombrix::test::testAccount("ombrix-bob");
    const int mailslots = ombrix::test::freePort("127.0.0.1", SOCK_DGRAM);
    PoolServer a("SRVA", "127.0.0.1", mailslots, "SRVA");
    a.Start();
    int served = ombrix::test::runAs(bob, [&] {
        CIPData reply;
        return SendFrom("127.0.0.1", a, CIPData(13, 0), reply) ? 1 : 0;
    });
    EXPECT_EQ(served, 0);
    EXPECT_TRUE(ombrix::test::waitFor([&] {
        return a.Logged("Refused an administration record from 127.0.0.1 (user " +
                        std::to_string(bob.uid) + ")") == 1;
    }));
    CIPData reply;
    EXPECT_TRUE(SendFrom("127.0.0.1", a, CIPData(13, 0), reply));
}

}  // namespace
