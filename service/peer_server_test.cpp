#include "service/peer_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <set>
#include <thread>

#include "outside/env/oxtenv.h"
#include "service/ip_listener.h"
#include "support/free_port.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::waitFor;

struct Sent {
    std::string address;
    int port;
    uint32_t type;
};

class Peers : public ::testing::Test {
  protected:
    CServer::Sender recorder() {
        return [this](const std::string& address, int port, const CIPData& record) {
            std::lock_guard guard(lock);
            sent.push_back({address, port, record.Type()});
        };
    }
    std::vector<Sent> taken() {
        std::lock_guard guard(lock);
        return sent;
    }

    ombrix::test::TempRoot root;
    std::mutex lock;
    std::vector<Sent> sent;
};

TEST_F(Peers, LoadsThePresentEntriesOfTheServerList) {
    EnvSetGlobalValue("OMXServer", "3");
    EnvSetGlobalValue("Server_1", "127.0.0.2|4|7001");
    EnvSetGlobalValue("Server_3", "127.0.0.3|62|7003");
    CPeerList list(recorder());
    ASSERT_TRUE(list.Reload({"127.0.0.1"}));
    auto peers = list.Peers();
    ASSERT_EQ(peers.size(), 2u);
    EXPECT_EQ(peers[0]->Name(), "127.0.0.2");
    EXPECT_EQ(peers[0]->Flags(), 4);
    EXPECT_EQ(peers[0]->Port(), 7001);
    EXPECT_EQ(peers[1]->Name(), "127.0.0.3");
    EXPECT_EQ(peers[1]->Port(), 7003);

    // A reload replaces the peers; their workers end.
    EnvSetGlobalValue("OMXServer", "1");
    ASSERT_TRUE(list.Reload({"127.0.0.1"}));
    EXPECT_TRUE(waitFor([&] { return peers[0]->Ended() && peers[1]->Ended(); }));
    EXPECT_EQ(list.Peers().size(), 1u);
}

TEST_F(Peers, NotificationsFollowTheFlagsAndNeverReachThisServer) {
    EnvSetGlobalValue("OMXServer", "3");
    EnvSetGlobalValue("Server_1", "127.0.0.1|62|7001");  // this server itself
    EnvSetGlobalValue("Server_2", "127.0.0.2|4|7002");
    EnvSetGlobalValue("Server_3", "127.0.0.3|34|7003");
    CPeerList list(recorder());
    ASSERT_TRUE(list.Reload({"127.0.0.9", "127.0.0.1"}));
    for (auto& peer : list.Peers())
        ASSERT_TRUE(peer->WaitResolved(5000));
    EXPECT_EQ(list.Peers()[0]->Flags(), 0);

    list.Notify(CServer::kCatalogue, 2);
    list.Notify(CServer::kServers, 6);
    list.Notify(CServer::kTree, 1);
    ASSERT_TRUE(waitFor([&] { return taken().size() == 3; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto got = taken();
    ASSERT_EQ(got.size(), 3u);
    std::multiset<std::string> seen;
    for (const auto& s : got)
        seen.insert(s.address + ":" + std::to_string(s.port) + "/" + std::to_string(s.type));
    EXPECT_EQ(seen, (std::multiset<std::string>{"127.0.0.2:7002/2", "127.0.0.3:7003/1",
                                                "127.0.0.3:7003/6"}));
}

TEST(PeerTable, RequestsMapToFlagsAndTypes) {
    EXPECT_EQ(CPeerList::FlagForRequest(36, 0), 2);
    EXPECT_EQ(CPeerList::FlagForRequest(35, 0), 4);
    EXPECT_EQ(CPeerList::FlagForRequest(37, 0), 8);
    EXPECT_EQ(CPeerList::FlagForRequest(39, 0), 16);
    EXPECT_EQ(CPeerList::FlagForRequest(38, 0), 32);
    EXPECT_EQ(CPeerList::FlagForRequest(46, 0), 32);
    EXPECT_EQ(CPeerList::FlagForRequest(31, 47), 32);
    EXPECT_EQ(CPeerList::FlagForRequest(31, 0), 0);
    EXPECT_EQ(CPeerList::FlagForRequest(40, 0), 0);
    EXPECT_EQ(CPeerList::TypeForFlag(2), 1u);
    EXPECT_EQ(CPeerList::TypeForFlag(32), 6u);
}

TEST(PeerDelivery, RecordsTravelOverTcpAndUnreachablePeersLoseThem) {
    ombrix::test::TempRoot root;
    std::mutex lock;
    std::vector<uint32_t> received;
    const int kPort = ombrix::test::freePort("127.0.0.2");
    auto listener = CIPListener::Start({"127.0.0.2"}, kPort, [&](const CIPData& r, CIPData&) {
        std::lock_guard guard(lock);
        received.push_back(r.Type());
        return false;
    });
    auto live = std::make_shared<CServer>("127.0.0.2", 4, kPort);
    auto gone = std::make_shared<CServer>("127.0.0.3", 4, kPort);  // nobody listens there
    ASSERT_TRUE(live->Start({"127.0.0.1"}));
    ASSERT_TRUE(gone->Start({"127.0.0.1"}));
    CIPData record(2);
    EXPECT_TRUE(gone->Queue(record));
    EXPECT_TRUE(gone->Queue(record));
    EXPECT_TRUE(live->Queue(record));
    record.SetType(3);
    EXPECT_TRUE(live->Queue(record));
    EXPECT_TRUE(waitFor([&] {
        std::lock_guard guard(lock);
        return received.size() == 2;
    }));
    {
        std::lock_guard guard(lock);
        // One connection each, served on threads of their own: the order may change on arrival.
        std::sort(received.begin(), received.end());
        EXPECT_EQ(received, (std::vector<uint32_t>{2, 3}));
    }
    EXPECT_TRUE(live->Stop(1000));
    EXPECT_TRUE(gone->Stop(5000));
    EXPECT_FALSE(live->Queue(record));  // a stopped peer takes nothing
}

}  // namespace
