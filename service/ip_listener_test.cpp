#include "service/ip_listener.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "support/free_port.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using ombrix::test::waitFor;

const int kPort = ombrix::test::freePort("127.0.0.2");

CBlockingSocket connect(int port = kPort) {
    CBlockingSocket socket;
    socket.Create();
    socket.Connect(CBlockingSocket::GetHostByName("127.0.0.2", port), 2000);
    return socket;
}

// Sends `record` and reads the reply; false when the server closed without one.
bool roundTrip(const CIPData& record, CIPData& reply) {
    CBlockingSocket socket = connect();
    WriteIPData(socket, record, 2000);
    try {
        return ReadIPData(socket, reply, 3000) == IPHeaderCheck::kGood;
    } catch (const CBlockingSocketException&) {
        return false;
    }
}

class Listener : public ::testing::Test {
  protected:
    void SetUp() override {
        listener = CIPListener::Start({"127.0.0.2"}, kPort, [this](const CIPData& r, CIPData& out) {
            ++handled;
            out = r;
            out.SetData(r.Data() + 1);
            return r.Type() == 13;
        });
    }
    ombrix::test::TempRoot root;
    std::atomic<int> handled{0};
    std::unique_ptr<CIPListener> listener;
};

TEST_F(Listener, AnswersRecordsThatWantAReplyAndClosesTheRest) {
    CIPData reply;
    ASSERT_TRUE(roundTrip(CIPData(13, 41), reply));
    EXPECT_EQ(reply.Type(), 13u);
    EXPECT_EQ(reply.Data(), 42u);
    EXPECT_FALSE(roundTrip(CIPData(2, 0), reply));
    EXPECT_EQ(handled, 2);

    // A wrong magic is closed without a reply and never reaches the handler.
    CIPData forged(13, 1);
    forged.m_header.magic = 0x01020304;
    EXPECT_FALSE(roundTrip(forged, reply));
    EXPECT_EQ(handled, 2);
}

TEST_F(Listener, BadSendersDoNotHoldUpOthers) {
    // A 2 GB length, a length beyond what follows, and a client that trickles one byte at a
    // time are all in progress while a good request is answered.
    CIPData huge(13, 0);
    auto bytes = huge.Bytes();
    bytes[7] = 0x80;
    CBlockingSocket a = connect();
    a.Write(bytes.data(), static_cast<int>(bytes.size()), 1000);
    CIPData longer(13, 0);
    auto promise = longer.Bytes();
    promise[4] = 200;
    CBlockingSocket b = connect();
    b.Write(promise.data(), static_cast<int>(promise.size()), 1000);
    CBlockingSocket c = connect();
    std::atomic<bool> done{false};
    std::thread trickle([&] {
        auto good = CIPData(13, 0).Bytes();
        for (unsigned char byte : good) {
            if (done) break;
            try {
                c.Write(&byte, 1, 1000);
            } catch (const CBlockingSocketException&) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
    });
    CIPData reply;
    EXPECT_TRUE(roundTrip(CIPData(13, 1), reply));
    EXPECT_EQ(reply.Data(), 2u);
    // The slow client is cut off when its record's time runs out.
    char byte;
    EXPECT_TRUE(waitFor(
        [&] {
            try {
                return c.Receive(&byte, 1, 100) == 0;
            } catch (const CBlockingSocketException& e) {
                return std::string(e.what()) != "Receive timeout Error";
            }
        },
        std::chrono::seconds(5)));
    done = true;
    trickle.join();
    EXPECT_EQ(handled, 1);
}

TEST_F(Listener, ServesTwoHundredConnectionsAtOnce) {
    constexpr int kClients = 200;
    std::vector<CBlockingSocket> idle;
    for (int i = 0; i < kClients; ++i)
        idle.push_back(connect());  // connected, silent
    std::atomic<int> answered{0};
    std::vector<std::thread> clients;
    for (int i = 0; i < 20; ++i) {
        clients.emplace_back([&, i] {
            CIPData reply;
            if (roundTrip(CIPData(13, static_cast<uint32_t>(i)), reply) &&
                reply.Data() == static_cast<uint32_t>(i) + 1) {
                ++answered;
            }
        });
    }
    for (auto& t : clients)
        t.join();
    EXPECT_EQ(answered, 20);
    idle.clear();
    EXPECT_TRUE(waitFor([&] { return listener->ActiveConnections() == 0; }));
}

TEST_F(Listener, ClosedListenerTakesNoConnectionsAndCallsNoHandler) {
    listener.reset();
    EXPECT_THROW(connect(), CBlockingSocketException);
}

}  // namespace
