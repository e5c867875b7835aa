#include "platform/terminal_sessions.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <thread>

#include "platform/object_manager.h"
#include "support/temp_root.h"

namespace {

using namespace std::chrono_literals;

TEST(TerminalSessions, LogOnListAndLogOff) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(ombrix::wts::logOn(12, "bob"), 0);
    ASSERT_EQ(ombrix::wts::logOn(3, "alice"), 0);
    EXPECT_EQ(ombrix::wts::logOn(4, ""), 87);
    EXPECT_EQ(ombrix::wts::logOn(4, "two\nlines"), 87);

    std::vector<ombrix::wts::SessionInfo> sessions;
    ASSERT_EQ(ombrix::wts::enumerateSessions(sessions), 0);
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[0].id, 0u);  // the services' session is always there
    EXPECT_EQ(sessions[0].state, ombrix::wts::kActive);
    EXPECT_EQ(sessions[1].id, 3u);
    EXPECT_EQ(sessions[1].user, "alice");
    EXPECT_EQ(sessions[1].state, ombrix::wts::kActive);
    EXPECT_EQ(sessions[2].id, 12u);

    // Log-off takes the session's drive letters with it.
    ASSERT_EQ(ombrix::objmgr::defineDosDevice(ombrix::objmgr::kRawTargetPath,
                                              "E:", "\\Device\\CdRom1", 12),
              0);
    ASSERT_EQ(ombrix::wts::logOff(12), 0);
    EXPECT_EQ(ombrix::wts::logOff(12), 2);
    std::string target;
    EXPECT_EQ(ombrix::objmgr::queryDosDevice("E:", target, 12), 2);
    ASSERT_EQ(ombrix::wts::enumerateSessions(sessions), 0);
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_EQ(sessions[1].id, 3u);
}

TEST(TerminalSessions, WaitSeesLogOffAndKeepsEventsBetweenWaits) {
    ombrix::test::TempRoot root;
    ombrix::wts::SystemEventWaiter waiter;
    uint32_t flags = 0;
    // The first wait sets up the watch; a flush makes it return at once with no events.
    ASSERT_TRUE(waiter.waitSystemEvent(ombrix::wts::kEventFlush, flags));
    ASSERT_TRUE(waiter.waitSystemEvent(ombrix::wts::kEventLogoff, flags));
    EXPECT_EQ(flags, ombrix::wts::kEventNone);

    // A log-on is not in the mask; the log-off that follows it is, even though it happened
    // before the wait began.
    ASSERT_EQ(ombrix::wts::logOn(5, "carol"), 0);
    ASSERT_EQ(ombrix::wts::logOff(5), 0);
    ASSERT_TRUE(waiter.waitSystemEvent(ombrix::wts::kEventLogoff, flags));
    EXPECT_EQ(flags, ombrix::wts::kEventLogoff);
}

TEST(TerminalSessions, FlushWakesAPendingWaitFromAnotherThread) {
    ombrix::test::TempRoot root;
    ombrix::wts::SystemEventWaiter waiter;
    auto wait = std::async(std::launch::async, [&] {
        uint32_t flags = 1234;
        bool ok = waiter.waitSystemEvent(ombrix::wts::kEventLogoff, flags);
        return ok ? flags : 999u;
    });
    std::this_thread::sleep_for(50ms);
    uint32_t unused = 0;
    ASSERT_TRUE(waiter.waitSystemEvent(ombrix::wts::kEventFlush, unused));
    ASSERT_EQ(wait.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(wait.get(), ombrix::wts::kEventNone);
}

TEST(TerminalSessions, ProcessIdToSessionId) {
    uint32_t session = 77;
    EXPECT_TRUE(ombrix::wts::processIdToSessionId(::getpid(), session));
    EXPECT_FALSE(ombrix::wts::processIdToSessionId(-1, session));
    EXPECT_FALSE(ombrix::wts::processIdToSessionId(0x7FFFFFF0, session));
}

}  // namespace
