#include "platform/locked_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/win_error.h"
#include "support/temp_root.h"

using ombrix::platform::FileAccess;
using ombrix::platform::LockedFile;
namespace win = ombrix::win;

namespace {

TEST(LockedFile, OpenErrorsUseWin32Codes) {
    ombrix::test::TempRoot root;
    LockedFile file;
    EXPECT_EQ(file.open((root / "missing.dat").string(), FileAccess::Read), win::kFileNotFound);
    EXPECT_EQ(file.open((root / "no/such/dir/x.dat").string(), FileAccess::Read),
              win::kPathNotFound);
    EXPECT_EQ(file.open((root / "no/such/dir/x.dat").string(), FileAccess::Write),
              win::kPathNotFound);
    EXPECT_EQ(file.open(root.path().string(), FileAccess::Read), win::kAccessDenied);
    EXPECT_FALSE(file.isOpen());

    if (geteuid() != 0) {  // root reads everything
        ombrix::test::writeFile(root / "secret.dat", "x");
        chmod((root / "secret.dat").c_str(), 0);
        EXPECT_EQ(file.open((root / "secret.dat").string(), FileAccess::Read), win::kAccessDenied);
    }
}

TEST(LockedFile, WriteCreatesAndKeepsEverybodyElseOut) {
    ombrix::test::TempRoot root;
    std::string path = (root / "data.dat").string();
    LockedFile writer, other;
    ASSERT_EQ(writer.open(path, FileAccess::Write), 0);
    off_t size = -1;
    ASSERT_EQ(writer.size(size), 0);
    EXPECT_EQ(size, 0);

    // Locks belong to open files, so a second open in the same process conflicts as well.
    EXPECT_EQ(other.open(path, FileAccess::Read), win::kSharingViolation);
    EXPECT_EQ(other.open(path, FileAccess::Write), win::kSharingViolation);
    writer.close();
    EXPECT_EQ(other.open(path, FileAccess::Read), 0);
}

TEST(LockedFile, ReadersShareAndKeepWritersOut) {
    ombrix::test::TempRoot root;
    std::string path = (root / "data.dat").string();
    ombrix::test::writeFile(path, "hello");
    LockedFile a, b, w;
    ASSERT_EQ(a.open(path, FileAccess::Read), 0);
    ASSERT_EQ(b.open(path, FileAccess::Read), 0);
    EXPECT_EQ(w.open(path, FileAccess::Write), win::kSharingViolation);
    std::string text;
    ASSERT_EQ(a.readAll(text), 0);
    EXPECT_EQ(text, "hello");
}

TEST(LockedFile, LockEndsWhenTheHolderDies) {
    ombrix::test::TempRoot root;
    std::string path = (root / "data.dat").string();
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    pid_t child = fork();
    if (child == 0) {
        LockedFile held;
        char c = held.open(path, FileAccess::Write) == 0 ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    LockedFile mine;
    EXPECT_EQ(mine.open(path, FileAccess::Read), win::kSharingViolation);
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(mine.open(path, FileAccess::Read), 0);
}

TEST(LockedFile, ReadAtStopsShortAtTheEnd) {
    ombrix::test::TempRoot root;
    std::string path = (root / "data.dat").string();
    ombrix::test::writeFile(path, "0123456789");
    LockedFile file;
    ASSERT_EQ(file.open(path, FileAccess::Write), 0);
    char buffer[8];
    size_t got = 0;
    ASSERT_EQ(file.readAt(buffer, sizeof buffer, 6, got), 0);
    EXPECT_EQ(got, 4u);
    ASSERT_EQ(file.writeAt("AB", 2, 0), 0);
    ASSERT_EQ(file.truncate(4), 0);
    std::string text;
    ASSERT_EQ(file.readAll(text), 0);
    EXPECT_EQ(text, "AB23");
}

}  // namespace
