// The command-line program as users start it: the driver stand-in, the management service and
// the helper programs of two sessions run in a temporary machine root, and oxtcmd runs in one
// session or the other with its boxes recorded. Each case checks the boxes word for word and
// what became of the session's drive links, the session record and the service's units.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "common/names.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/terminal_sessions.h"
#include "platform/unique_fd.h"
#include "profiles/profile.h"
#include "service/miniport_client.h"
#include "support/accounts.h"
#include "support/driver_and_service.h"
#include "support/echo_pipe.h"
#include "support/grant_rights.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using ombrix::test::call;
using ombrix::test::callPipe;
using ombrix::test::EchoPipe;
using ombrix::test::grantEveryone;
using ombrix::test::Program;
using ombrix::test::readFile;
using ombrix::test::record;
using ombrix::test::waitFor;
using ombrix::test::writeFile;

const char* kEmptyDevice = "\\Device\\CdRom0";

// The accounts of the sessions: alice owns session 1, bob session 2, carol session 3.
const ombrix::test::TestAccount& accountOf(uint32_t session) {
    static const std::vector<ombrix::test::TestAccount> accounts = {
        ombrix::test::testAccount("ombrix-alice"), ombrix::test::testAccount("ombrix-bob"),
        ombrix::test::testAccount("ombrix-carol")};
    return accounts[session - 1];
}

// A value of a session's store, read as a program of that session reads it: as its account.
std::string sessionValue(uint32_t session, const std::string& key) {
    std::string out;
    ombrix::test::runAs(
        accountOf(session),
        [&] {
            ::setenv("OMBRIX_SESSION", std::to_string(session).c_str(), 1);
            char buffer[1024] = {};
            EnvGetUserValue(key.c_str(), buffer, sizeof buffer);
            std::fputs(buffer, stdout);
            return 0;
        },
        &out);
    return out;
}

// Where a drive letter of a session points.
std::string link(uint32_t session, char letter) {
    std::string target;
    if (ombrix::objmgr::queryDosDevice(std::string{letter, ':'}, target, session) != 0) return "?";
    return target;
}

struct Outcome {
    int exitCode = -1;
    std::string boxes;  // the recorder's lines
};

using Environment = std::vector<std::pair<std::string, std::string>>;

class OxtcmdProcess : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "the sessions' accounts need root";
        // The installation folder: the programs are in its system/ folder.
        fs::create_directories(root / "home");
        fs::create_directory_symlink(ombrix::test::systemDir(), root / "home" / "system");
        EnvSetGlobalValue("OmxHomePath", (root / "home/").c_str());
        EnvSetGlobalValue("OmxConfigFileNet", (root / "pool" / "OMXimg.dat").c_str());
        grantEveryone(4);

        addImage(5001, "one.om4", "Disc One");
        addImage(5002, "two.om4", "Disc Two");
        addImage(5003, "locked.om4", "Locked Disc", "secret");
        addImage(5004, "gone/twin.om4", "Twin");  // catalogued, its file is missing
        addImage(5005, "twin.om4", "Twin");
        fs::remove(image("gone/twin.om4"));
        EnvSetGlobalValue("OMXIndexHiNet", "5005");
        EnvSetGlobalValue("OMXImageCount", "5");

        ASSERT_NO_FATAL_FAILURE(ombrix::test::startDriverAndService(root, driver, service));
        for (uint32_t sid : {1u, 2u}) {
            ASSERT_EQ(ombrix::wts::logOn(sid, accountOf(sid).name), 0);
            helpers.push_back(
                std::make_unique<Program>("OxtHelp", std::vector<std::string>{},
                                          root / ("helper" + std::to_string(sid) + ".txt"), nullptr,
                                          sessionEnvironment(sid), &accountOf(sid)));
            std::string pipe = ombrix::names::sessionPipe(sid);
            ASSERT_TRUE(waitFor([&] { return callPipe(pipe, record(29)).m_request == 29; }));
        }
    }
    void TearDown() override {
        helpers.clear();
        if (service) service->stop(SIGINT);
    }

    // A program of a session: its own home, no screen (boxes are recorded).
    Environment sessionEnvironment(uint32_t sid) {
        fs::path home = ombrix::test::homeFor(root.path(), accountOf(sid));
        return {{"OMBRIX_SESSION", std::to_string(sid)},
                {"HOME", home.string()},
                {"DISPLAY", ""},
                {"WAYLAND_DISPLAY", ""},
                {"QT_QPA_PLATFORM", ""}};
    }

    void addImage(int index, const std::string& file, const std::string& description,
                  const std::string& password = "") {
        ombrix::samples::writeImage(image(file),
                                    ombrix::samples::makeHeader(description, password));
        std::string entry = image(file) + "|||0|0|0|0|" + description;
        EnvSetGlobalValue(("OMXImage_" + std::to_string(index)).c_str(), entry.c_str());
    }
    std::string image(const std::string& file) { return (root / "images" / file).string(); }

    // Runs oxtcmd in a session to its end, its boxes recorded and answered from `answers`.
    Outcome oxtcmd(uint32_t session, const std::vector<std::string>& args,
                   const std::string& answers = "") {
        ++runs;
        fs::path record = root / ("boxes" + std::to_string(runs) + ".txt");
        fs::path answerFile = root / ("answers" + std::to_string(runs) + ".txt");
        writeFile(answerFile, answers);
        // The boxes are recorded where the session's account may write.
        writeFile(record, "");
        const auto& account = accountOf(session);
        EXPECT_EQ(::chown(record.c_str(), account.uid, account.gid), 0);
        EXPECT_EQ(::chown(answerFile.c_str(), account.uid, account.gid), 0);
        Environment environment = sessionEnvironment(session);
        environment.emplace_back("OMBRIX_UI_RECORD", record.string());
        environment.emplace_back("OMBRIX_UI_ANSWERS", answerFile.string());
        Program program("oxtcmd", args, root / ("oxtcmd" + std::to_string(runs) + ".txt"), nullptr,
                        environment, &account);
        Outcome run;
        run.exitCode = program.wait(30s);
        if (fs::exists(record)) run.boxes = readFile(record);
        return run;
    }

    // The image of the service's unit that a session's letter points at.
    std::string unitImage(uint32_t session, char letter) {
        std::string device = link(session, letter);
        std::string prefix = "\\Device\\CdRom";
        if (device.compare(0, prefix.size(), prefix) != 0) return "?";
        return unitHolds(std::stoi(device.substr(prefix.size())));
    }
    std::string unitHolds(int unit) {
        return std::string(call(record(4, 0, "", static_cast<uint32_t>(unit))).text());
    }

    ombrix::test::TempRoot root;
    EchoPipe net{ombrix::names::kNetPipe};  // confirms every shared insert's password
    std::unique_ptr<Program> driver;
    std::unique_ptr<Program> service;
    std::vector<std::unique_ptr<Program>> helpers;
    int runs = 0;
};

const std::string kInsertError =
    "Ombrix TS\twarning\tError inserting / ejecting the ombrix.\\n\\nReason: ";

TEST_F(OxtcmdProcess, InsertSharesTheUnitAcrossSessionsAndEjectsByDriveAndByPath) {
    Outcome run = oxtcmd(1, {"/I", image("one.om4"), "E:"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "");  // normal mode: a success shows nothing
    std::string unit = link(1, 'E');
    EXPECT_NE(unit, kEmptyDevice);
    EXPECT_EQ(unitImage(1, 'E'), image("one.om4"));
    EXPECT_EQ(sessionValue(1, "OMX_Drive_E"), image("one.om4"));

    // The same image in session 2's F: shares the unit.
    run = oxtcmd(2, {"/I", image("one.om4"), "f"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(link(2, 'F'), unit);
    EXPECT_EQ(sessionValue(2, "OMX_Drive_F"), image("one.om4"));

    // The eject of a drive is confirmed even in normal mode.
    const std::string ejected =
        "Ombrix TS\tinformation\tThe ombrix was ejected from the drive.\\n\n";
    run = oxtcmd(1, {"/E", "E:"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, ejected);
    EXPECT_EQ(link(1, 'E'), kEmptyDevice);
    EXPECT_EQ(sessionValue(1, "OMX_Drive_E"), "");
    EXPECT_EQ(unitImage(2, 'F'), image("one.om4"));  // session 2 still holds it

    run = oxtcmd(2, {"/V", "/E", image("one.om4")});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(
        run.boxes,
        "Ombrix TS\tinformation\tExecute '/V /E " + image("one.om4") + "' command.\\n\n" +
            "Ombrix TS\tinformation\tSearching for the virtual drive '' to eject the ombrix '" +
            image("one.om4") + "'.\\n\n" + ejected +
            "Ombrix TS\tinformation\tAll arguments processed.\\n\n");
    EXPECT_EQ(link(2, 'F'), kEmptyDevice);
    EXPECT_EQ(unitHolds(std::stoi(unit.substr(std::strlen("\\Device\\CdRom")))), "");
}

TEST_F(OxtcmdProcess, AnInsertEmptiesTheTargetDriveAndTakesTheImageOutOfItsOtherDrive) {
    ASSERT_EQ(oxtcmd(1, {"/I", image("one.om4"), "E:"}).exitCode, 0);
    ASSERT_EQ(oxtcmd(1, {"/I", image("two.om4"), "E:"}).exitCode, 0);
    EXPECT_EQ(unitImage(1, 'E'), image("two.om4"));
    EXPECT_EQ(sessionValue(1, "OMX_Drive_E"), image("two.om4"));
    ASSERT_EQ(oxtcmd(1, {"Disc Two", "F:"}).exitCode, 0);  // by its description
    EXPECT_EQ(link(1, 'E'), kEmptyDevice);
    EXPECT_EQ(sessionValue(1, "OMX_Drive_E"), "");
    EXPECT_EQ(unitImage(1, 'F'), image("two.om4"));
    // No unit holds the first image any more.
    for (int unit = 1; unit <= 4; ++unit)
        EXPECT_NE(unitHolds(unit), image("one.om4"));
}

TEST_F(OxtcmdProcess, RefusedInsertsChangeNothing) {
    // Without the insert right.
    grantEveryone(0);
    Outcome run = oxtcmd(1, {"/I", image("one.om4"), "E:"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, kInsertError + "No permission to insert / eject \n" +
                             "Ombrix TS\terror\tOmbrix ('" + image("one.om4") +
                             "') not inserted.\\n\n");
    grantEveryone(4);

    // A cancelled password prompt.
    run = oxtcmd(1, {"/I", image("locked.om4"), "E:"}, "cancel\n");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, "Ombrix TS\tpassword\tLocked Disc\n" + kInsertError +
                             "Invalid password\n" + "Ombrix TS\terror\tOmbrix ('" +
                             image("locked.om4") + "') not inserted.\\n\n");

    // A wrong password on the command line.
    run = oxtcmd(1, {"/I", image("locked.om4"), "E:", "/P", "wrong"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, "Ombrix TS\terror\tThe password for CD " + image("locked.om4") +
                             " is invalid; the CD was not inserted.\\n\n");

    // Quiet: the same failure shows nothing at all.
    grantEveryone(0);
    run = oxtcmd(1, {"/q", "/I", image("one.om4"), "E:"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, "");

    for (char letter : {'E', 'F', 'G'}) {
        EXPECT_EQ(link(1, letter), kEmptyDevice) << letter;
        EXPECT_EQ(sessionValue(1, std::string("OMX_Drive_") + letter), "") << letter;
    }
    for (int unit = 1; unit <= 4; ++unit)
        EXPECT_EQ(unitHolds(unit), "") << unit;

    // The right password puts it in.
    grantEveryone(4);
    run = oxtcmd(1, {"/I", image("locked.om4"), "E:"}, "password:secret\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "Ombrix TS\tpassword\tLocked Disc\n");
    EXPECT_EQ(unitImage(1, 'E'), image("locked.om4"));
    run = oxtcmd(2, {"/I", image("locked.om4"), "E:", "/P", "secret"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "");
    EXPECT_EQ(link(2, 'E'), link(1, 'E'));
}

TEST_F(OxtcmdProcess, AnUnreadableFileIsRefusedWithoutAskingTheService) {
    // With the service gone, any request on its pipe would fail as a communication error (17):
    // the refusal with 5 shows that none was needed.
    service->stop(SIGINT);
    service.reset();
    // A file that cannot be opened for reading (a socket: not even root can read it).
    fs::path unreadable = root / "images" / "socket.om4";
    {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, unreadable.c_str(), sizeof address.sun_path - 1);
        ombrix::platform::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
        ASSERT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    }
    std::string entry = unreadable.string() + "|||0|0|0|0|Socket";
    EnvSetGlobalValue("OMXImage_5006", entry.c_str());
    EnvSetGlobalValue("OMXIndexHiNet", "5006");
    Outcome run = oxtcmd(1, {"/I", unreadable.string(), "E:"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, kInsertError + "Access denied\n" + "Ombrix TS\terror\tOmbrix ('" +
                             unreadable.string() + "') not inserted.\\n\n");
    EXPECT_EQ(sessionValue(1, "OMX_Drive_E"), "");
}

TEST_F(OxtcmdProcess, AProgramAloneStartsWithoutTouchingADrive) {
    // The session's account's own program, writing into its home.
    fs::path marker = ombrix::test::homeFor(root.path(), accountOf(1)) / "started.txt";
    fs::path script = root / "tool dir" / "start.sh";
    writeFile(script, "#!/bin/sh\npwd > '" + marker.string() + "'\n");
    fs::permissions(script, fs::perms::owner_all);
    ASSERT_EQ(::chown(script.c_str(), accountOf(1).uid, accountOf(1).gid), 0);
    Outcome run = oxtcmd(1, {"/X", script.string(), "/W", root.path().string()});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "");
    ASSERT_TRUE(waitFor([&] { return readFile(marker) == root.path().string() + "\n"; }));
    for (char letter : {'E', 'F', 'G'})
        EXPECT_EQ(link(1, letter), kEmptyDevice) << letter;

    run = oxtcmd(1, {"/X", (root / "no such program").string()});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes,
              "Ombrix TS\terror\tCannot find start program or document. Please check the settings "
              "for the start program assigned to this file.\\n\n");
}

TEST_F(OxtcmdProcess, ADescriptionOfTwoEntriesPicksTheOneWhoseFileExists) {
    Outcome run = oxtcmd(1, {"twin", "G:"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "");
    EXPECT_EQ(unitImage(1, 'G'), image("twin.om4"));
    run = oxtcmd(1, {"/I", "Nothing like it", "E:"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.boxes, "Ombrix TS\terror\t'Nothing like it' is not a ombrix description.\\n\n");
}

TEST_F(OxtcmdProcess, AnEmptyCommandLineOpensThePromptUntilCancelled) {
    // Every box takes an answer too: the error box is confirmed with "ok".
    Outcome run = oxtcmd(1, {}, "text:/E Q:\nok\ntext:/I " + image("one.om4") + " E:\ncancel\n");
    EXPECT_EQ(run.exitCode, 1);  // one line failed
    const std::string prompt = "Ombrix TS v5 - Command Line Program\ttext\t";
    EXPECT_EQ(run.boxes, prompt + "\n" + "Ombrix TS\terror\tCannot eject the ombrix.\\n\n" +
                             prompt + "/E Q:\n" + prompt + "\n");
    EXPECT_EQ(unitImage(1, 'E'), image("one.om4"));

    run = oxtcmd(1, {});  // no answer: cancelled at once
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, prompt + "\n");
}

TEST_F(OxtcmdProcess, CommandFileRunsItsLines) {
    fs::path file = root / "job.CMD";
    writeFile(file, "/I " + image("one.om4") + " E:\r\n\r\n/I \"Disc Two\" F:\r\n");
    Outcome run = oxtcmd(2, {file.string(), "/E", "E:"});  // the rest of the line is ignored
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.boxes, "");
    EXPECT_EQ(unitImage(2, 'E'), image("one.om4"));
    EXPECT_EQ(unitImage(2, 'F'), image("two.om4"));
}

TEST_F(OxtcmdProcess, LanguageFileTextsAndTheNoticeOfAnotherVersion) {
    fs::path fixtures = fs::path(::testing::internal::GetArgvs()[0]).parent_path();
    fs::path res = root / "home" / "Language" / "DEU" / "Res";
    fs::create_directories(res);
    fs::copy_file(fixtures / "liblanguage_fixture_v1.so", res / "OXTCMD.DEU");
    EnvSetGlobalValue("OmxLanguage", "DEU");
    grantEveryone(0);
    Outcome run = oxtcmd(1, {"/I", image("one.om4"), "E:"});
    EXPECT_EQ(run.boxes, kInsertError + "No permission to insert / eject \n" +
                             "Ombrix TS\terror\tOmbrix ('" + image("one.om4") +
                             "') nicht eingelegt.\\n\n");

    fs::copy_file(fixtures / "liblanguage_fixture_v2.so", res / "OXTCMD.DEU",
                  fs::copy_options::overwrite_existing);
    run = oxtcmd(1, {"/Q", "/I", image("one.om4"), "E:"});  // told even in quiet mode
    EXPECT_EQ(run.boxes,
              "Ombrix TS\tinformation\tThe language file has the wrong version - using build in "
              "language. Please download the current language files.\\n\n");
}

TEST_F(OxtcmdProcess, StartsTheSessionHelperWhenItIsNotRunning) {
    ASSERT_EQ(ombrix::wts::logOn(3, accountOf(3).name), 0);
    // A script that reads what oxtcmd writes gets its end: the helper it starts keeps none of
    // its output open.
    Environment environment = sessionEnvironment(3);
    std::string command = "'" + (ombrix::test::systemDir() / "oxtcmd").string() + "' /Q /I '" +
                          image("two.om4") + "' G:";
    std::string captured;
    const auto started = std::chrono::steady_clock::now();
    int exitCode = ombrix::test::runAs(accountOf(3), [&] {
        for (const auto& [key, value] : environment)
            ::setenv(key.c_str(), value.c_str(), 1);
        FILE* out = ::popen(command.c_str(), "r");
        if (out == nullptr) return -2;
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        }
        return WEXITSTATUS(::pclose(out));
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    EXPECT_EQ(unitImage(3, 'G'), image("two.om4"));
    // Logging the session off ends the helper oxtcmd started and empties its drive.
    ASSERT_EQ(ombrix::wts::logOff(3), 0);
    EXPECT_TRUE(waitFor(
        [] { return callPipe(ombrix::names::sessionPipe(3), record(29)).m_request == 9999; }));
    EXPECT_TRUE(waitFor([&] {
        for (int unit = 1; unit <= 4; ++unit)
            if (unitHolds(unit) == image("two.om4")) return false;
        return true;
    }));
}

TEST(OxtcmdProgram, AnswersHelp) {
    std::string command = "'" + (ombrix::test::systemDir() / "oxtcmd").string() + "' --help";
    FILE* out = popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    char buffer[4096] = {};
    size_t n = std::fread(buffer, 1, sizeof buffer - 1, out);
    EXPECT_EQ(pclose(out), 0);
    EXPECT_NE(std::string(buffer, n).find("usage: oxtcmd"), std::string::npos);
}

}  // namespace
