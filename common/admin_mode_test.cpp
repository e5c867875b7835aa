#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "common/inifile.h"
#include "common/md5_digest.h"
#include "common/oxtcomm_admin.h"
#include "oxtenv.h"
#include "platform/locked_file.h"
#include "profiles/profile.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;

namespace {

std::string adminValue(const std::string& path, const char* section, const char* key) {
    CIniFile file(path);
    if (file.OpenAndLoad(false, 1) != 0) return "<no file>";
    std::string value;
    return file.GetValue(section, key, value) ? value : "<missing>";
}

// A session of a pool whose administration file lives in pool/.
class AdminMode : public ::testing::Test {
  protected:
    void SetUp() override {
        ::setenv("OMBRIX_SESSION", "4", 1);
        ::setenv("OMBRIX_HOST", "server-a", 1);
        ::setenv("OMBRIX_UI_RECORD", (root_ / "record.txt").c_str(), 1);
        ::setenv("OMBRIX_UI_ANSWERS", (root_ / "answers.txt").c_str(), 1);
        fs::create_directories(root_ / "pool");
        EnvSetGlobalValue("OmxAdmPathNet", (root_ / "pool/").c_str());
        file_ = (root_ / "pool/Oxtadm.dat").string();
    }
    void TearDown() override {
        for (const char* name :
             {"OMBRIX_SESSION", "OMBRIX_HOST", "OMBRIX_UI_RECORD", "OMBRIX_UI_ANSWERS"}) {
            ::unsetenv(name);
        }
    }
    void adminFile(const std::string& mode, const std::string& digest) {
        ombrix::test::writeFile(
            file_, "[AdminSetting]\r\nAdminMode=" + mode + "\r\nAdminPWD=" + digest + "\r\n");
    }
    void answers(const std::string& lines) {
        ombrix::test::writeFile(root_ / "answers.txt", lines);
    }
    std::string record() { return ombrix::test::readFile(root_ / "record.txt"); }

    ombrix::test::TempRoot root_;
    std::string file_;
};

TEST_F(AdminMode, StateComesFromTheGlobalAndTheSessionValue) {
    EXPECT_EQ(OMXGetAdminMode(), 0);
    EnvSetGlobalValue("OmxAdminMode", "0");
    EXPECT_EQ(OMXGetAdminMode(), 0);
    EnvSetGlobalValue("OmxAdminMode", "1");
    EXPECT_EQ(OMXGetAdminMode(), 2);  // in use, and this session is an ordinary user
    for (auto [value, state] : {std::pair{"1", 1}, {"2", 2}, {"3", 0}, {"", 0}, {"x", 0}}) {
        EnvSetUserValue("OmxAdminMode", value);
        EXPECT_EQ(OMXGetAdminMode(), state) << "session value '" << value << "'";
    }
}

TEST_F(AdminMode, EnteringAndLeavingWriteTheFile) {
    adminFile("0", *ombrix::md5Hex("admin"));
    EnvSetUserValue("OMX_Drive_E", "/img/office.om4");
    EnvSetGlobalValue("OmxStdDriveLetters", "EF");
    answers("password:wrong\nok\npassword:admin\n");
    ASSERT_EQ(OMXEnterAdmin(), 1);
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminMode"), "1");
    EXPECT_EQ(adminValue(file_, "AdminSetting", "OmxAdminMachine"), "server-a");
    EXPECT_EQ(adminValue(file_, "AdminDrives", "OMX_Drive_E"), "/img/office.om4");
    EXPECT_EQ(adminValue(file_, "AdminDrives", "OMX_Drive_F"), "");
    char text[64];
    ASSERT_TRUE(EnvGetGlobalValue("OmxAdminDrives", text, sizeof text));
    EXPECT_STREQ(text, "EF");
    EnvSetGlobalValue("OmxAdminMode", "1");  // published by the network access service
    EXPECT_EQ(OMXGetAdminMode(), 1);
    EXPECT_EQ(OMXGetAdminComputer(text, sizeof text), 8);
    EXPECT_STREQ(text, "server-a");

    ASSERT_EQ(OMXLeaveAdmin(), 1);
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminMode"), "0");
    EXPECT_EQ(adminValue(file_, "AdminSetting", "OmxAdminMachine"), "");
    EXPECT_EQ(adminValue(file_, "AdminDrives", "OMX_Drive_E"), "/img/office.om4");  // kept
    EXPECT_EQ(OMXGetAdminMode(), 0);
    EXPECT_EQ(OMXLeaveAdmin(), 0);  // not the administrator any more
    EXPECT_EQ(record(),
              "Ombrix TS\tpassword\tAdministration mode\n"
              "Ombrix TS\twarning\tThe password for 'Administration mode' is invalid!\n"
              "Ombrix TS\tpassword\tAdministration mode\n");
}

TEST_F(AdminMode, EnteringIsRefusedWithTheRightBox) {
    EXPECT_EQ(OMXEnterAdmin(), 0);  // no file
    adminFile("1", *ombrix::md5Hex("admin"));
    EXPECT_EQ(OMXEnterAdmin(), 0);  // another administrator is in: no box
    adminFile("0", std::string(31, 'a'));
    EXPECT_EQ(OMXEnterAdmin(), 0);
    adminFile("", std::string(33, 'a'));
    EXPECT_EQ(OMXEnterAdmin(), 0);
    adminFile("0", *ombrix::md5Hex("admin"));
    answers("cancel\n");
    EXPECT_EQ(OMXEnterAdmin(), 0);  // cancelled: nothing written
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminMode"), "0");
    ombrix::test::writeFile(file_, "[AdminSetting]\r\nAdminPWD=x\r\n");
    EXPECT_EQ(OMXEnterAdmin(), 0);  // no AdminMode
    EnvDeleteGlobalValue("OmxAdmPathNet");
    EXPECT_EQ(OMXEnterAdmin(), 0);
    EXPECT_EQ(record(),
              "Ombrix TS\twarning\tAdministration file not found\n"
              "Ombrix TS\twarning\tPassword in administration file is invalid\n"
              "Ombrix TS\twarning\tPassword in administration file is invalid\n"
              "Ombrix TS\tpassword\tAdministration mode\n"
              "Ombrix TS\twarning\tError on reading administration file\n"
              "Ombrix TS\twarning\tAdministration file not found\n");
}

TEST_F(AdminMode, ChangingThePasswordChecksTheOldOne) {
    ASSERT_EQ(OMXSetAdminPWD("", "first"), 1);  // a new file starts with the empty password
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminPWD"), *ombrix::md5Hex("first"));
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminMode"), "0");
    EXPECT_EQ(OMXSetAdminPWD("wrong", "second"), 0);
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminPWD"), *ombrix::md5Hex("first"));
    EXPECT_EQ(OMXSetAdminPWD("first", "second"), 1);
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminPWD"), *ombrix::md5Hex("second"));
    EXPECT_EQ(OMXSetAdminPWD(nullptr, "x"), 0);
    EXPECT_EQ(record(),
              "Ombrix TS\twarning\tThe password is invalid\n"
              "Ombrix TS\twarning\tThe password is invalid\n");
}

TEST_F(AdminMode, DriveLockHoldsOnlyOrdinaryUsersBoundByIt) {
    // Everybody is in one profile; its rights decide whether the lock binds.
    auto publishRights = [](uint32_t rights) {
        CProfileList list;
        CProfile profile;
        profile.name = "All";
        profile.rights = rights;
        profile.security.BuildUsersDefault();
        list.Profiles().push_back(profile);
        std::string bytes;
        ASSERT_EQ(list.Save(bytes), 0);
        ASSERT_TRUE(EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size())));
    };
    publishRights(CProfile::kCentralAdminClient | CProfile::kInsertEject);
    EXPECT_EQ(OMXAdminDriveLockCode('E'), 0);  // administration mode not in use
    EnvSetGlobalValue("OmxAdminMode", "1");
    EnvSetGlobalValue("OmxAdminDrives", "ef");
    EXPECT_EQ(OMXAdminDriveLockCode('E'), 21);
    EXPECT_EQ(OMXAdminDriveLockCode('f'), 21);
    EXPECT_EQ(OMXAdminDriveLockCode('G'), 0);
    EnvSetUserValue("OmxAdminMode", "1");  // the administrator's own session
    EXPECT_EQ(OMXAdminDriveLockCode('E'), 0);
    EnvDeleteUserValue("OmxAdminMode");
    publishRights(CProfile::kInsertEject);  // not bound by the lock
    EXPECT_EQ(OMXAdminDriveLockCode('E'), 0);
}

}  // namespace

namespace {

// The administration file stays free for everybody while the password dialog is open.
TEST_F(AdminMode, TheFileIsFreeWhileThePasswordIsAsked) {
    adminFile("0", *ombrix::md5Hex("admin"));
    answers("password:admin\n");
    // The dialog waits for its answer while this process holds the answers file.
    ombrix::platform::LockedFile answering;
    ASSERT_EQ(
        answering.open((root_ / "answers.txt").string(), ombrix::platform::FileAccess::Update), 0);
    pid_t child = ::fork();
    if (child == 0) {
        answering.close();  // the lock stays with the parent's descriptor
        _exit(OMXEnterAdmin() == 1 ? 0 : 1);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    CIniFile other(file_);
    EXPECT_EQ(other.OpenAndLoad(true, 1), 0);
    other.Close();
    answering.close();
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(adminValue(file_, "AdminSetting", "AdminMode"), "1");
}

}  // namespace
