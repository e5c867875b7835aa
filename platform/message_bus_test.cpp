#include "platform/message_bus.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/temp_root.h"

using namespace ombrix::platform;

namespace {

TEST(MessageBus, EveryListenerOfTheSessionGetsTheMessage) {
    ombrix::test::TempRoot root;
    BusListener a(4), b(4), other(5);
    ASSERT_TRUE(a.ok() && b.ok() && other.ok());
    EXPECT_EQ(postToSession(4, BusMessage{"MSG_OXTNOTIFY_INSERT", 1234, 'E'}), 2);
    for (BusListener* listener : {&a, &b}) {
        auto message = listener->receive(1000);
        ASSERT_TRUE(message.has_value());
        EXPECT_EQ(message->name, "MSG_OXTNOTIFY_INSERT");
        EXPECT_EQ(message->wParam, 1234u);
        EXPECT_EQ(message->lParam, 'E');
    }
    EXPECT_FALSE(other.receive(50).has_value());
}

TEST(MessageBus, ListenersThatAreGoneAreDropped) {
    ombrix::test::TempRoot root;
    BusListener alive(9);
    { BusListener ended(9); }
    // A socket file left behind by a program that died.
    auto folder = root / "Sessions/9/windows";
    ombrix::test::writeFile(folder / "stale", "");
    EXPECT_EQ(postToSession(9, BusMessage{"X", 0, -1}), 1);
    EXPECT_EQ(alive.receive(1000)->lParam, -1);
}

TEST(MessageBus, MalformedDatagramsAreRejected) {
    EXPECT_FALSE(decodeBusMessage("no terminator").has_value());
    EXPECT_FALSE(decodeBusMessage(std::string("name\0short", 10)).has_value());
    auto round = decodeBusMessage(encodeBusMessage(BusMessage{"N", ~0ull, -7}));
    ASSERT_TRUE(round.has_value());
    EXPECT_EQ(round->wParam, ~0ull);
    EXPECT_EQ(round->lParam, -7);
}

}  // namespace
