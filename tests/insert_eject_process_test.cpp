// Inserts and ejects through the whole chain: the client library in this process (acting for one
// session or another), the session helper programs, the management service and the driver
// stand-in, each a process of its own in a temporary machine root.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "common/image_writer.h"
#include "common/names.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_disc.h"
#include "common/oxtcomm_drives.h"
#include "common/sample_images.h"
#include "outside/env/oxtenv.h"
#include "oxthelp.h"
#include "pipes/mountrequest.h"
#include "platform/message_bus.h"
#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/terminal_sessions.h"
#include "platform/ui/user_interface.h"
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

using ombrix::test::callPipe;
using ombrix::test::EchoPipe;
using ombrix::test::grantEveryone;
using ombrix::test::Program;
using ombrix::test::record;
using ombrix::test::waitFor;

using ombrix::names::sessionPipe;

// The sessions' programs run as the sessions' accounts: alice owns session 1, bob session 2.
// What a session does runs in a child process of its account; what the service holds is asked
// by root between.
class InsertEject : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!ombrix::test::canUseAccounts()) GTEST_SKIP() << "the sessions' accounts need root";
        accounts = {ombrix::test::testAccount("ombrix-alice"),
                    ombrix::test::testAccount("ombrix-bob"),
                    ombrix::test::testAccount("ombrix-carol")};
        for (const char* name : {"a.om4", "b.om4"}) {
            ombrix::samples::writeImage(root / name, ombrix::samples::makeHeader(name));
        }
        ombrix::samples::writeImage(root / "secret.om4",
                                    ombrix::samples::makeHeader("Secret disc", "sesame"));
        grantEveryone(4 | 8);
        ASSERT_NO_FATAL_FAILURE(ombrix::test::startDriverAndService(root, driver, service));
        for (uint32_t sid : {1u, 2u}) {
            const auto& account = accounts[sid - 1];
            ASSERT_EQ(ombrix::wts::logOn(sid, account.name), 0);
            const auto boxes = ownFile("boxes" + std::to_string(sid), sid);
            helpers.push_back(std::make_unique<Program>(
                "OxtHelp", std::vector<std::string>{}, root / ("helper" + std::to_string(sid)),
                sid == 1 ? "1" : "2",
                std::vector<std::pair<std::string, std::string>>{
                    {"HOME", home(sid).string()}, {"OMBRIX_UI_RECORD", boxes.string()}},
                &account));
            ASSERT_TRUE(
                waitFor([sid] { return callPipe(sessionPipe(sid), record(29)).m_request == 29; }));
        }
    }
    void TearDown() override {
        helpers.clear();
        if (service) service->stop(SIGINT);
        unsetenv("OMBRIX_UI_RECORD");
        unsetenv("OMBRIX_UI_ANSWERS");
    }

    // Runs `body` as session `session`'s program, with that session's account; its failures
    // fail the test.
    void inSession(uint32_t session, const std::function<void()>& body) {
        std::string output;
        int rc = ombrix::test::runAs(
            accounts[session - 1],
            [&] {
                setenv("OMBRIX_SESSION", std::to_string(session).c_str(), 1);
                body();
                return ::testing::Test::HasFailure() ? 1 : 0;
            },
            &output);
        EXPECT_EQ(rc, 0) << "in session " << session << ":\n" << output;
    }
    std::filesystem::path home(uint32_t session) {
        return ombrix::test::homeFor(root.path(), accounts[session - 1]);
    }
    // An empty file in the root that session `session`'s account may write.
    std::filesystem::path ownFile(const std::string& name, uint32_t session) {
        const auto file = root / name;
        ombrix::test::writeFile(file, "");
        const auto& account = accounts[session - 1];
        EXPECT_EQ(::chown(file.c_str(), account.uid, account.gid), 0);
        return file;
    }
    std::string image(const char* name) { return (root / name).string(); }

    // Where the session's letter points, as the session sees it.
    std::string link(uint32_t session, char letter) {
        std::string target;
        ombrix::objmgr::queryDosDevice(std::string(1, letter) + ":", target, session);
        return target;
    }
    // The image the service's unit holds and how many sessions use it.
    std::pair<std::string, uint32_t> unit(int number) {
        CMountRequest r = callPipe(ombrix::names::kServicePipe, record(4, 0, "", number));
        return {std::string(r.text()), r.m_dwData};
    }
    // How many units hold the image (each with one session).
    int unitsHolding(const std::string& path) {
        int count = 0;
        for (int n = 1; n <= 4; ++n)
            count += unit(n) == std::make_pair(path, 1u) ? 1 : 0;
        return count;
    }
    // What the calling session recorded for a drive (in a session's body only).
    static std::string recorded(char letter) {
        char value[512] = "";
        EnvGetUserValue((std::string("OMX_Drive_") + letter).c_str(), value, sizeof value);
        return value;
    }

    ombrix::test::TempRoot root;
    EchoPipe net{ombrix::names::kNetPipe};  // confirms every shared insert's password
    std::vector<ombrix::test::TestAccount> accounts;
    std::unique_ptr<Program> driver;
    std::unique_ptr<Program> service;
    std::vector<std::unique_ptr<Program>> helpers;
};

TEST_F(InsertEject, InsertSharesUnitsAcrossSessionsAndEjectFreesThem) {
    const std::string a = image("a.om4");
    inSession(1, [&] {
        ASSERT_EQ(OMXInsert('E', a.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom1");
        EXPECT_EQ(recorded('E'), a);
        char mounted[300] = "";
        ASSERT_TRUE(OMXGetMountedFileFromDrive('E', mounted, sizeof mounted));
        EXPECT_EQ(std::string(mounted), a);
        EXPECT_EQ(OMXGetMountDrive(a.c_str()), 'E');
    });
    EXPECT_EQ(unit(1), std::make_pair(a, 1u));

    const auto folder = home(2) / "OmbrixDrives" / "F";
    inSession(2, [&] {
        ASSERT_EQ(OMXInsert('F', a.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(link(2, 'F'), "\\Device\\CdRom1");
        EXPECT_EQ(OMXGetMountDrive(a.c_str()), 'F');  // each session its own record
        // The user's folder of drive links reaches the session's drive.
        std::error_code error;
        EXPECT_EQ(std::filesystem::read_symlink(folder, error),
                  ombrix::objmgr::dosDevicesFolder(2) / "F:");
    });
    EXPECT_EQ(unit(1).second, 2u);

    inSession(1, [&] {
        ASSERT_EQ(OMXEject('E'), 0);
        EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom0");  // the empty device
        EXPECT_EQ(recorded('E'), "");
        char mounted[300] = "?";
        ASSERT_TRUE(OMXGetMountedFileFromDrive('E', mounted, sizeof mounted));
        EXPECT_EQ(std::string(mounted), "");
    });
    EXPECT_EQ(unit(1), std::make_pair(a, 1u));  // session 2 still uses it

    inSession(2, [&] { ASSERT_EQ(OMXEject('F'), 0); });
    EXPECT_EQ(unit(1), std::make_pair(std::string(), 0u));
}

TEST_F(InsertEject, ADriveIsEmptiedFirstAndAnImageMovesBetweenDrives) {
    const std::string a = image("a.om4"), b = image("b.om4");
    inSession(1, [&] {
        ASSERT_EQ(OMXInsert('E', a.c_str(), "", 1, 5, 0), 0);
        ASSERT_EQ(OMXInsert('E', b.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(recorded('E'), b);
    });
    EXPECT_EQ(unitsHolding(a), 0);  // a.om4 left its unit first
    EXPECT_EQ(unitsHolding(b), 1);

    // The same image into F: leaves E: first.
    inSession(1, [&] {
        ASSERT_EQ(OMXInsert('F', b.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(recorded('E'), "");
        EXPECT_EQ(recorded('F'), b);
        EXPECT_EQ(link(1, 'E'), "\\Device\\CdRom0");
    });
    EXPECT_EQ(unitsHolding(b), 1);
}

TEST_F(InsertEject, RefusalsChangeNothing) {
    const std::string a = image("a.om4"), b = image("b.om4"), missing = image("missing.om4");
    inSession(1, [&] {
        ASSERT_EQ(OMXInsert('E', a.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(OMXInsert('E', missing.c_str(), "", 1, 5, 0), 5);
        EXPECT_EQ(OMXInsert('E', nullptr, "", 1, 5, 0), 18);
        EXPECT_EQ(OMXInsert('Q', b.c_str(), "", 1, 5, 0), 14);  // not a session drive
        EXPECT_EQ(recorded('E'), a);
    });

    grantEveryone(2);  // the right to administer, but not to insert and eject
    inSession(1, [&] {
        EXPECT_EQ(OMXInsert('F', b.c_str(), "", 1, 5, 0), 600);
        EXPECT_EQ(OMXEject('E'), 600);
    });
    EXPECT_EQ(unit(1), std::make_pair(a, 1u));
    EXPECT_EQ(unit(2).first, "");
    // The administration tool's player needs the right to administer, not the one to insert.
    inSession(1, [&] { EXPECT_EQ(OMXEjectPlayer('E'), 0); });
    EXPECT_EQ(unit(1).first, "");
}

// A path the pipe record cannot carry whole is refused, not cut to another image's path; a FIFO
// is no image and holds nobody up.
TEST_F(InsertEject, OverlongPathsAndSpecialFilesAreRefused) {
    // The decoy lies at the first 259 characters of the long path.
    std::string folder = root.path().string() + "/";
    while (folder.size() < 200)
        folder += "d";
    folder += "/";
    std::filesystem::create_directories(folder);
    const std::string decoy = folder + std::string(259 - folder.size(), 'x');
    const std::string longPath = decoy + "yz.om4";
    ombrix::samples::writeImage(decoy, ombrix::samples::makeHeader("decoy"));
    ombrix::samples::writeImage(longPath, ombrix::samples::makeHeader("long"));
    const std::string fifo = image("fifo.om4");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    inSession(1, [&] {
        EXPECT_EQ(OMXInsert('E', longPath.c_str(), "", 1, 5, 0), 18);
        EXPECT_EQ(OMXInsert('F', fifo.c_str(), "", 1, 5, 0), 5);
        OmxImageInfo info{};
        std::memcpy(info.path, longPath.data(), sizeof info.path);  // no room for the end
        EXPECT_EQ(OMXAddImage(&info, OMX_RANGE_SHARED), -1);
    });
    for (int n = 1; n <= 4; ++n)
        EXPECT_EQ(unit(n).first, "") << n;
}

TEST_F(InsertEject, CatalogueInsertAsksForThePasswordAndRunsTheProgram) {
    auto answers = ownFile("answers.txt", 1);
    auto boxes = ownFile("boxes.txt", 1);
    ombrix::test::writeFile(answers, "cancel\npassword:wrong\nok\npassword:sesame\n");
    setenv("OMBRIX_UI_RECORD", boxes.c_str(), 1);
    setenv("OMBRIX_UI_ANSWERS", answers.c_str(), 1);

    // A program that writes its arguments where the test can see them.
    const auto ran = home(1) / "ran.txt";
    auto script = root / "program.sh";
    ombrix::test::writeFile(script, "#!/bin/sh\necho \"$@\" > \"" + ran.string() + "\"\n");
    ::chmod(script.c_str(), 0755);
    EnvSetGlobalValue("OMXIndexHi", "3");
    std::string entry = image("secret.om4") + "|" + script.string() + "||0|0|0|0|Secret disc";
    EnvSetGlobalValue("OMXImage_0003", entry.c_str());

    inSession(1, [&] {
        EXPECT_EQ(OMXInsertIndex('e', 3), 8);  // cancelled
        EXPECT_EQ(recorded('E'), "");
    });
    EXPECT_EQ(unit(1).first, "");

    const std::string secret = image("secret.om4");
    inSession(1, [&] {
        EXPECT_EQ(OMXInsertIndex('e', 3), 0);
        EXPECT_EQ(recorded('E'), secret);
        EXPECT_EQ(OMXGetDriveIndex('E'), 3);
        EXPECT_EQ(OMXInsertIndex('F', 42), 515);  // no such entry: nothing is inserted
        EXPECT_EQ(recorded('F'), "");
    });
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(ran); }));
    // Three prompts for the disc's description, and the wrong password told in between.
    EXPECT_EQ(ombrix::test::readFile(boxes),
              "Ombrix TS\tpassword\tSecret disc\n"
              "Ombrix TS\tpassword\tSecret disc\n"
              "Ombrix TS\twarning\tThe password for 'Secret disc' is invalid!\n"
              "Ombrix TS\tpassword\tSecret disc\n");
}

TEST_F(InsertEject, LostSessionRecordIsRebuiltFromTheDrives) {
    const std::string b = image("b.om4");
    inSession(1, [&] {
        ASSERT_EQ(OMXInsert('G', b.c_str(), "", 1, 5, 0), 0);
        EnvSetUserValue("OMX_Drive_G", "");
        EXPECT_EQ(OMXGetDriveIndex('G'), 0);  // an image the session did not record
        OMXCheckMountedDrives();
        EXPECT_EQ(recorded('G'), b);
        EXPECT_EQ(OMXGetDriveIndex('G'), -1);  // not catalogued
    });
}

TEST_F(InsertEject, AnalogAudioIsToldByTheImageInTheDrive) {
    // A disc of one audio track and one data track, laid out by hand.
    ombrix::image::ContainerSpec spec;
    spec.description = "Mixed disc";
    spec.tracks.push_back({ombrix::image::kAudioTrack, 0, 0, 1000, (root / "t1.wav").string()});
    spec.tracks.push_back({ombrix::image::kDataTrack, 0, 1000, 1100, ""});
    spec.trackList = {{0x10, 1, 0}, {0x14, 2, 1000}};
    spec.leadOut = 1100;
    ASSERT_EQ(ombrix::image::writeContainer(image("mixed.om4"), spec), 0);

    const std::string mixed = image("mixed.om4"), a = image("a.om4");
    inSession(1, [&] {
        EXPECT_EQ(OMXIsAnalogAudio('E'), 0);  // empty drive
        ASSERT_EQ(OMXInsert('E', mixed.c_str(), "", 1, 5, 0), 0);
        ASSERT_EQ(OMXInsert('F', a.c_str(), "", 1, 5, 0), 0);
        EXPECT_EQ(OMXIsAnalogAudio('E'), 1);
        EXPECT_EQ(OMXIsAnalogAudio('F'), 0);
    });
}

TEST_F(InsertEject, SessionPipeServesTheAdministrationRequests) {
    ombrix::platform::BusListener listener(2);
    CMountRequest insert = record(1, 2, image("a.om4"), 'F');
    CMountRequest reply = callPipe(sessionPipe(2), insert);
    EXPECT_EQ(reply.m_request, 1);
    EXPECT_EQ(reply.m_dwData, 0u);
    EXPECT_EQ(reply.text(), "\\Device\\CdRom1");
    auto message = listener.receive(2000);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->name, "MSG_OXTNOTIFY_INSERT");
    EXPECT_EQ(message->lParam, 'F');

    EXPECT_EQ(callPipe(sessionPipe(2), record(16)).text(), "F|1|");
    reply = callPipe(sessionPipe(2), record(22, 0, "", 'F'));
    EXPECT_EQ(reply.m_sessionId, 2u);
    EXPECT_EQ(reply.m_dwData, 1u);
    EXPECT_EQ(reply.text(), image("a.om4"));
    reply = callPipe(sessionPipe(2), record(22, 0, "", 'X'));
    EXPECT_EQ(reply.m_dwData, 0u);
    EXPECT_EQ(reply.text(), "");
    EXPECT_EQ(callPipe(sessionPipe(2), record(29)).text(), "EFG");

    // A refused insert answers -19 with the code: a missing image is a file not found.
    reply = callPipe(sessionPipe(2), record(1, 2, image("missing.om4"), 'E'));
    EXPECT_EQ(reply.m_request, -19);
    EXPECT_EQ(reply.m_dwData, 1u);

    // New letters: the dropped drive is emptied and its link goes.
    reply = callPipe(sessionPipe(2), record(23, 0, "hi", 0));
    EXPECT_EQ(reply.m_request, 23);
    EXPECT_EQ(link(2, 'F'), "");
    EXPECT_EQ(link(2, 'H'), "\\Device\\CdRom0");
    EXPECT_EQ(unit(1).first, "");
    EXPECT_EQ(callPipe(sessionPipe(2), record(23, 0, "H1", 0)).m_request, -19);

    // The administrator's text reaches the user in a box, and the pipe answers at once.
    CMountRequest note = record(48, 0, "Server restarts at noon");
    EXPECT_EQ(callPipe(sessionPipe(2), note).m_request, 48);
    EXPECT_TRUE(waitFor([&] {
        return ombrix::test::readFile(root / "boxes2") ==
               "Ombrix TS\tinformation\tServer restarts at noon\n";
    }));

    ombrix::platform::BusListener second(2);
    CMountRequest added = record(42);
    added.setText("5001|5007|");
    EXPECT_EQ(callPipe(sessionPipe(2), added).m_request, 42);
    for (int64_t index : {5001, 5007}) {
        std::optional<ombrix::platform::BusMessage> m;
        do {
            m = second.receive(2000);
        } while (m && m->name != "MSG_OXTNOTIFY_IMAGEADDED");
        ASSERT_TRUE(m);
        EXPECT_EQ(m->lParam, index);
    }
}

TEST_F(InsertEject, HelperStartsOnDemandAndOnlyOncePerSession) {
    EnvSetGlobalValue("OMXHomePath",
                      (ombrix::test::systemDir().parent_path().string() + "/").c_str());
    inSession(1, [] { EXPECT_EQ(OMXCheckOMXPlay(), 1); });  // already running
    // carol's session has no helper yet: her first program starts it, as her.
    ASSERT_EQ(ombrix::wts::logOn(3, accounts[2].name), 0);
    const std::string b = image("b.om4");
    const auto carolsHome = home(3);
    inSession(3, [&] {
        setenv("HOME", carolsHome.c_str(), 1);
        EXPECT_EQ(OMXCheckOMXPlay(), 1);  // started from the installation's system folder
        EXPECT_TRUE(waitFor([] { return callPipe(sessionPipe(3), record(29)).m_request == 29; }));
        EXPECT_EQ(OMXInsert('E', b.c_str(), "", 1, 5, 0), 0);
    });
    // Logging the session off ends its helper.
    ASSERT_EQ(ombrix::wts::logOff(3), 0);
    EXPECT_TRUE(waitFor([] { return callPipe(sessionPipe(3), record(29)).m_request == 9999; }));
}

}  // namespace

namespace {

TEST(PhysicalDrive, EjectTakesTheMediumOutOnce) {
    ombrix::test::TempRoot root;
    Program physical{
        "oxtmpdrv",
        {"--port", "1", "--units", "1", "--first-device", "6", "--driver", "atapi", "--no-fuse"},
        root / "physical.txt"};
    CMiniport port;
    ASSERT_TRUE(waitFor([&] { return port.Open(1); }));
    ombrix::samples::writeImage(root / "disc.om4", ombrix::samples::makeHeader("disc"));
    CDriveInfo unit;
    unit.number = 6;
    ASSERT_TRUE(waitFor([&] { return port.Insert(unit, (root / "disc.om4").string(), "") == 0; }));
    ASSERT_EQ(ombrix::objmgr::defineDosDevice(ombrix::objmgr::kRawTargetPath,
                                              "D:", "\\Device\\CdRom6", 0),
              0);
    ombrix::platform::BusListener listener;
    EXPECT_EQ(OMXEjectPhysicalDrive('D'), 1);
    std::string held = "?";
    ASSERT_TRUE(port.QueryImage(unit, held));
    EXPECT_EQ(held, "");
    auto message = listener.receive(2000);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->name, "SHCNE_MEDIAREMOVED");
    EXPECT_EQ(message->lParam, 'D');

    EXPECT_EQ(OMXEjectPhysicalDrive('D'), 0);  // no medium left
    EXPECT_EQ(OMXEjectPhysicalDrive('Y'), 0);  // no such drive
}

}  // namespace
