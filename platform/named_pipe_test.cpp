#include "platform/named_pipe.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/event_log.h"
#include "platform/registry.h"
#include "support/temp_root.h"

using ombrix::platform::callNamedPipe;
using ombrix::platform::callNamedPipeExact;
using ombrix::platform::NamedPipeServer;

namespace {

// Answers every message with its own bytes, reversed, until `stop`.
void echoReversed(NamedPipeServer& server, std::atomic<bool>& stop) {
    while (!stop) {
        int error = 0;
        auto connection = server.accept(50, error);
        if (!connection) continue;
        std::vector<char> buffer(4096);
        size_t size = 0;
        if (connection->read(buffer.data(), buffer.size(), size, 1000) != 0) continue;
        buffer.resize(size);
        std::reverse(buffer.begin(), buffer.end());
        connection->write(buffer.data(), buffer.size());
    }
}

TEST(NamedPipe, MessagesKeepTheirExactSize) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto server = NamedPipeServer::create("Echo", 5, error);
    ASSERT_NE(server, nullptr) << error;
    std::atomic<bool> stop{false};
    std::thread thread(echoReversed, std::ref(*server), std::ref(stop));
    for (size_t size : {1u, 303u, 304u, 305u, 1024u}) {
        std::vector<char> in(size), out(2048);
        for (size_t i = 0; i < size; ++i)
            in[i] = static_cast<char>(i);
        size_t read = 0;
        ASSERT_EQ(
            callNamedPipe(".", "Echo", in.data(), in.size(), out.data(), out.size(), read, 500), 0);
        EXPECT_EQ(read, size);
        EXPECT_EQ(out[0], in[size - 1]);
    }
    // A reply longer than the caller's buffer is reported with its full length.
    std::vector<char> in(100), out(10);
    size_t read = 0;
    EXPECT_EQ(callNamedPipe(".", "Echo", in.data(), in.size(), out.data(), out.size(), read, 500),
              234);
    EXPECT_EQ(read, 100u);
    EXPECT_FALSE(
        callNamedPipeExact(".", "Echo", in.data(), in.size(), out.data(), out.size(), 500, 2));
    stop = true;
    thread.join();
}

TEST(NamedPipe, CallsFailWithoutAServer) {
    ombrix::test::TempRoot root;
    char byte = 0;
    size_t read = 0;
    EXPECT_EQ(callNamedPipe(".", "Nobody", &byte, 1, &byte, 1, read, 100), 2);
    EXPECT_EQ(callNamedPipe("otherhost", "Nobody", &byte, 1, &byte, 1, read, 100), 53);
    {
        int error = 0;
        auto server = NamedPipeServer::create("Gone", 1, error);
        ASSERT_NE(server, nullptr);
    }
    EXPECT_FALSE(std::filesystem::exists(ombrix::platform::pipePath("Gone")));
    EXPECT_EQ(callNamedPipe(".", "Gone", &byte, 1, &byte, 1, read, 100), 2);
}

TEST(NamedPipe, ServerClosingWithoutReplyIsABrokenPipe) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto server = NamedPipeServer::create("Silent", 5, error);
    ASSERT_NE(server, nullptr);
    std::thread thread([&] {
        auto connection = server->accept(2000, error);
        char buffer[8];
        size_t size = 0;
        if (connection) connection->read(buffer, sizeof buffer, size, 1000);
    });
    char byte = 1;
    size_t read = 0;
    EXPECT_EQ(callNamedPipe(".", "Silent", &byte, 1, &byte, 1, read, 500), 109);
    thread.join();
}

TEST(NamedPipe, BusyPipeTimesOutAfterTheCallersWait) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto server = NamedPipeServer::create("Busy", 1, error);  // nobody accepts
    ASSERT_NE(server, nullptr);
    std::vector<std::thread> callers;
    std::atomic<int> timedOut{0};
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&] {
            char byte = 0;
            size_t read = 0;
            if (callNamedPipe(".", "Busy", &byte, 1, &byte, 1, read, 200) == 121) ++timedOut;
        });
    }
    // The queued callers wait for a reply; the others find every instance busy.
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_GE(timedOut.load(), 1);
    server.reset();  // ends the queued callers' waits
    for (auto& caller : callers)
        caller.join();
}

TEST(NamedPipe, OneLiveServerPerNameAndLeftoversAreReplaced) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto first = NamedPipeServer::create("One", 5, error);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(NamedPipeServer::create("One", 5, error), nullptr);
    EXPECT_EQ(error, 5);
    // A socket file left by a server that died is taken over.
    pid_t child = fork();
    if (child == 0) {
        int e = 0;
        auto server = NamedPipeServer::create("Dead", 5, e);
        _exit(server ? 0 : 1);  // no destructor: the file stays behind
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(std::filesystem::exists(ombrix::platform::pipePath("Dead")));
    EXPECT_NE(NamedPipeServer::create("Dead", 5, error), nullptr) << error;
}

TEST(NamedPipe, WorksUnderALongRootPath) {
    ombrix::test::TempRoot root;
    std::string deep = (root.path() / std::string(120, 'x')).string();
    std::filesystem::create_directories(deep);
    setenv("OMBRIX_ROOT", deep.c_str(), 1);
    int error = 0;
    auto server = NamedPipeServer::create("Deep", 5, error);
    ASSERT_NE(server, nullptr) << error;
    std::atomic<bool> stop{false};
    std::thread thread(echoReversed, std::ref(*server), std::ref(stop));
    char in[3] = {1, 2, 3}, out[3] = {};
    EXPECT_TRUE(callNamedPipeExact(".", "Deep", in, 3, out, 3, 500, 1));
    EXPECT_EQ(out[0], 3);
    stop = true;
    thread.join();
    setenv("OMBRIX_ROOT", root.path().c_str(), 1);
}

namespace ev = ombrix::eventlog;

TEST(EventLog, RegisteredSourcesGetTheirMessageTextOthersANotice) {
    ombrix::test::TempRoot root;
    std::string key = std::string(ev::kApplicationKey) + "\\Known";
    ombrix::registry::createKey(key);
    ombrix::registry::setValue(key, "EventMessageFile",
                               {ombrix::registry::kExpandString, "/bin/x"});
    EXPECT_EQ(ev::report("Known", ev::kError, 0xC0000002u, {"line one\nline\ttwo \\ end"}), 0);
    EXPECT_EQ(ev::report("Known", ev::kInformation, 0x12345u, {"odd id"}), 0);
    EXPECT_EQ(ev::report("Unknown", ev::kWarning, 0x80000001u, {"text"}), 0);

    auto known = ev::read("Known");
    ASSERT_EQ(known.size(), 2u);
    EXPECT_EQ(known[0].type, "Error");
    EXPECT_EQ(known[0].id, 0xC0000002u);
    EXPECT_EQ(known[0].text, "line one\nline\ttwo \\ end");
    EXPECT_NE(known[1].text.find("cannot be found"), std::string::npos);
    auto unknown = ev::read("Unknown");
    ASSERT_EQ(unknown.size(), 1u);
    EXPECT_EQ(unknown[0].type, "Warning");
    EXPECT_NE(unknown[0].text.find("cannot be found. text"), std::string::npos);
    // One event per line in the file.
    std::string file = ombrix::test::readFile(ev::logPath("Known"));
    EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 2);
}

}  // namespace
