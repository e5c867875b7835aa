#include "service/announcement.h"

#include <gtest/gtest.h>

#include <cstring>

#include "outside/env/oxtenv.h"
#include "support/temp_root.h"

namespace {

std::string global(const char* key) {
    char buffer[512] = {};
    EnvGetGlobalValue(key, buffer, sizeof buffer);
    return buffer;
}

TEST(ServerAnnouncement, FieldsSitWhereTheRecordSays) {
    std::string longName(60, 'N');
    ServerAnnouncement record = announce::Make(3, "SRV-A", longName, 7001, "/pool/x/");
    auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    EXPECT_EQ(bytes[4], 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 8), "SRV-A");
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 87)), std::string(49, 'N'));
    EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 137), "/pool/x/");
    EXPECT_EQ(bytes[398] | bytes[399] << 8, 7001);
    // The creation time is a FILETIME of this century.
    uint64_t created = 0;
    std::memcpy(&created, bytes + 44, 8);
    EXPECT_GT(created, 130000000000000000ull);
    EXPECT_EQ(announce::Make(4, "A", "B", -1, "").port, 65535);

    // Fields filled to the brim stay inside their bounds when read.
    std::memset(record.serverName, 'x', sizeof record.serverName);
    EXPECT_EQ(announce::Field(record.serverName, sizeof record.serverName).size(), 50u);
}

TEST(CServerMap, PublishesEveryServerInKeyOrder) {
    ombrix::test::TempRoot root;
    CServerMap map;
    map.Store(announce::Make(3, "B", "127.0.0.2", 7002, "/pool/Shared/"));
    map.Store(announce::Make(4, "A", "127.0.0.1", 65535, ""));
    EXPECT_EQ(global("KSCount"), "2");
    EXPECT_EQ(global("KS_1"), "127.0.0.1|65535|");
    EXPECT_EQ(global("KS_2"), "127.0.0.2|7002|/POOL/SHARED/");
    // A server heard again replaces its entry.
    map.Store(announce::Make(4, "B", "127.0.0.2", 7005, "/other/"));
    EXPECT_EQ(global("KSCount"), "2");
    EXPECT_EQ(global("KS_2"), "127.0.0.2|7005|/OTHER/");
}

}  // namespace
