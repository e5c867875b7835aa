#include "service/request_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "outside/env/oxtenv.h"
#include "support/temp_root.h"

namespace {

std::string global(const char* key) {
    char buffer[512] = {};
    EnvGetGlobalValue(key, buffer, sizeof buffer);
    return buffer;
}

CMountRequest request(int32_t code, uint32_t session = 0xFFFFFFFFu, const char* text = "") {
    CMountRequest r;
    r.m_request = code;
    r.m_sessionId = session;
    r.setText(text);
    return r;
}

std::unique_ptr<CDriveInfo> unit(int32_t number) {
    auto u = std::make_unique<CDriveInfo>();
    u->number = number;
    u->deviceName = "\\Device\\CdRom" + std::to_string(number);
    return u;
}

TEST(CMountRequest, DefaultsAndCopyRules) {
    CMountRequest fresh;
    EXPECT_EQ(fresh.m_request, 0);
    EXPECT_EQ(fresh.m_sessionId, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.m_logonIdLow, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.m_logonIdHigh, 0xFFFFFFFFu);
    EXPECT_EQ(fresh.m_dwData, 0u);
    EXPECT_TRUE(fresh.text().empty());

    // A received record may carry unterminated fields; reading and copying stay inside them.
    unsigned char raw[304];
    std::memset(raw, 'A', sizeof raw);
    CMountRequest received;
    received.fromBytes(raw);
    EXPECT_EQ(received.text().size(), 260u);
    EXPECT_EQ(received.password().size(), 16u);
    CMountRequest copy(received);
    EXPECT_EQ(copy.text(), std::string(259, 'A'));
    EXPECT_EQ(copy.password(), std::string(15, 'A'));
    EXPECT_EQ(copy.m_header, 0u);  // the first two words are not copied
    EXPECT_EQ(copy.m_request, received.m_request);
}

class Requests : public ::testing::Test {
  protected:
    void SetUp() override {
        logons = std::make_unique<SafeLogonMap>();
        ServiceRequests::Hooks hooks;
        hooks.event = [this](uint16_t type, int id) { events.emplace_back(type, id); };
        hooks.driverInsert = [this](const CDriveInfo&, std::string_view path, std::string_view,
                                    const ServiceRequests::Caller* caller) {
            driverCalls.emplace_back(path);
            insertedFor.push_back(caller != nullptr ? caller->uid : static_cast<uid_t>(-1));
            return driverStatus;
        };
        hooks.setReaders = [this](const CDriveInfo& unit, const std::vector<uid_t>& readers) {
            readersOf[unit.number] = readers;
        };
        hooks.sessionAccount =
            [this](uint32_t session) -> std::optional<std::pair<uid_t, std::string>> {
            auto it = accounts.find(session);
            if (it == accounts.end()) return std::nullopt;
            return std::make_pair(it->second, "user" + std::to_string(it->second));
        };
        hooks.isAdministrator = [this](uid_t uid) { return uid == administrator; };
        hooks.hasRight = [this](uid_t uid, int right) {
            return right == 2 ? uid != withoutRights : uid == administrator;
        };
        hooks.canRead = [this](const ServiceRequests::Caller& caller, std::string_view) {
            return caller.uid == cannotRead ? 5u : 0u;
        };
        hooks.callNetPipe = [this](CMountRequest& r) {
            if (!netConfirms) r.m_request = 0;
            return true;
        };
        hooks.notifySessions = [this](const CMountRequest& r, std::vector<uint32_t> ids) {
            notified.emplace_back(r.m_request, ids);
        };
        hooks.peerRequest = [this](const CMountRequest& r) {
            peers.push_back(r.m_request);
            if (whilePeer) whilePeer();
        };
        table = std::make_unique<ServiceRequests>(*logons, hooks, [this] { return now; });
    }

    // The reply as raw bytes: the copy constructor of the record would cut list texts short.
    CMountRequest run(const CMountRequest& sent) {
        CMountRequest reply;
        reply.fromBytes(sent.bytes());
        table->handle(reply);
        return reply;
    }
    // The same sent by account `uid`; request 9999 when it was not answered.
    CMountRequest runAs(uid_t uid, const CMountRequest& sent) {
        CMountRequest reply;
        reply.fromBytes(sent.bytes());
        if (table->handle(reply, ServiceRequests::Caller{1, uid, uid}) == PipeReply::kNoAnswer) {
            reply.m_request = 9999;
        }
        return reply;
    }
    void logOn(uint32_t session) { ASSERT_EQ(run(request(17, session, "user")).m_request, 17); }

    ombrix::test::TempRoot root;
    std::unique_ptr<SafeLogonMap> logons;
    std::unique_ptr<ServiceRequests> table;
    std::vector<std::pair<uint16_t, int>> events;
    std::vector<std::string> driverCalls;
    std::vector<std::pair<int32_t, std::vector<uint32_t>>> notified;
    std::vector<int32_t> peers;
    std::function<void()> whilePeer;  // runs inside the peer hook
    uint32_t driverStatus = 0;
    bool netConfirms = true;
    // Accounts of the terminal sessions, and who is what.
    std::map<uint32_t, uid_t> accounts;
    std::vector<uid_t> insertedFor;
    std::map<int32_t, std::vector<uid_t>> readersOf;
    std::chrono::steady_clock::time_point now{};
    uid_t administrator = 900;
    uid_t withoutRights = 901;
    uid_t cannotRead = 902;
};

TEST_F(Requests, LogOnLogOffAndTheirPublishedValues) {
    EXPECT_EQ(global("OMXLogons"), "");
    CMountRequest on = run(request(17, 3, "alice"));
    EXPECT_EQ(on.m_request, 17);
    EXPECT_EQ(on.text(), "alice");
    EXPECT_EQ(global("Sid_3"), "alice");
    EXPECT_EQ(run(request(17, 5, "bob")).m_request, 17);
    EXPECT_EQ(global("OMXLogons"), "3|5|");
    // A second log-on is refused and leaves the insert count alone.
    logons->set(3, 2);
    EXPECT_EQ(run(request(17, 3, "mallory")).m_request, -13);
    EXPECT_EQ(logons->lookup(3), 2u);
    EXPECT_EQ(global("Sid_3"), "alice");

    EXPECT_EQ(run(request(18, 3)).m_request, 18);
    EXPECT_EQ(global("Sid_3"), "");
    EXPECT_EQ(global("OMXLogons"), "5|");
    EXPECT_EQ(run(request(18, 99)).m_request, 18);  // absent: nothing happens
    EXPECT_EQ(global("OMXLogons"), "5|");
}

TEST_F(Requests, ListsStartAtThePositionGiven) {
    // Ids in bucket order: (k >> 4) mod 17 puts 16 after 1 and 2, and 272 (bucket 0) before 16.
    for (uint32_t id : {1u, 16u, 2u, 272u})
        logOn(id);
    EXPECT_EQ(global("OMXLogons"), "1|2|272|16|");
    CMountRequest all = run(request(19, 0));
    ASSERT_EQ(all.m_dwData, 4u);
    EXPECT_EQ(all.listEntry(0), 1u);
    EXPECT_EQ(all.listEntry(3), 16u);
    CMountRequest tail = run(request(19, 2));
    ASSERT_EQ(tail.m_dwData, 2u);
    EXPECT_EQ(tail.listEntry(0), 272u);
    EXPECT_EQ(run(request(19, 4)).m_dwData, 0u);

    // At most 65 entries fit the text.
    for (uint32_t id = 1000; id < 1100; ++id)
        logOn(id);
    EXPECT_EQ(run(request(19, 0)).m_dwData, 65u);
    EXPECT_EQ(run(request(19, 100)).m_dwData, 4u);
}

TEST_F(Requests, UnknownCodesAreAnsweredZeroWithAllElseUnchanged) {
    CMountRequest sent = request(5, 7, "text");
    sent.m_header = 0x11223344;
    sent.m_dwData = 9;
    CMountRequest reply = run(sent);
    sent.m_request = 0;
    EXPECT_EQ(std::memcmp(reply.bytes(), sent.bytes(), sizeof sent), 0);
    EXPECT_TRUE(run(request(7)).m_request == 7);
    CMountRequest end = request(-1);
    EXPECT_FALSE(table->handle(end));
    EXPECT_EQ(end.m_request, -1);
}

TEST_F(Requests, NotificationsGoToTheLoggedOnSessionsAndPeerRequestsAreKept) {
    logOn(4);
    logOn(9);
    for (int32_t code : {40, 45, 50})
        EXPECT_EQ(run(request(code)).m_request, code);
    EXPECT_EQ(run(request(46)).m_request, 46);
    EXPECT_EQ(run(request(47)).m_request, 0);
    ASSERT_EQ(notified.size(), 3u);
    EXPECT_EQ(notified[0].second, (std::vector<uint32_t>{4, 9}));
    EXPECT_EQ(peers, (std::vector<int32_t>{46}));
}

// A peer request that takes long (a slow peer or network service) holds up no insert.
TEST_F(Requests, ASlowPeerRequestHoldsUpNoInsert) {
    for (int32_t n : {0, 1})
        table->addUnit(unit(n));
    logOn(3);
    std::promise<void> entered, release;
    std::shared_future<void> released = release.get_future().share();
    whilePeer = [&] {
        entered.set_value();
        released.wait();
    };
    std::thread peer([&] { run(request(38)); });
    entered.get_future().wait();
    auto insert = std::async(std::launch::async,
                             [&] { return run(request(1, 3, "/img/Disc.om4")).m_request; });
    const bool answered = insert.wait_for(std::chrono::seconds(10)) == std::future_status::ready;
    release.set_value();
    peer.join();
    ASSERT_TRUE(answered) << "the insert waited for the peer request";
    EXPECT_EQ(insert.get(), 1);
}

TEST_F(Requests, WithoutUnitsInsertsFindNoSlotAndEjectsNoUnit) {
    EXPECT_EQ(run(request(1, 3, "/img/a.om4")).m_request, -16);  // not logged on
    logOn(3);
    EXPECT_EQ(run(request(1, 3, "/img/a.om4")).m_request, -4);
    EXPECT_EQ(run(request(2, 3)).m_request, -9);
    EXPECT_EQ(run(request(3)).m_request, -6);
    EXPECT_EQ(run(request(8, 0)).m_request, -9);
    EXPECT_EQ(run(request(7)).m_dwData, 0u);
    EXPECT_EQ(events, (std::vector<std::pair<uint16_t, int>>{{2, 32}, {1, 33}}));
}

TEST_F(Requests, SessionsShareAUnitAndTakeItsUsersListWithThem) {
    for (int32_t n : {0, 1, 2})
        table->addUnit(unit(n));
    logOn(3);
    logOn(5);
    CMountRequest first = run(request(1, 3, "/img/Disc.om4"));
    EXPECT_EQ(first.m_request, 1);
    EXPECT_EQ(first.text(), "\\Device\\CdRom1");  // unit 0 is the empty device
    EXPECT_EQ(global("Device_1"), "/img/Disc.om4");
    CMountRequest second = run(request(1, 5, "/IMG/disc.OM4"));
    EXPECT_EQ(second.text(), "\\Device\\CdRom1");
    EXPECT_EQ(run(request(1, 5, "/img/disc.om4")).text(), "\\Device\\CdRom1");
    EXPECT_EQ(logons->lookup(5), 2u);

    CMountRequest query = request(8, 0);
    query.m_dwData = 1;
    CMountRequest users = run(query);
    ASSERT_EQ(users.m_dwData, 3u);
    EXPECT_EQ(users.listEntry(2), 5u);
    CMountRequest beyond = request(8, 3);
    beyond.m_dwData = 1;
    EXPECT_EQ(run(beyond).m_dwData, 0u);

    // The password check of the network access service may refuse a shared insert.
    netConfirms = false;
    CMountRequest refused = run(request(1, 3, "/img/disc.om4"));
    EXPECT_EQ(refused.m_request, -19);
    EXPECT_EQ(refused.m_dwData, 8u);

    // Ejects: unit 1 empties only when its last user left.
    for (uint32_t session : {3u, 5u, 5u}) {
        CMountRequest eject = request(2, session);
        eject.m_dwData = 1;
        eject = run(eject);
        EXPECT_EQ(eject.text(), "\\Device\\CdRom0");
    }
    EXPECT_EQ(driverCalls, (std::vector<std::string>{"/img/Disc.om4", ""}));
    EXPECT_EQ(global("Device_1"), "");
    EXPECT_EQ(logons->lookup(5), 0u);
    EXPECT_EQ(logons->lookup(3), 0u);
}

TEST_F(Requests, DriverRefusalLeavesTheUnitFreeAndTheEmptyDeviceIsNeverGiven) {
    table->addUnit(unit(0));
    table->addUnit(unit(1));
    logOn(3);
    driverStatus = 0xC0000185u;
    CMountRequest refused = run(request(1, 3, "/img/a.om4"));
    EXPECT_EQ(refused.m_request, -19);
    EXPECT_EQ(refused.m_dwData, 0xC0000185u);
    EXPECT_EQ(logons->lookup(3), 0u);
    driverStatus = 0;
    EXPECT_EQ(run(request(1, 3, "/img/a.om4")).m_request, 1);
    EXPECT_EQ(run(request(1, 3, "/img/b.om4")).m_request, -4);  // only the empty device is left
}

// Sessions 3 and 5 belong to accounts 1000 and 1001: each acts for its own session only.
TEST_F(Requests, AccountsActOnlyForTheirOwnSessions) {
    table->addUnit(unit(0));
    table->addUnit(unit(1));
    accounts = {{3, 1000}, {5, 1001}};
    logOn(3);
    logOn(5);
    ASSERT_EQ(runAs(1000, request(1, 3, "/img/a.om4")).m_request, 1);
    EXPECT_EQ(insertedFor.back(), 1000u);  // the driver opens the image as the account

    // 1001 inserts, ejects and logs off for session 3: refused, nothing changes.
    CMountRequest forged = runAs(1001, request(1, 3, "/img/b.om4"));
    EXPECT_EQ(forged.m_request, -19);
    EXPECT_EQ(forged.m_dwData, 5u);
    CMountRequest eject = request(2, 3, "E:");
    eject.m_dwData = 1;
    EXPECT_EQ(runAs(1001, eject).m_request, -19);
    EXPECT_EQ(runAs(1001, request(18, 3)).m_request, -19);
    EXPECT_EQ(runAs(1001, request(17, 77, "me")).m_request, -19);  // nobody's session
    EXPECT_EQ(logons->lookup(3), 1u);
    // The services' own requests are root's: not even answered.
    for (int32_t code : {-1, 6, 31, 40, 49})
        EXPECT_EQ(runAs(1001, request(code)).m_request, 9999) << code;
    EXPECT_TRUE(notified.empty());
    EXPECT_TRUE(peers.empty());
    // Which image unit 1 holds is told to its users and administrators only.
    CMountRequest info = request(4);
    info.m_dwData = 1;
    EXPECT_EQ(runAs(1001, info).text(), "");
    EXPECT_EQ(runAs(1000, info).text(), "/img/a.om4");
    EXPECT_EQ(runAs(administrator, info).text(), "/img/a.om4");
    // An administrator acts for any session.
    EXPECT_EQ(runAs(administrator, eject).m_request, 2);
    EXPECT_EQ(logons->lookup(3), 0u);
}

TEST_F(Requests, RightsAndReadersFollowTheSessions) {
    table->addUnit(unit(0));
    table->addUnit(unit(1));
    accounts = {{3, 1000}, {5, 1001}, {6, withoutRights}, {7, cannotRead}};
    for (uint32_t session : {3u, 5u, 6u, 7u})
        logOn(session);
    CMountRequest refused = runAs(withoutRights, request(1, 6, "/img/a.om4"));
    EXPECT_EQ(refused.m_request, -19);
    EXPECT_EQ(refused.m_dwData, 600u);
    ASSERT_EQ(runAs(1000, request(1, 3, "/img/a.om4")).m_request, 1);
    // Sharing shows the disc: only to an account that can read the image itself.
    refused = runAs(cannotRead, request(1, 7, "/img/A.om4"));
    EXPECT_EQ(refused.m_request, -19);
    EXPECT_EQ(refused.m_dwData, 5u);
    ASSERT_EQ(runAs(1001, request(1, 5, "/img/A.om4")).m_request, 1);
    EXPECT_EQ(readersOf[1], (std::vector<uid_t>{1000, 1001}));
    CMountRequest eject = request(2, 3, "E:");
    eject.m_dwData = 1;
    ASSERT_EQ(runAs(1000, eject).m_request, 2);
    EXPECT_EQ(readersOf[1], (std::vector<uid_t>{1001}));
    // An empty path, or one that does not fit the record, names no image.
    EXPECT_EQ(runAs(1001, request(1, 5, "")).m_dwData, 18u);
    CMountRequest overlong = request(1, 5);
    std::memset(overlong.m_text, 'a', sizeof overlong.m_text);
    EXPECT_EQ(runAs(1001, overlong).m_dwData, 206u);
}

TEST_F(Requests, WrongPasswordsPauseTheGuessing) {
    table->addUnit(unit(0));
    table->addUnit(unit(1));
    table->addUnit(unit(2));
    accounts = {{3, 1000}};
    logOn(3);
    driverStatus = 8;  // the driver finds the password wrong
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(runAs(1000, request(1, 3, "/img/locked.om4")).m_dwData, 8u);
    // Paused: refused without asking the driver, until the pause is over.
    const size_t asked = driverCalls.size();
    EXPECT_EQ(runAs(1000, request(1, 3, "/IMG/LOCKED.om4")).m_dwData, 8u);
    EXPECT_EQ(driverCalls.size(), asked);
    now += std::chrono::seconds(1);
    driverStatus = 0;
    EXPECT_EQ(runAs(1000, request(1, 3, "/img/locked.om4")).m_request, 1);
    EXPECT_EQ(driverCalls.size(), asked + 1);
    // Another image is not paused by the first one's guesses.
    driverStatus = 8;
    EXPECT_EQ(runAs(1000, request(1, 3, "/img/other.om4")).m_dwData, 8u);
    EXPECT_EQ(driverCalls.size(), asked + 2);
}

}  // namespace
