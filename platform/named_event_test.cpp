#include "platform/named_event.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_root.h"

using ombrix::platform::NamedEvent;

namespace {

TEST(NamedEvent, OpenFindsOnlyEventsSomebodyHolds) {
    ombrix::test::TempRoot root;
    int error = 0;
    EXPECT_EQ(NamedEvent::open("Global\\E", error), nullptr);
    EXPECT_EQ(error, 2);
    {
        auto created = NamedEvent::create("Global\\E", false, false, error);
        ASSERT_NE(created, nullptr);
        auto opened = NamedEvent::open("Global\\E", error);
        ASSERT_NE(opened, nullptr);
        EXPECT_TRUE(opened->set());
        EXPECT_TRUE(created->isSet());
    }
    EXPECT_EQ(NamedEvent::open("Global\\E", error), nullptr);  // all holders gone
}

TEST(NamedEvent, AutoResetIsConsumedByOneWait) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto automatic = NamedEvent::create("Global\\A", false, true, error);
    auto manual = NamedEvent::create("Global\\M", true, true, error);
    EXPECT_TRUE(automatic->wait(0));
    EXPECT_FALSE(automatic->wait(20));
    EXPECT_TRUE(manual->wait(0));
    EXPECT_TRUE(manual->wait(0));
    manual->reset();
    EXPECT_FALSE(manual->wait(20));
}

TEST(NamedEvent, AnotherProcessSetsIt) {
    ombrix::test::TempRoot root;
    int error = 0;
    auto event = NamedEvent::create("Global\\X", false, false, error);
    pid_t child = fork();
    if (child == 0) {
        int e = 0;
        auto opened = NamedEvent::open("Global\\X", e);
        usleep(50 * 1000);
        _exit(opened && opened->set() ? 0 : 1);
    }
    EXPECT_TRUE(event->wait(3000));
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
