#include "platform/blocking_socket.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/temp_root.h"

namespace {

sockaddr_in loopback(const char* dotted, int port) {
    return CBlockingSocket::GetHostByName(dotted, port);
}

int boundPort(const CBlockingSocket& socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    getsockname(socket.Handle(), reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

TEST(CBlockingSocket, ConnectSendReceiveAndRefusal) {
    CBlockingSocket listener;
    listener.Create();
    listener.Bind(loopback("127.0.0.2", 0));
    listener.Listen(5);
    int port = boundPort(listener);

    std::thread client([port] {
        CBlockingSocket socket;
        socket.Create();
        socket.Connect(loopback("127.0.0.2", port), 1000);
        socket.Write("ping", 4, 1000);
        char reply[4];
        int n = socket.Receive(reply, 4, 1000);
        EXPECT_EQ(std::string(reply, static_cast<size_t>(n)), "pong");
    });
    CBlockingSocket connection;
    sockaddr_in peer{};
    ASSERT_TRUE(listener.Accept(connection, peer));
    char buffer[4];
    int got = 0;
    while (got < 4)
        got += connection.Receive(buffer + got, 4 - got, 1000);
    EXPECT_EQ(std::string(buffer, 4), "ping");
    EXPECT_EQ(CBlockingSocket::DottedAddress(connection.GetPeerAddr()).rfind("127.", 0), 0u);
    connection.Write("pong", 4, 1000);
    client.join();

    // Nobody listens on the port once the listener is closed.
    listener.Close();
    CBlockingSocket refused;
    refused.Create();
    try {
        refused.Connect(loopback("127.0.0.2", port), 1000);
        FAIL() << "connected";
    } catch (const CBlockingSocketException& e) {
        EXPECT_STREQ(e.what(), "Connect Error #10061");
    }
}

TEST(CBlockingSocket, InterruptEndsAWaitingAcceptWithoutException) {
    CBlockingSocket listener;
    listener.Create();
    listener.Bind(loopback("127.0.0.1", 0));
    listener.Listen(5);
    bool accepted = true;
    std::thread waiter([&] {
        CBlockingSocket connection;
        sockaddr_in peer{};
        accepted = listener.Accept(connection, peer);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    listener.Interrupt();
    waiter.join();
    EXPECT_FALSE(accepted);
}

TEST(CBlockingSocket, ReceiveTimeoutAndUnknownHost) {
    ombrix::test::TempRoot root;
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    CBlockingSocket a{ombrix::platform::UniqueFd(fds[0])};
    ombrix::platform::UniqueFd b(fds[1]);
    char c;
    try {
        a.Receive(&c, 1, 50);
        FAIL() << "received";
    } catch (const CBlockingSocketException& e) {
        EXPECT_STREQ(e.what(), "Receive timeout Error");
    }
    b.reset();
    EXPECT_EQ(a.Receive(&c, 1, 50), 0);  // the other side closed
    EXPECT_THROW(CBlockingSocket::GetHostByName("no-such-host.invalid", 1),
                 CBlockingSocketException);
}

}  // namespace
