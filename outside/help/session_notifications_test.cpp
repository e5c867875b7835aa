#include "session_notifications.h"

#include <gtest/gtest.h>

namespace {

using ombrix::helper::messagesForNotification;

CMountRequest notification(int32_t code) {
    CMountRequest record;
    record.m_request = code;
    return record;
}

TEST(SessionNotifications, EachChangeBecomesTheMessageNamedForIt) {
    const std::pair<int32_t, const char*> expected[] = {
        {40, "MSG_OXTIMGFILE_CHANGED"},   {41, "MSG_OXTNOTIFY_IMAGEREMOVED"},
        {42, "MSG_OXTNOTIFY_IMAGEADDED"}, {43, "WM_OXTNOTIFY_INDEXCHANGED"},
        {44, "MSG_OXTTREE_CHANGED"},      {45, "MSG_OXTNOTIFY_DRIVESCHANGED"},
        {50, "MSG_OXTCFGPATH_CHANGED"},
    };
    for (auto [code, name] : expected) {
        auto messages = messagesForNotification(notification(code), 77);
        ASSERT_EQ(messages.size(), 1u) << code;
        EXPECT_EQ(messages[0].name, name);
        EXPECT_EQ(messages[0].wParam, 77u);
        EXPECT_EQ(messages[0].lParam, 0);
    }
    EXPECT_TRUE(messagesForNotification(notification(5), 1).empty());
    EXPECT_TRUE(messagesForNotification(notification(48), 1).empty());
}

TEST(SessionNotifications, IndexesInTheTextGiveOneMessageEach) {
    CMountRequest added = notification(42);
    added.setText("5001|5002|12|");
    auto messages = messagesForNotification(added, 1);
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0].lParam, 5001);
    EXPECT_EQ(messages[2].lParam, 12);

    // Junk between the separators is skipped; nothing usable leaves the one general message.
    CMountRequest junk = notification(41);
    junk.setText("x|-4|99999999999999999999|7");
    messages = messagesForNotification(junk, 1);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].lParam, 7);
    junk.setText("||");
    EXPECT_EQ(messagesForNotification(junk, 1).size(), 1u);
    EXPECT_EQ(messagesForNotification(junk, 1)[0].lParam, 0);

    CMountRequest tree = notification(44);
    tree.setText("3|");  // only the catalogue changes carry indexes
    EXPECT_EQ(messagesForNotification(tree, 1)[0].lParam, 0);
}

}  // namespace
