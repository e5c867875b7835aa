#include "oxtenv.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "platform/registry.h"
#include "support/temp_root.h"

namespace {

std::string global(const char* key) {
    char buffer[256] = "untouched";
    return EnvGetGlobalValue(key, buffer, sizeof buffer) ? buffer : "<missing>";
}

std::string user(const char* key) {
    char buffer[256];
    return EnvGetUserValue(key, buffer, sizeof buffer) ? buffer : "<missing>";
}

std::string setting(const char* key) {
    char buffer[256];
    return EnvGetSetting(key, buffer, sizeof buffer) ? buffer : "<missing>";
}

int waitChild(pid_t pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(EnvStores, KeysIgnoreCaseAndKeepTheirSpelling) {
    ombrix::test::TempRoot root;
    EXPECT_EQ(global("OmxHomePath"), "<missing>");
    ASSERT_TRUE(EnvSetGlobalValue("OmxHomePath", "/opt/ombrix/"));
    EXPECT_EQ(global("OMXHomePath"), "/opt/ombrix/");
    ASSERT_TRUE(EnvSetGlobalValue("OMXHOMEPATH", "/srv/"));
    EXPECT_EQ(global("omxhomepath"), "/srv/");

    std::map<std::string, std::string> listed;
    EnvEnumGlobalValues(&listed, [](void* context, const char* key, const char* value) {
        (*static_cast<std::map<std::string, std::string>*>(context))[key] = value;
        return 1;
    });
    EXPECT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed.begin()->first, "OmxHomePath");

    // An empty value is a value; only deleting removes the key.
    ASSERT_TRUE(EnvSetGlobalValue("OmxHomePath", ""));
    EXPECT_EQ(global("OmxHomePath"), "");
    EXPECT_TRUE(EnvDeleteGlobalValue("OMXHOMEPATH"));
    EXPECT_FALSE(EnvDeleteGlobalValue("OMXHOMEPATH"));
    EXPECT_EQ(global("OmxHomePath"), "<missing>");
}

TEST(EnvStores, GetCutsToTheBufferAndRejectsBadArguments) {
    ombrix::test::TempRoot root;
    ASSERT_TRUE(EnvSetGlobalValue("Long", "abcdefgh"));
    char small[4] = {'x', 'x', 'x', 'x'};
    EXPECT_TRUE(EnvGetGlobalValue("Long", small, sizeof small));
    EXPECT_STREQ(small, "abc");
    EXPECT_TRUE(EnvGetGlobalValue("Long", nullptr, 0));  // existence only
    EXPECT_FALSE(EnvGetGlobalValue(nullptr, small, sizeof small));
    EXPECT_FALSE(EnvSetGlobalValue("", "x"));
    EXPECT_FALSE(EnvSetGlobalValue(std::string(600, 'k').c_str(), "too long a key"));
}

TEST(EnvStores, EachSessionHasItsOwnStore) {
    ombrix::test::TempRoot root;
    ::setenv("OMBRIX_SESSION", "5", 1);
    ASSERT_TRUE(EnvSetUserValue("OMX_Drive_E", "/img/a.om4"));
    ::setenv("OMBRIX_SESSION", "6", 1);
    EXPECT_EQ(user("OMX_Drive_E"), "<missing>");
    ASSERT_TRUE(EnvSetUserValue("OMX_Drive_E", "/img/b.om4"));
    ::setenv("OMBRIX_SESSION", "5", 1);
    EXPECT_EQ(user("omx_drive_e"), "/img/a.om4");
    EXPECT_EQ(global("OMX_Drive_E"), "<missing>");
    ::unsetenv("OMBRIX_SESSION");
}

TEST(EnvStores, ValuesAreSharedBetweenProcesses) {
    ombrix::test::TempRoot root;
    ASSERT_TRUE(EnvSetGlobalValue("Before", "1"));  // the parent has the store open already
    pid_t child = fork();
    if (child == 0) {
        // A fresh process: the library must not reuse the parent's open store.
        execl((ombrix::test::systemDir() / "oxtenv").c_str(), "oxtenv", "set", "FromChild", "hello",
              static_cast<char*>(nullptr));
        _exit(99);
    }
    ASSERT_EQ(waitChild(child), 0);
    EXPECT_EQ(global("FromChild"), "hello");
}

TEST(EnvStores, ForkedChildrenUseTheStoresSafely) {
    ombrix::test::TempRoot root;
    ASSERT_TRUE(EnvSetGlobalValue("Shared", "parent"));  // the parent's store is open
    std::vector<pid_t> children;
    for (int c = 0; c < 4; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            int bad = 0;
            std::string mine = "Child" + std::to_string(c);
            for (int i = 0; i < 200; ++i) {
                if (global("Shared") != "parent") ++bad;
                if (!EnvSetGlobalValue(mine.c_str(), std::to_string(i).c_str())) ++bad;
            }
            _exit(bad == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (int i = 0; i < 200; ++i)
        EXPECT_EQ(global("Shared"), "parent");
    for (pid_t pid : children)
        EXPECT_EQ(waitChild(pid), 0);
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(global(("Child" + std::to_string(c)).c_str()), "199");
    }
}

TEST(EnvStores, ThreadsStillReadingWhenTheProcessExitsDoNotCrashIt) {
    ombrix::test::TempRoot root;
    ASSERT_TRUE(EnvSetGlobalValue("Busy", "1"));
    for (int round = 0; round < 20; ++round) {
        pid_t child = fork();
        if (child == 0) {
            for (int t = 0; t < 4; ++t) {
                std::thread([] {
                    char value[16];
                    for (;;)
                        EnvGetGlobalValue("Busy", value, sizeof value);
                }).detach();
            }
            usleep(2000);
            std::exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status))
            << "round " << round << " ended by signal " << WTERMSIG(status);
    }
}

TEST(EnvStores, SettingLooksAtSessionThenUserRegistryThenGlobal) {
    ombrix::test::TempRoot root;
    ::setenv("OMBRIX_SESSION", "3", 1);
    const char* key = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\Settings";
    EXPECT_EQ(setting("OmxLanguage"), "<missing>");
    ASSERT_TRUE(EnvSetGlobalValue("OmxLanguage", "DEU"));
    EXPECT_EQ(setting("OmxLanguage"), "DEU");
    ASSERT_EQ(ombrix::registry::setString(key, "OmxLanguage", "FRA"), 0);
    EXPECT_EQ(setting("OmxLanguage"), "FRA");
    ASSERT_TRUE(EnvSetUserValue("OmxLanguage", "ENU"));
    EXPECT_EQ(setting("OMXLANGUAGE"), "ENU");
    // A session value cleared to "" hides nothing.
    ASSERT_TRUE(EnvSetUserValue("OmxLanguage", ""));
    EXPECT_EQ(setting("OmxLanguage"), "FRA");
    ::unsetenv("OMBRIX_SESSION");
}

TEST(EnvStores, RightsDataIsKeptByteForByteAndCleared) {
    ombrix::test::TempRoot root;
    const char data[] = {'\x01', '\0', 'p', '\xff', '\0'};
    EXPECT_EQ(EnvGetSecurity(nullptr, 0), 0);
    ASSERT_TRUE(EnvLoadSecurity(data, sizeof data));
    char back[16] = {};
    ASSERT_EQ(EnvGetSecurity(back, sizeof back), static_cast<int>(sizeof data));
    EXPECT_EQ(std::string(back, sizeof data), std::string(data, sizeof data));
    EXPECT_EQ(EnvGetSecurity(back, 2), static_cast<int>(sizeof data));  // too small: size only
    ASSERT_TRUE(EnvLoadSecurity(nullptr, 0));
    EXPECT_EQ(EnvGetSecurity(back, sizeof back), 0);
    EXPECT_FALSE(EnvLoadSecurity(nullptr, 4));
}

TEST(EnvLocks, GlobalLockTimesOutWhileAnotherProcessHoldsIt) {
    ombrix::test::TempRoot root;
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        bool locked = EnvLockGlobal(1000);
        char c = locked ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        usleep(600 * 1000);
        EnvUnlockGlobal();
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_FALSE(EnvLockGlobal(100));
    EXPECT_TRUE(EnvLockGlobal(-1));  // waits for the holder to let go
    EXPECT_TRUE(EnvLockGlobal(0));   // the holding thread may take it again
    EnvUnlockGlobal();
    EnvUnlockGlobal();
    EXPECT_EQ(waitChild(child), 0);
}

TEST(EnvLocks, LockOfADeadProcessIsTakenOver) {
    ombrix::test::TempRoot root;
    pid_t child = fork();
    if (child == 0) {
        EnvLockUser(1000);
        _exit(0);  // dies holding the session lock
    }
    ASSERT_EQ(waitChild(child), 0);
    EXPECT_TRUE(EnvLockUser(200));
    EnvUnlockUser();
}

}  // namespace
