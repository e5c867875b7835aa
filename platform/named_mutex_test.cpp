#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/temp_root.h"

using ombrix::platform::kernelObjectPath;
using ombrix::platform::NamedMutex;
using Wait = NamedMutex::WaitResult;

namespace {

TEST(NamedMutex, NamesMapToFilesBySpace) {
    ombrix::test::TempRoot root;
    ::setenv("OMBRIX_SESSION", "7", 1);
    EXPECT_EQ(kernelObjectPath("Global\\OMX_TS_Pipe_Mutex"),
              root / "sync/Global/OMX_TS_Pipe_Mutex");
    EXPECT_EQ(kernelObjectPath("OMX_TS_Helper_MUTEX"), root / "sync/Session7/OMX_TS_Helper_MUTEX");
    EXPECT_EQ(kernelObjectPath("Local\\a/b"), root / "sync/Session7/a%2Fb");
    ::setenv("OMBRIX_SESSION", "0", 1);
    EXPECT_EQ(kernelObjectPath("OMX_TS_Helper_MUTEX"), root / "sync/Global/OMX_TS_Helper_MUTEX");
    ::unsetenv("OMBRIX_SESSION");
    auto longName = kernelObjectPath(std::string(400, 'x'));
    EXPECT_LE(longName.filename().string().size(), 200u);
    EXPECT_NE(longName, kernelObjectPath(std::string(399, 'x') + "y"));
}

TEST(NamedMutex, ThreadsOfOneProcessExcludeEachOther) {
    ombrix::test::TempRoot root;
    NamedMutex mutex("Global\\counter");
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            ASSERT_NE(mutex.lock(-1), Wait::TimedOut);
            int seen = counter;
            std::this_thread::yield();
            counter = seen + 1;
            mutex.unlock();
        }
    };
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 4000);
}

TEST(NamedMutex, HolderMayRelockAndOthersTimeOut) {
    ombrix::test::TempRoot root;
    NamedMutex mutex("Global\\m");
    ASSERT_EQ(mutex.lock(0), Wait::Acquired);
    ASSERT_EQ(mutex.lock(0), Wait::Acquired);
    mutex.unlock();
    EXPECT_TRUE(mutex.heldByThisThread());

    NamedMutex second("Global\\m");  // another handle, as another program would have
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.lock(150), Wait::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    mutex.unlock();
    EXPECT_EQ(second.lock(0), Wait::Acquired);
    second.unlock();
}

TEST(NamedMutex, AbandonedByADeadProcessIsAcquired) {
    ombrix::test::TempRoot root;
    pid_t child = fork();
    if (child == 0) {
        NamedMutex mutex("Global\\abandoned");
        mutex.lock(-1);
        _exit(0);  // holder dies without releasing
    }
    waitpid(child, nullptr, 0);
    NamedMutex mutex("Global\\abandoned");
    EXPECT_EQ(mutex.lock(500), Wait::Abandoned);
    mutex.unlock();
    EXPECT_EQ(mutex.lock(500), Wait::Acquired);  // released properly this time
    mutex.unlock();
}

TEST(NamedMutex, UnusableRootFailsClearly) {
    ::setenv("OMBRIX_ROOT", "/proc/no-such-root", 1);
    NamedMutex mutex("Global\\x");
    EXPECT_NE(mutex.openError(), 0);
    EXPECT_EQ(mutex.lock(10), Wait::Failed);
    ::unsetenv("OMBRIX_ROOT");
}

}  // namespace
