#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <thread>

#include "admin/admin_channels.h"
#include "admin/admin_model.h"
#include "admin/server_pools.h"
#include "admin/server_worker.h"
#include "common/inifile.h"
#include "support/temp_root.h"

namespace {

using namespace ombrix::admin;
namespace fs = std::filesystem;

TEST(AdminModel, ServerListSessionsAndDriveTexts) {
    std::map<std::string, std::string> globals{{"OMXServer", "4"},
                                               {"Server_1", "SRVA|60|2001"},
                                               {"Server_2", "srvb|0|2002"},
                                               {"Server_3", "broken|x|1"},
                                               {"Server_4", "SRVC|0|70000"}};
    auto global = [&](const std::string& key) { return globals[key]; };
    auto address = [](const std::string& name) {
        return name == "srvb" ? std::string("127.0.0.2") : std::string("127.0.0.9");
    };
    const auto servers = readServerList(global, "srva", {"127.0.0.1"}, address);
    ASSERT_EQ(servers.size(), 2u) << "malformed entries and ports are passed over";
    EXPECT_EQ(servers[0], (ServerEntry{"SRVA", 60, 2001, true}));
    EXPECT_FALSE(servers[1].local);
    EXPECT_TRUE(readServerList(global, "x", {"127.0.0.2"}, address)[1].local)
        << "an address of this computer makes it the local server";

    const auto sessions =
        sessionsFromList({"0|", "3|alice|E|/srv/a.om4", "3|alice|F|", "7|bob", "junk", "x|y|E|z"});
    ASSERT_EQ(sessions.size(), 3u);
    EXPECT_EQ(sessions[1].drives, (std::vector<DriveNode>{{'E', "/srv/a.om4"}, {'F', ""}}));
    EXPECT_EQ(sessionText(sessions[0]), " - Console: 0");
    EXPECT_EQ(sessionText(sessions[1]), "alice - SessionID: 3");
    EXPECT_EQ(sessionIdOfText("alice - SessionID: 3"), 3u);
    EXPECT_EQ(sessionIdOfText("alice - SessionID: x"), std::nullopt);
    EXPECT_EQ(driveText(sessions[1].drives[0]), "E: - /srv/a.om4");
    EXPECT_EQ(driveText(sessions[1].drives[1]), "F:");

    const auto row = parseDriveLetterRow("E|3|1|/srv/a.om4");
    ASSERT_TRUE(row.has_value());
    EXPECT_TRUE(row->virtualDrive);
    EXPECT_EQ(parseDriveLetterRow("G|0|0|(G:)")->image, "");
    EXPECT_FALSE(parseDriveLetterRow("EE|0|0|x").has_value());
    EXPECT_EQ(chosenLetters({*row, {'G', false, ""}, {'H', true, ""}}), "EH");
}

// A session pipe and a server answering from tables.
struct FakePorts {
    int pipeCalls = 0;
    bool pipeAnswers = true;
    int32_t pipeReply = 0;  // 0: the request's own code
    std::vector<CIPData> sent;
    bool serverAnswers = true;
    CIPData serverReply;

    AdminChannels::Ports ports() {
        AdminChannels::Ports p;
        p.ownSession = [] { return 5u; };
        p.callSessionPipe = [this](uint32_t, CMountRequest& r) {
            ++pipeCalls;
            if (!pipeAnswers) return false;
            if (pipeReply != 0) r.m_request = pipeReply;
            if (r.m_request == CMountRequest::kListDrives) r.setText("E|2|F|3|");
            return true;
        };
        p.sendRecord = [this](const ServerEntry&, const CIPData& request, CIPData& reply) {
            sent.push_back(request);
            reply = serverReply;
            return serverAnswers;
        };
        p.insertOwn = [](char, const std::string&, const std::string&) { return 0; };
        p.errorText = [](int code) { return "text of " + std::to_string(code); };
        p.localSessions = [] {
            return std::vector<std::pair<uint32_t, std::string>>{{3, "alice"}};
        };
        p.global = [](const std::string& key) { return key == "Device_2" ? "/srv/a.om4" : ""; };
        return p;
    }
};

TEST(AdminChannels, EachSessionIsReachedItsOwnWay) {
    FakePorts fake;
    AdminChannels channels(fake.ports());
    const ServerEntry local{"SRVA", 0, 1, true};
    const ServerEntry remote{"SRVB", 0, 2, false};
    std::string reason;

    // This server's sessions come from their pipes; the units' images from the globals.
    const auto sessions = channels.sessions(local);
    ASSERT_TRUE(sessions.has_value());
    EXPECT_EQ((*sessions)[0].drives, (std::vector<DriveNode>{{'E', "/srv/a.om4"}, {'F', ""}}));

    // Another local session through its pipe: three attempts, then -7.
    fake.pipeAnswers = false;
    fake.pipeCalls = 0;
    EXPECT_EQ(channels.eject({local, 3}, 'E', reason), CMountRequest::kSessionPipeFailed);
    EXPECT_EQ(fake.pipeCalls, 3);
    // A reply with another code is the session's refusal, not asked again.
    fake.pipeAnswers = true;
    fake.pipeReply = CMountRequest::kRefused;
    fake.pipeCalls = 0;
    EXPECT_NE(channels.insert({local, 3}, 'E', "/srv/a.om4", "", reason), 0);
    EXPECT_EQ(fake.pipeCalls, 1);
    fake.pipeReply = 0;
    // The own session through the client library, no pipe.
    fake.pipeCalls = 0;
    EXPECT_EQ(channels.insert({local, 5}, 'E', "/srv/a.om4", "", reason), 0);
    EXPECT_EQ(fake.pipeCalls, 0);

    // A remote session by TCP: letter, one more character, the path and "|" password.
    fake.serverReply = CIPData(15, 0);
    EXPECT_EQ(channels.insert({remote, 7}, 'F', "/srv/a.om4", "pw", reason), 0);
    std::string payload;
    ASSERT_TRUE(fake.sent.back().Text(payload));
    EXPECT_EQ(payload, "F:/srv/a.om4|pw");
    EXPECT_EQ(fake.sent.back().Data(), 7u);
    fake.serverReply = CIPData(10015, 600);
    EXPECT_EQ(channels.insert({remote, 7}, 'F', "/srv/a.om4", "", reason), 600);
    EXPECT_EQ(reason, "text of 600");
    fake.serverAnswers = false;
    EXPECT_NE(channels.eject({remote, 7}, 'F', reason), 0);
    EXPECT_EQ(channels.sessions(remote), std::nullopt);

    // Drive letters of a remote session: 26 rows or nothing.
    fake.serverAnswers = true;
    fake.serverReply = CIPData(10, 0);
    std::vector<std::string> rows;
    for (char c = 'A'; c <= 'Z'; ++c)
        rows.push_back(std::string(1, c) + "|7|" + (c == 'E' ? "1" : "0") + "|(" + c + ":)");
    fake.serverReply.SetTexts(rows);
    const auto letters = channels.driveLetters({remote, 7});
    ASSERT_TRUE(letters.has_value());
    EXPECT_EQ(chosenLetters(*letters), "E");
    fake.serverReply.SetTexts({"A|7|0|(A:)"});
    EXPECT_EQ(channels.driveLetters({remote, 7}), std::nullopt);
    fake.serverReply = CIPData(11, 0);
    EXPECT_EQ(channels.setDriveLetters({remote, 7}, "EF", true), 0);
    ASSERT_TRUE(fake.sent.back().Text(payload));
    EXPECT_EQ(payload, "1|EF");
}

TEST(ServerWorker, JobsRunInOrderOffTheCallersThreadAndStopDropsTheRest) {
    ServerWorker worker("SRVB");
    std::vector<int> done;
    std::atomic<bool> release{false};
    const auto caller = std::this_thread::get_id();
    std::thread::id ran;
    worker.post([&] {
        ran = std::this_thread::get_id();
        while (!release)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        done.push_back(1);
    });
    worker.post([&] { done.push_back(2); });
    EXPECT_TRUE(worker.busy());
    release = true;
    for (int i = 0; i < 500 && worker.busy(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_FALSE(worker.busy());
    EXPECT_EQ(done, (std::vector<int>{1, 2}));
    EXPECT_NE(ran, caller);
    worker.stop();
    EXPECT_FALSE(worker.post([] {}));
}

struct PoolScene {
    ombrix::test::TempRoot root;
    std::string folder = (root / "pools/one").string();
    std::map<std::string, bool> answers{{"SRVA", true}, {"SRVB", true}};
    std::vector<std::string> calls;
    std::vector<std::string> told;
    bool sayYes = false;
    std::optional<std::string> currentPool = "";

    PoolScene() { fs::create_directories(folder); }
    PoolSetter setter() {
        PoolSetter::Ports p;
        p.setSharedPath = [this](const std::string& server, int, const std::string& where, bool own,
                                 std::string& reason) {
            calls.push_back(server + (own ? " own" : " " + where));
            if (answers[server]) return 0;
            reason = "no answer";
            return -1;
        };
        p.poolOf = [this](const std::string&) { return currentPool; };
        p.tell = [this](const std::string& text) { told.push_back(text); };
        p.ask = [this](const std::string&) { return sayYes; };
        return PoolSetter(p);
    }
    std::string file() { return ombrix::test::readFile(fs::path(folder) / kPoolFile); }
};

TEST(ServerPools, SetAddsAndRemovesServersAndUndoesWhatAServerRefused) {
    PoolScene s;
    EXPECT_EQ(poolFolderProblem(s.folder, false),
              "Cannot find pool definition file in path '" + s.folder + "'");
    EXPECT_EQ(poolFolderProblem("relative/path", true),
              "Pool definition files have to have a path in UNC naming conventions");
    EXPECT_EQ(poolFolderProblem(s.folder + "/../one", true),
              "Pool definition files have to have a path in UNC naming conventions");
    EXPECT_EQ(poolFolderProblem(s.folder + "/missing", true),
              s.folder + "/missing is not a valid directory");
    ASSERT_EQ(poolFolderProblem(s.folder, true), std::nullopt);
    ASSERT_TRUE(setPoolName(s.folder, "Library"));
    EXPECT_EQ(poolFolderProblem(s.folder, true),
              "A pool definition file already exists in path '" + s.folder + "'");
    EXPECT_EQ(poolName(s.folder), "Library");

    const std::vector<ServerEntry> known{{"srva", 0, 2001, true}, {"SRVB", 0, 2002, false}};
    std::string error;
    auto rows = readPool(s.folder, known, error);
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 2u);
    EXPECT_EQ((*rows)[0], (PoolRow{"SRVA", 2001, false, false}));

    // Both join; SRVB does not answer, so its section goes again.
    for (auto& row : *rows)
        row.checked = true;
    s.answers["SRVB"] = false;
    PoolSetter setter = s.setter();
    EXPECT_FALSE(setter.apply(s.folder, *rows));
    EXPECT_EQ(s.calls, (std::vector<std::string>{"SRVA " + s.folder, "SRVB " + s.folder}));
    EXPECT_NE(s.file().find("[SRVA]"), std::string::npos);
    EXPECT_EQ(s.file().find("[SRVB]"), std::string::npos);
    EXPECT_EQ(s.told.back(), "Error while communicating with server 'SRVB'\nReason: 'no answer'");
    EXPECT_FALSE((*rows)[1].checked);

    // Leaving: SRVA does not answer and the user keeps it in the file.
    std::string message;
    EXPECT_FALSE(deletePool(s.folder, message));
    EXPECT_EQ(message,
              "The pool definition file is not empty.\nYou can delete only empty pool definition "
              "files.");
    s.answers["SRVA"] = false;
    (*rows)[0].checked = false;
    EXPECT_FALSE(setter.apply(s.folder, *rows));
    EXPECT_NE(s.file().find("[SRVA]"), std::string::npos);
    s.sayYes = true;
    (*rows)[0].checked = false;
    EXPECT_TRUE(setter.apply(s.folder, *rows));
    EXPECT_EQ(s.file().find("[SRVA]"), std::string::npos);
    EXPECT_TRUE(deletePool(s.folder, message)) << message;
    EXPECT_FALSE(fs::exists(fs::path(s.folder) / kPoolFile));
}

TEST(ServerPools, AServerMovesFromItsOldPool) {
    PoolScene s;
    const std::string old = (s.root / "pools/old").string();
    fs::create_directories(old);
    ASSERT_TRUE(setPoolName(old, "Old"));
    {
        CIniFile file((fs::path(old) / kPoolFile).string());
        ASSERT_EQ(file.OpenAndLoad(true, 1), 0);
        ASSERT_TRUE(file.SetValue("SRVB", "OmxServerPort", "2002"));
        ASSERT_EQ(file.Save(), 0);
    }
    ASSERT_TRUE(setPoolName(s.folder, "New"));
    s.currentPool = old;
    std::vector<PoolRow> rows{{"SRVB", 2002, true, false}};
    PoolSetter setter = s.setter();
    EXPECT_TRUE(setter.apply(s.folder, rows));
    EXPECT_EQ(ombrix::test::readFile(fs::path(old) / kPoolFile).find("[SRVB]"), std::string::npos);
    EXPECT_NE(s.file().find("[SRVB]"), std::string::npos);

    // Refused: it goes back where it was.
    rows = {{"SRVA", 2001, true, false}};
    s.answers["SRVA"] = false;
    {
        CIniFile file((fs::path(old) / kPoolFile).string());
        ASSERT_EQ(file.OpenAndLoad(true, 1), 0);
        ASSERT_TRUE(file.SetValue("SRVA", "OmxServerPort", "2001"));
        ASSERT_EQ(file.Save(), 0);
    }
    EXPECT_FALSE(setter.apply(s.folder, rows));
    EXPECT_NE(ombrix::test::readFile(fs::path(old) / kPoolFile).find("[SRVA]"), std::string::npos);
    EXPECT_EQ(s.file().find("[SRVA]"), std::string::npos);
}

}  // namespace
