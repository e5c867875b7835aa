// The readers of the shared files against files in a temporary root: what they publish, what
// they queue for the management service, and how they live with bad or held files.
#include "netservice/shared_files.h"
#include "netservice/protected_keys.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/inifile.h"
#include "log/oxtlog.h"
#include "netservice/net_requests.h"
#include "outside/env/oxtenv.h"
#include "platform/locked_file.h"
#include "profiles/profile.h"
#include "support/global_value.h"
#include "support/temp_root.h"

namespace {

using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::writeFile;

std::string global(const std::string& key) {
    return ombrix::test::globalValue(key, "<missing>");
}

std::string catalogue(int first, int count, const std::string& tag = "x") {
    std::string text = "[Images]\r\n";
    for (int n = first; n < first + count; ++n)
        text +=
            "OMXImage_" + std::to_string(n) + "=/img/" + tag + std::to_string(n) + ".om4|||\r\n";
    return text;
}

// Another process holding a file open for writing while the object lives.
class HeldFile {
  public:
    explicit HeldFile(const std::string& path) {
        int ready[2];
        if (pipe(ready) != 0 || pipe(release_) != 0) return;
        child_ = fork();
        if (child_ == 0) {
            ombrix::platform::LockedFile held;
            if (held.open(path, ombrix::platform::FileAccess::Write) != 0) _exit(1);
            char c = 1;
            if (write(ready[1], &c, 1) != 1) _exit(1);
            if (read(release_[0], &c, 1) != 1) _exit(1);
            _exit(0);
        }
        char c = 0;
        if (read(ready[0], &c, 1) != 1) ADD_FAILURE() << "the holder did not start";
        close(ready[0]);
        close(ready[1]);
    }
    ~HeldFile() {
        char c = 0;
        if (write(release_[1], &c, 1) != 1) kill(child_, SIGKILL);
        waitpid(child_, nullptr, 0);
        close(release_[0]);
        close(release_[1]);
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

  private:
    pid_t child_ = -1;
    int release_[2] = {-1, -1};
};

class SharedFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::create_directories(share);
        for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet",
                                "OMXServerPathNet", "OmxAdmPathNet"}) {
            EnvSetGlobalValue(key, (share.string() + "/").c_str());
        }
        EnvSetGlobalValue("OmxServerName", "alpha");
        EnvSetGlobalValue("OmxServerPort", "4711");
        EnvSetGlobalValue("OmxHomePath", (root.path().string() + "/").c_str());
        EnvSetGlobalValue("OXTLogLevel", "3");
    }

    std::vector<int> codes() const {
        std::vector<int> out;
        for (const auto& r : queued)
            out.push_back(r.m_request);
        return out;
    }
    std::string file(const char* name) const { return (share / name).string(); }
    // Lines of the shared log that contain `text`.
    int logged(const std::string& text) const {
        std::string log;
        std::error_code ec;
        if (std::filesystem::exists(root / "OXTLog.log", ec)) log = readFile(root / "OXTLog.log");
        int n = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++n;
        return n;
    }

    TempRoot root;
    std::filesystem::path share = root / "share";
    std::vector<CMountRequest> queued;
    CSharedFiles files{[this](const CMountRequest& r) { queued.push_back(r); }};
};

TEST_F(SharedFiles, KeyNumbersBelowTheSharedBaseAreShiftedOthersStay) {
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_12"), 5012);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_5012"), 5012);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_0"), 5000);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_-3"), std::nullopt);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_"), std::nullopt);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_1x"), std::nullopt);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OTHER_12"), std::nullopt);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_99999999999"), std::nullopt);
    EXPECT_EQ(CSharedFiles::PublishedNumber("OMXIMAGE_1000000"), std::nullopt);
}

TEST_F(SharedFiles, CataloguePublishesEntriesAndAnnouncesEachKindOfChange) {
    writeFile(file("OMXimg.dat"),
              "[Images]\r\nOMXImage_12=/img/a.om4|||\r\nOMXImage_5013=/img/b.om4|||\r\n"
              "Other=/img/c.om4\r\n");
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(global("OMXImage_5012"), "/img/a.om4|||");
    EXPECT_EQ(global("OMXImage_5013"), "/img/b.om4|||");
    EXPECT_EQ(global("OMXIndexHiNet"), "5013");
    EXPECT_EQ(global("OMXImageCount"), "2");
    EXPECT_EQ(global("OmxConfigFileNet"), file("OMXimg.dat"));
    // The first read finds everything new.
    ASSERT_EQ(codes(), (std::vector<int>{42}));
    EXPECT_EQ(queued[0].text(), "5012|5013|");
    queued.clear();

    writeFile(file("OMXimg.dat"),
              "[Images]\r\nOMXImage_5013=/img/B.OM4|||\r\nOMXImage_14=/img/d.om4|||\r\n"
              "OMXImage_15=/img/e.om4|||\r\n");
    ASSERT_TRUE(files.ReadImagesFile());
    // A change of letter case only is no change; removed, added and changed go separately.
    ASSERT_EQ(codes(), (std::vector<int>{41, 42}));
    EXPECT_EQ(queued[0].text(), "5012|");
    EXPECT_EQ(queued[1].text(), "5014|5015|");
    EXPECT_EQ(global("OMXImage_5012"), "<missing>");
    EXPECT_EQ(global("OMXImage_5013"), "/img/B.OM4|||");
    queued.clear();

    writeFile(file("OMXimg.dat"), "[Images]\r\nOMXImage_5013=/img/z.om4|||\r\n");
    ASSERT_TRUE(files.ReadImagesFile());
    ASSERT_EQ(codes(), (std::vector<int>{41, 43}));
    EXPECT_EQ(queued[1].text(), "5013|");
    EXPECT_EQ(global("OMXIndexHiNet"), "5013");
    EXPECT_EQ(global("OMXImage_5015"), "<missing>");
}

TEST_F(SharedFiles, MoreThanFiftyChangesOrAMovedCatalogueAreOneReload) {
    writeFile(file("OMXimg.dat"), catalogue(1, 10));
    ASSERT_TRUE(files.ReadImagesFile());
    queued.clear();
    writeFile(file("OMXimg.dat"), catalogue(1, 61));  // 51 added
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{40}));
    queued.clear();
    writeFile(file("OMXimg.dat"), catalogue(1, 11));  // 50 removed: still listed
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{41}));
    queued.clear();

    // The same entries in another folder: a reload all the same.
    std::filesystem::create_directories(root / "moved");
    writeFile(root / "moved" / "OMXimg.dat", catalogue(1, 11));
    EnvSetGlobalValue("OmxConfigPathNet", ((root / "moved").string() + "/").c_str());
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{40}));
    EXPECT_EQ(global("OmxConfigFileNet"), (root / "moved" / "OMXimg.dat").string());
    queued.clear();

    // Moved to a folder that is not there yet: what was published stays until it can be read.
    EnvSetGlobalValue("OmxConfigPathNet", ((root / "later").string() + "/").c_str());
    EXPECT_FALSE(files.ReadImagesFile());
    EXPECT_EQ(global("OMXImageCount"), "11");
    writeFile(root / "later" / "OMXimg.dat", catalogue(1, 11));
    queued.clear();
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{40}));
}

TEST_F(SharedFiles, ListsThatDoNotFitTheRecordAreAReload) {
    writeFile(file("OMXimg.dat"), "[Images]\r\n");
    files.ReadImagesFile();
    queued.clear();
    // 45 six-digit numbers with their separators are 315 characters, more than a record holds.
    std::string text = "[Images]\r\n";
    for (int n = 0; n < 45; ++n)
        text += "OMXImage_" + std::to_string(100000 + n) + "=x\r\n";
    writeFile(file("OMXimg.dat"), text);
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{40}));
}

TEST_F(SharedFiles, BadCataloguesFailOncePerChangeAndRecover) {
    writeFile(file("OMXimg.dat"), catalogue(1, 3));
    ASSERT_TRUE(files.ReadImagesFile());
    queued.clear();

    // Junk without the section: nothing is published, one reload, one log line per change.
    writeFile(file("OMXimg.dat"), std::string("\x01\x02junk\r\n=\r\n[broken\r\n", 19));
    EXPECT_FALSE(files.ReadImagesFile());
    EXPECT_FALSE(files.ReadImagesFile());
    EXPECT_EQ(codes(), (std::vector<int>{40}));
    EXPECT_EQ(global("OMXImageCount"), "<missing>");
    EXPECT_EQ(global("OMXImage_5001"), "<missing>");
    EXPECT_EQ(logged("ReadImagesFile() failed"), 1);
    EXPECT_EQ(logged("Could not get entries for Images"), 1);
    queued.clear();

    // Fixed: published again.
    writeFile(file("OMXimg.dat"), catalogue(1, 2));
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(global("OMXImageCount"), "2");
    EXPECT_EQ(codes(), (std::vector<int>{42}));
}

TEST_F(SharedFiles, AHeldCatalogueKeepsWhatWasPublishedUntilItIsFree) {
    writeFile(file("OMXimg.dat"), catalogue(1, 3));
    ASSERT_TRUE(files.ReadImagesFile());
    queued.clear();
    {
        HeldFile held(file("OMXimg.dat"));
        EXPECT_FALSE(files.ReadImagesFile());
        EXPECT_FALSE(files.ReadImagesFile());
        EXPECT_EQ(global("OMXImageCount"), "3");
        EXPECT_EQ(codes(), (std::vector<int>{40}));
        EXPECT_EQ(logged("Could not lock"), 1);
    }
    EXPECT_TRUE(files.ReadImagesFile());
}

TEST_F(SharedFiles, RetriesOfAHeldFileTellTheSessionsOnce) {
    CNetRequests requests(files, [this](const CMountRequest& r) { queued.push_back(r); });
    writeFile(file("OMXTree.dat"), "a\n");
    writeFile(file("Oxtadm.dat"), "[AdminSetting]\r\nAdminMode=0\r\n");
    HeldFile tree(file("OMXTree.dat"));
    HeldFile admin(file("Oxtadm.dat"));
    for (int round = 0; round < 3; ++round) {
        for (int32_t code : {36, 39}) {
            CMountRequest r;
            r.m_request = code;
            requests.Handle(r);
            EXPECT_EQ(r.m_request, -8);
        }
    }
    EXPECT_EQ(codes(), (std::vector<int>{44, 45}));
    EXPECT_EQ(logged("ReadTreeFile() failed"), 1);
    EXPECT_EQ(logged("ReadAdminFile() failed"), 1);
}

TEST_F(SharedFiles, AHundredThousandEntriesArePublishedAndCleared) {
    writeFile(file("OMXimg.dat"), catalogue(5001, 100000));
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(global("OMXImageCount"), "100000");
    EXPECT_EQ(global("OMXIndexHiNet"), "105000");
    EXPECT_EQ(codes(), (std::vector<int>{40}));
    writeFile(file("OMXimg.dat"), catalogue(1, 1));
    ASSERT_TRUE(files.ReadImagesFile());
    EXPECT_EQ(global("OMXImage_105000"), "<missing>");
    EXPECT_EQ(global("OMXImageCount"), "1");
    EXPECT_EQ(global("OMXIndexHiNet"), "5001");
}

TEST_F(SharedFiles, TreeLinesAreTrimmedAndEmptyLinesSkipped) {
    writeFile(file("OMXTree.dat"), "  first  \r\n\r\n   \r\n'quoted line'\r\nlast");
    ASSERT_TRUE(files.ReadTreeFile());
    EXPECT_EQ(global("OMXTreeLines"), "3");
    EXPECT_EQ(global("OMXTree_1"), "first");
    EXPECT_EQ(global("OMXTree_2"), "quoted line");
    EXPECT_EQ(global("OMXTree_3"), "last");
    EXPECT_EQ(global("OMXTreeFileNet"), file("OMXTree.dat"));
    writeFile(file("OMXTree.dat"), "only\n");
    ASSERT_TRUE(files.ReadTreeFile());
    EXPECT_EQ(global("OMXTreeLines"), "1");
    EXPECT_EQ(global("OMXTree_2"), "<missing>");
}

TEST_F(SharedFiles, ProfilesAreCreatedLoadedAndAnEmptyFileClearsThem) {
    files.SetProfileNames("Administratoren", "Benutzer");
    ASSERT_TRUE(files.ReadSecurity());
    CProfileList list;
    ASSERT_EQ(list.LoadFile(file("oxtprof.dat")), 0);
    ASSERT_EQ(list.Profiles().size(), 2u);
    EXPECT_EQ(list.Profiles()[0].name, "Administratoren");
    EXPECT_EQ(list.Profiles()[0].rights, 14u);
    EXPECT_EQ(list.Profiles()[1].name, "Benutzer");
    std::string size = std::to_string(std::filesystem::file_size(file("oxtprof.dat")));
    EXPECT_EQ(global("OXTSecurity"), file("oxtprof.dat") + " (" + size + " Byte)");
    EXPECT_EQ(EnvGetSecurity(nullptr, 0), std::stoi(size));

    writeFile(file("oxtprof.dat"), "");
    EXPECT_FALSE(files.ReadSecurity());
    EXPECT_EQ(global("OXTSecurity"), "<missing>");
    EXPECT_EQ(EnvGetSecurity(nullptr, 0), 0);
}

TEST_F(SharedFiles, ServerListGetsItsDefaultAndFlagsWhatIsShared) {
    ASSERT_TRUE(files.ReadServerFile());
    EXPECT_EQ(global("OMXServer"), "1");
    EXPECT_EQ(global("Server_1"), "ALPHA|30|4711");
    EXPECT_EQ(global("OMXServerFileNet"), file("OXTServ.dat"));
    EXPECT_NE(global("Pool_Name"), "<missing>");

    std::string mine = share.string() + "/";
    writeFile(
        file("OXTServ.dat"),
        "[_OXT_SERVER_POOL_NAME_SECTION_]\r\nPool_Name=Pool A\r\n[beta]\r\nOmxConfigPathNet=" +
            mine + "\r\nOmxTreePathNet=/elsewhere/\r\nOmxServerPort=70000\r\n[gamma]\r\n");
    ASSERT_TRUE(files.ReadServerFile());
    EXPECT_EQ(global("Pool_Name"), "Pool A");
    EXPECT_EQ(global("OMXServer"), "2");
    EXPECT_EQ(global("Server_1"), "BETA|4|4464");  // 70000 kept to 16 bits
    EXPECT_EQ(global("Server_2"), "GAMMA|0|0");

    files.ClearServerValues();
    for (const char* key : {"OMXServer", "OMXServerFileNet", "Pool_Name", "Server_1", "Server_2"})
        EXPECT_EQ(global(key), "<missing>") << key;
}

TEST_F(SharedFiles, ServerPortAndLeavingAPoolInALocalFolder) {
    ASSERT_TRUE(files.ReadServerFile());
    ASSERT_TRUE(files.SetServerPort(0x10000 + 99));
    CIniFile list(file("OXTServ.dat"));
    ASSERT_EQ(list.OpenAndLoad(false, 1), 0);
    list.Close();
    std::string port;
    EXPECT_TRUE(list.GetValue("alpha", "OmxServerPort", port));
    EXPECT_EQ(port, "99");
    // A local server list stays as it is.
    std::string before = readFile(file("OXTServ.dat"));
    EXPECT_TRUE(files.RemoveServer());
    EXPECT_EQ(readFile(file("OXTServ.dat")), before);
    // A list named as a share ("//server/…") is left for real.
    EnvSetGlobalValue("OMXServerPathNet", ("/" + share.string() + "/").c_str());
    EXPECT_TRUE(files.RemoveServer());
    EXPECT_EQ(readFile(file("OXTServ.dat")).find("[ALPHA]"), std::string::npos);
    EXPECT_NE(readFile(file("OXTServ.dat")).find("[_OXT_SERVER_POOL_NAME_SECTION_]"),
              std::string::npos);
    EnvSetGlobalValue("OmxServerName", "");
    EXPECT_FALSE(files.SetServerPort(1));
    EXPECT_FALSE(files.RemoveServer());
}

TEST_F(SharedFiles, AdministrationFilePublishesOnlyDriveEntries) {
    writeFile(file("Oxtadm.dat"),
              "[AdminSetting]\r\nAdminMode=1\r\n[AdminDrives]\r\nOMX_Drive_E=/img/a.om4\r\n"
              "OMX_Drive_F=/img/b.om4\r\nOmxConfigPathNet=/evil/\r\nOMX_Drive_1=x\r\n");
    ASSERT_TRUE(files.ReadAdminFile());
    EXPECT_EQ(global("OMX_Drive_E"), "/img/a.om4");
    EXPECT_EQ(global("OmxAdminMode"), "1");
    EXPECT_EQ(global("OmxAdminDrives"), "EF");
    EXPECT_EQ(global("OmxConfigPathNet"), share.string() + "/");

    writeFile(file("Oxtadm.dat"), "[AdminSetting]\r\nAdminMode=0\r\n");
    ASSERT_TRUE(files.ReadAdminFile());
    EXPECT_EQ(global("OMX_Drive_E"), "<missing>");
    EXPECT_EQ(global("OmxAdminMode"), "<missing>");
    std::filesystem::remove(file("Oxtadm.dat"));
    EXPECT_FALSE(files.ReadAdminFile());
}

TEST_F(SharedFiles, SettingsFileIsCreatedAndPublished) {
    ASSERT_TRUE(files.ReadEnvFile());
    EXPECT_NE(readFile(file("Oxtenv.dat")).find("[SETTINGS]"), std::string::npos);
    writeFile(file("Oxtenv.dat"),
              "[Settings]\r\nOmxLanguage=deu\r\nOMXImage_5001=x\r\nOmxConfigPathNet=/elsewhere/\r\n"
              "[Other]\r\nX=1\r\n");
    ASSERT_TRUE(files.ReadEnvFile());
    EXPECT_EQ(global("OmxLanguage"), "deu");
    EXPECT_EQ(global("X"), "<missing>");
    // The settings file cannot pose as another file nor move the folders.
    EXPECT_EQ(global("OMXImage_5001"), "<missing>");
    EXPECT_EQ(global("OmxConfigPathNet"), share.string() + "/");
}

// Whoever may write the pool's folder may not decide who administers a server, where its services
// look, whom they answer or what they published themselves.
TEST_F(SharedFiles, APoolsSettingsFileChangesNoProtectedValue) {
    const std::vector<std::string> protectedKeys = {"OMXAdminGroup",
                                                    "NetAccount",
                                                    "NetAccountSystem",
                                                    "OmxConfigPathNet",
                                                    "OmxTreePathNet",
                                                    "OMXSecurityPathNet",
                                                    "OMXServerPathNet",
                                                    "OmxAdmPathNet",
                                                    "OmxHomePath",
                                                    "OXTLogLevel",
                                                    "OmxServerName",
                                                    "OmxServerPort",
                                                    "OmxListenAddress",
                                                    "OMXIndexHiNet",
                                                    "OMXImageCount",
                                                    "OmxConfigFileNet",
                                                    "OMXTreeLines",
                                                    "OMXTreeFileNet",
                                                    "OXTSecurity",
                                                    "OMXServer",
                                                    "OMXServerFileNet",
                                                    "Pool_Name",
                                                    "ServerChange",
                                                    "OmxAdminMode",
                                                    "OmxAdminDrives",
                                                    "OMXUnits",
                                                    "OMXAdapter",
                                                    "OMXDeviceMap",
                                                    "OXTEmptyDevice",
                                                    "OMXLogons",
                                                    "KSCount",
                                                    "OMXImage_5001",
                                                    "OMXTree_1",
                                                    "Server_1",
                                                    "OMX_Drive_E",
                                                    "Device_1",
                                                    "Sid_2",
                                                    "KS_1",
                                                    "IP_1"};
    std::string text = "[Settings]\r\nOmxUseXPIcons=1\r\n";
    std::map<std::string, std::string> before;
    for (const std::string& key : protectedKeys) {
        if (global(key) == "<missing>") {
            ASSERT_TRUE(EnvSetGlobalValue(key.c_str(), "own"));
        }
        before[key] = global(key);
        text += key + "=pool's\r\n";
    }
    writeFile(file("Oxtenv.dat"), text);
    ASSERT_TRUE(files.ReadEnvFile());
    EXPECT_EQ(global("OmxUseXPIcons"), "1");
    for (const std::string& key : protectedKeys) {
        EXPECT_TRUE(netsvc::isProtectedKey(key)) << key;
        EXPECT_EQ(global(key), before[key]) << key;
    }
}

// Whoever may write the pool's folder cannot make the service read or write another file through
// a link put in a shared file's place.
TEST_F(SharedFiles, LinksInTheSharedFolderAreNeverFollowed) {
    const auto victim = root / "victim";
    writeFile(victim, "untouched");
    std::filesystem::create_symlink(victim, file("OMXTree.dat"));
    std::filesystem::create_symlink(victim, file("OXTServ.dat"));
    EXPECT_FALSE(files.ReadTreeFile());
    EXPECT_NE(CSharedFiles::CreateDefaultServerList(file("OXTServ.dat")), 0);
    CNetRequests requests(files, [](const CMountRequest&) {});
    requests.ChangeCheck([](int32_t) {});
    EXPECT_EQ(readFile(victim), "untouched");
}

// A change made while the service waits for the store's lock is still noticed: the write time
// that counts is the one of what was read.
TEST_F(SharedFiles, AChangeWhileWaitingForTheStoreIsPublishedNextTime) {
    CNetRequests requests(files, [](const CMountRequest&) {});
    requests.ChangeCheck([&](int32_t code) {
        CMountRequest read;
        read.m_request = code;
        requests.Handle(read);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    writeFile(file("OMXTree.dat"), "Games\r\n");
    ASSERT_TRUE(EnvLockGlobal(1000));
    std::thread reader([&] { files.ReadTreeFile(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // read, waiting for the store
    writeFile(file("OMXTree.dat"), "Games\r\nTools\r\n");
    EnvUnlockGlobal();
    reader.join();
    EXPECT_EQ(global("OMXTreeLines"), "1");
    std::vector<int32_t> asked;
    requests.ChangeCheck([&](int32_t code) { asked.push_back(code); });
    EXPECT_EQ(asked, (std::vector<int32_t>{36}));
}

TEST_F(SharedFiles, ChangeCheckAsksOnlyForChangedFiles) {
    CNetRequests requests(files, [this](const CMountRequest& r) { queued.push_back(r); });
    std::vector<int32_t> asked;
    auto ask = [&](int32_t code) { asked.push_back(code); };
    ASSERT_TRUE(requests.ChangeCheck(ask));
    // Everything is new; the missing files were created (the administration file is not).
    EXPECT_EQ(asked, (std::vector<int32_t>{37, 35, 36, 38}));
    EXPECT_TRUE(std::filesystem::exists(file("OXTServ.dat")));
    EXPECT_FALSE(std::filesystem::exists(file("Oxtadm.dat")));
    for (int32_t code : asked) {
        CMountRequest r;
        r.m_request = code;
        requests.Handle(r);
    }
    asked.clear();
    ASSERT_TRUE(requests.ChangeCheck(ask));
    EXPECT_TRUE(asked.empty());
    writeFile(file("OMXTree.dat"), "a\n");
    writeFile(file("Oxtadm.dat"), "[AdminSetting]\r\nAdminMode=0\r\n");
    ASSERT_TRUE(requests.ChangeCheck(ask));
    EXPECT_EQ(asked, (std::vector<int32_t>{36, 39}));
}

TEST_F(SharedFiles, ServerListRequestsAlwaysReachThePeers) {
    CNetRequests requests(files, [this](const CMountRequest& r) { queued.push_back(r); });
    ASSERT_TRUE(files.ReadServerFile());
    CMountRequest clear;
    clear.m_request = 38;
    clear.m_dwData = 46;
    requests.Handle(clear);
    EXPECT_EQ(clear.m_request, 38);
    EXPECT_EQ(global("Server_1"), "<missing>");
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0].m_request, 31);
    EXPECT_EQ(queued[0].m_dwData, 46u);
    EXPECT_EQ(global("ServerChange"), "1");

    // Without its folder the read fails; the peers hear of it all the same.
    EnvSetGlobalValue("OMXServerPathNet", "");
    CMountRequest read;
    read.m_request = 38;
    requests.Handle(read);
    EXPECT_EQ(read.m_request, -8);
    EXPECT_EQ(queued.size(), 2u);
}

}  // namespace
