#include "service/ip_requests.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "outside/env/oxtenv.h"
#include "platform/registry.h"
#include "support/temp_root.h"

namespace {

constexpr const char* kKey = "HKLM\\SOFTWARE\\Test\\GlobalSettings";

std::string global(const char* key) {
    char buffer[512] = {};
    EnvGetGlobalValue(key, buffer, sizeof buffer);
    return buffer;
}

// A server with sessions whose pipes answer from a script.
class AdminRequests : public ::testing::Test {
  protected:
    void SetUp() override {
        CIPRequests::Hooks hooks;
        hooks.callNetPipe = [this](CMountRequest& r) {
            net.push_back(r.m_request);
            return true;
        };
        hooks.callServicePipe = [this](CMountRequest& r) {
            service.push_back(r.m_request);
            return true;
        };
        hooks.callSessionPipe = [this](uint32_t session, CMountRequest& r) {
            calls.push_back(r);
            if (dead.count(session)) return false;
            if (answer) answer(session, r);
            return true;
        };
        hooks.sessions = [this] { return sessions; };
        hooks.notifySessions = [this](const CMountRequest& r, std::vector<uint32_t> ids) {
            forwarded.emplace_back(r, ids);
        };
        hooks.announcePath = [this](const std::string& path) { announced.push_back(path); };
        requests = std::make_unique<CIPRequests>(std::move(hooks), kKey);
    }

    CIPData ask(uint32_t type, uint32_t data, const char* text = nullptr) {
        CIPData record(type, data);
        if (text) record.SetText(text);
        CIPData reply;
        answered = requests->Handle(record, reply);
        return reply;
    }

    ombrix::test::TempRoot root;
    std::unique_ptr<CIPRequests> requests;
    std::vector<int32_t> net, service;
    std::vector<CMountRequest> calls;
    std::vector<std::pair<CMountRequest, std::vector<uint32_t>>> forwarded;
    std::vector<std::string> announced;
    std::vector<uint32_t> sessions;
    std::set<uint32_t> dead;
    std::function<void(uint32_t, CMountRequest&)> answer;
    bool answered = false;
};

TEST_F(AdminRequests, PeerNoticesBecomeNetworkPipeRequestsWithoutReply) {
    for (uint32_t type : {1u, 2u, 3u, 4u, 6u}) {
        ask(type, 0);
        EXPECT_FALSE(answered) << type;
    }
    EXPECT_EQ(net, (std::vector<int32_t>{36, 35, 37, 39, 38}));
    for (uint32_t type : {0u, 5u, 7u, 18u, 10001u}) {
        ask(type, 0);
        EXPECT_FALSE(answered) << type;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(AdminRequests, ListLettersDescribesEveryLetter) {
    answer = [](uint32_t session, CMountRequest& r) {
        r.m_sessionId = session;
        char letter = static_cast<char>(r.m_dwData);
        r.m_dwData = letter == 'E' ? 1 : 0;
        r.setText(letter == 'E' ? "/img/a.om4" : "");
    };
    CIPData reply = ask(10, 4);
    ASSERT_TRUE(answered);
    auto texts = reply.Texts();
    ASSERT_EQ(texts.size(), 26u);
    EXPECT_EQ(texts[0], "A|4|0|(A:)");
    EXPECT_EQ(texts[4], "E|4|1|/img/a.om4");
    EXPECT_EQ(calls[4].m_request, 22);
    EXPECT_EQ(calls[4].m_sessionId, 4u);

    dead.insert(5);
    size_t before = calls.size();
    texts = ask(10, 5).Texts();
    ASSERT_EQ(texts.size(), 26u);
    EXPECT_EQ(texts[25], "Z|0|0|(Z:)");
    EXPECT_EQ(calls.size(), before + 1);  // a session that did not answer is asked once
}

TEST_F(AdminRequests, SetDrivesAndStandardDrivesReportSessionFailures) {
    answer = [](uint32_t, CMountRequest& r) {
        if (r.m_request == 29) r.setText("DE");
        if (r.m_dwData == 9) r.m_request = -19;
    };
    // The letters of every session are set through the service itself; the session then
    // takes them as its own.
    CIPData reply = ask(11, 3, "1|EFG");
    EXPECT_TRUE(answered);
    EXPECT_EQ(reply.Type(), 11u);
    EXPECT_EQ(reply.Data(), 0u);
    EXPECT_EQ(service.back(), 53);
    EXPECT_EQ(calls.back().m_request, 23);
    EXPECT_EQ(calls.back().m_dwData, 0u);
    EXPECT_EQ(calls.back().text(), "EFG");
    answer = [](uint32_t, CMountRequest& r) {
        if (r.m_request == 29) r.setText("DE");
        if (r.text() == "X") r.m_request = -19;
    };
    EXPECT_EQ(ask(11, 3, "0|X").Data(), 77u);  // the session refused
    dead.insert(3);
    EXPECT_EQ(ask(11, 3, "0|E").Data(), 77u);  // the session did not answer

    reply = ask(12, 4);
    EXPECT_EQ(reply.Data(), 0u);
    std::string text;
    EXPECT_TRUE(reply.Text(text));
    EXPECT_EQ(text, "DE");
    reply = ask(12, 3);
    EXPECT_EQ(reply.Data(), 77u);
    EXPECT_TRUE(reply.Payload().empty());
}

TEST_F(AdminRequests, ListSessionsNamesUsersDrivesAndImages) {
    EnvSetGlobalValue("Sid_1", "alice");
    EnvSetGlobalValue("Sid_2", "bob");
    EnvSetGlobalValue("Device_1", "/img/one.om4");
    EnvSetGlobalValue("Device_2", "/img/two.om4");
    sessions = {1, 2, 3};
    dead.insert(3);
    answer = [](uint32_t session, CMountRequest& r) { r.setText(session == 2 ? "E|1|F|2|" : ""); };
    CIPData reply = ask(13, 0);
    EXPECT_EQ(reply.Texts(), (std::vector<std::string>{"1|alice", "2|bob|E|/img/one.om4",
                                                       "2|bob|F|/img/two.om4"}));
    sessions.clear();
    EXPECT_TRUE(ask(13, 0).Texts().empty());
}

TEST_F(AdminRequests, InsertWithAndWithoutPasswordAndEject) {
    answer = [](uint32_t, CMountRequest& r) {
        if (r.text() == "/img/locked.om4" && r.password() != "secret") {
            r.m_request = -19;
            r.m_dwData = 8;
        } else {
            r.m_dwData = 0;
        }
    };
    CIPData reply = ask(15, 2, "E:/img/locked.om4|secret");
    EXPECT_EQ(reply.Type(), 15u);
    EXPECT_EQ(reply.Data(), 0u);
    EXPECT_EQ(calls.back().m_request, 1);
    EXPECT_EQ(calls.back().m_dwData, static_cast<uint32_t>('E'));
    EXPECT_EQ(calls.back().text(), "/img/locked.om4");

    reply = ask(15, 2, "E:/img/locked.om4");
    EXPECT_EQ(calls.back().password(), "");
    EXPECT_EQ(reply.Type(), 10015u);
    EXPECT_EQ(reply.Data(), 8u);

    reply = ask(16, 2, "E");
    EXPECT_EQ(reply.Type(), 16u);
    EXPECT_EQ(calls.back().m_request, 2);
    EXPECT_EQ(calls.back().m_dwData, static_cast<uint32_t>('E'));

    dead.insert(2);
    reply = ask(16, 2, "E");
    EXPECT_EQ(reply.Type(), 10016u);
    EXPECT_EQ(reply.Data(), 77u);

    // Payloads that say nothing usable are refused without calling the session.
    size_t before = calls.size();
    EXPECT_EQ(ask(15, 1, "E:").Type(), 10015u);
    EXPECT_EQ(ask(16, 1).Type(), 10016u);
    CIPData unterminated(15, 1);
    unterminated.SetPayload({'E', ':', '/', 'x'});
    CIPData out;
    EXPECT_TRUE(requests->Handle(unterminated, out));
    EXPECT_EQ(out.Type(), 10015u);
    EXPECT_EQ(calls.size(), before);
}

TEST_F(AdminRequests, MessageGoesToEverySession) {
    sessions = {1, 7};
    CIPData reply = ask(14, 0, "Server restarts at noon");
    EXPECT_TRUE(answered);
    EXPECT_EQ(reply.Type(), 14u);
    ASSERT_EQ(forwarded.size(), 1u);
    EXPECT_EQ(forwarded[0].first.m_request, 48);
    EXPECT_EQ(forwarded[0].first.text(), "Server restarts at noon");
    EXPECT_EQ(forwarded[0].second, (std::vector<uint32_t>{1, 7}));
    ask(14, 0, "");
    EXPECT_EQ(forwarded.size(), 1u);
}

TEST_F(AdminRequests, SharedPathMovesToAPoolAndBack) {
    EnvSetGlobalValue("OMXHomePath", "/opt/ombrix/");
    CIPData reply = ask(17, 0, "/pool/shared");
    EXPECT_EQ(reply.Type(), 17u);
    for (const char* key : {"OmxConfigPathNet", "OMXServerPathNet", "OmxTreePathNet",
                            "OmxAdmPathNet", "OMXSecurityPathNet"}) {
        EXPECT_EQ(global(key), "/pool/shared/") << key;
        std::string stored;
        EXPECT_EQ(ombrix::registry::getString(kKey, key, stored), 0);
        EXPECT_EQ(stored, "/pool/shared/");
    }
    EXPECT_EQ(global("OMXTreeFileNet"), "/pool/shared/OMXTree.dat");
    EXPECT_EQ(global("OmxConfigFileNet"), "/pool/shared/OMXimg.dat");
    EXPECT_EQ(announced, (std::vector<std::string>{"/pool/shared/"}));
    EXPECT_EQ(service, (std::vector<int32_t>{50}));

    ask(17, 1);
    EXPECT_EQ(global("OMXServerPathNet"), "/opt/ombrix/system/config/");
    EXPECT_EQ(announced.back(), "/opt/ombrix/system/config/");

    reply = ask(17, 0, "");
    EXPECT_EQ(reply.Type(), 10017u);
    EXPECT_EQ(global("OMXServerPathNet"), "/opt/ombrix/system/config/");
}

}  // namespace
