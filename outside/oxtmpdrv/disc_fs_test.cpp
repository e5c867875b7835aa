#include "outside/oxtmpdrv/disc_fs.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "manager/test_disc_image.h"
#include "omxcvt.h"
#include "outside/oxtmpdrv/disc_mount.h"
#include "platform/unique_fd.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/multi_session.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace fs = std::filesystem;
namespace t = ombrix::test;
using namespace ombrix::contents::testing;
using ombrix::contents::kSectorBytes;
using oxtmpdrv::DiscFs;

namespace {

std::string convert(const fs::path& iso, const fs::path& target, int storage) {
    return t::convertIso(iso, target, storage, 2048, 50) == 0 ? target.string() : std::string();
}

// The listing of a disc through the operations, in the archive tool's form.
void listOps(const DiscFs& disc, const std::string& dir, const std::string& prefix,
             t::DiscListing& out) {
    std::vector<std::pair<std::string, struct stat>> entries;
    ASSERT_EQ(
        disc.readdir(dir.c_str(), [&](const char* name,
                                      const struct stat& st) { entries.emplace_back(name, st); }),
        0);
    for (const auto& [name, st] : entries) {
        const std::string rel = prefix + name;
        out[rel] = S_ISDIR(st.st_mode) ? -1 : int64_t(st.st_size);
        if (S_ISDIR(st.st_mode))
            listOps(disc, dir + (dir == "/" ? "" : "/") + name, rel + "/", out);
    }
}

std::string readOps(const DiscFs& disc, const std::string& path) {
    uint64_t handle = 0;
    if (disc.open(path.c_str(), O_RDONLY, 0, handle) != 0) return "<cannot open>";
    std::string out;
    std::vector<char> buffer(131072);
    for (off_t at = 0;;) {
        long n = disc.read(handle, buffer.data(), buffer.size(), at);
        if (n < 0) return "<read error>";
        if (n == 0) break;
        out.append(buffer.data(), size_t(n));
        at += n;
    }
    return out;
}

class DiscOps : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!t::haveDiscTools()) GTEST_SKIP() << "xorriso and bsdtar are needed";
        iso_ = t::makeSampleIso(root_.path());
        ASSERT_FALSE(iso_.empty());
        container_ = convert(iso_, root_ / "img/Disc.om4", OMXCVT_LZ);
        ASSERT_FALSE(container_.empty());
    }
    t::TempRoot root_;
    fs::path iso_;
    std::string container_;
};

TEST_F(DiscOps, AnswersLikeAReadOnlyFileSystem) {
    std::vector<pid_t> accesses;
    DiscFs disc([&](pid_t pid) { accesses.push_back(pid); });
    ASSERT_EQ(disc.load(container_), 0);
    EXPECT_EQ(disc.label(), "TEST_DISC");
    t::DiscListing listing;
    listOps(disc, "/", "", listing);
    EXPECT_EQ(listing, t::referenceListing(iso_));

    struct stat st;
    ASSERT_EQ(disc.getattr("/", &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    ASSERT_EQ(disc.getattr("/one/mixed.bin", &st), 0);
    EXPECT_EQ(st.st_mode, S_IFREG | 0444);
    EXPECT_EQ(st.st_size, 300000);
    EXPECT_EQ(disc.getattr("/nothing", &st), -ENOENT);
    EXPECT_EQ(disc.getattr("/readme.txt/below", &st), -ENOENT);

    uint64_t handle = 0;
    EXPECT_EQ(disc.open("/readme.txt", O_WRONLY, 7, handle), -EROFS);
    EXPECT_EQ(disc.open("/readme.txt", O_RDWR, 7, handle), -EROFS);
    EXPECT_EQ(disc.open("/one", O_RDONLY, 7, handle), -EISDIR);
    EXPECT_EQ(disc.open("/missing", O_RDONLY, 7, handle), -ENOENT);
    EXPECT_TRUE(accesses.empty());
    EXPECT_EQ(disc.open("/readme.txt", O_RDONLY, 4242, handle), 0);
    EXPECT_EQ(disc.opendir("/one", 4343), 0);
    EXPECT_EQ(disc.opendir("/readme.txt", 1), -ENOTDIR);
    EXPECT_EQ(accesses, (std::vector<pid_t>{4242, 4343}));

    EXPECT_EQ(readOps(disc, "/one/mixed.bin"), t::readFile(root_ / "src/one/mixed.bin"));
    EXPECT_EQ(readOps(disc, "/empty.dat"), "");
    char byte;
    EXPECT_EQ(disc.read(999999, &byte, 1, 0), -EBADF);
    struct statvfs vfs;
    ASSERT_EQ(disc.statfs(&vfs), 0);
    EXPECT_TRUE(vfs.f_flag & ST_RDONLY);
}

// The drive shows the last session's file system and reads every file it lists, also those whose
// data lie in an earlier session's track.
TEST_F(DiscOps, EveryFileOfTheLastSessionReads) {
    fs::path whole;
    const fs::path container = t::makeMultiSessionImage(root_ / "ms", whole);
    ASSERT_FALSE(container.empty());
    oxtmpdrv::DiscFs disc;
    ASSERT_EQ(disc.load(container.string()), 0);
    for (const std::string path : {"/first3.txt", "/later/second2.txt"}) {
        uint64_t handle = 0;
        ASSERT_EQ(disc.open(path.c_str(), O_RDONLY, 0, handle), 0) << path;
        std::string bytes(8000, '\0');
        long n = disc.read(handle, bytes.data(), bytes.size(), 0);
        ASSERT_GT(n, 0) << path;
        bytes.resize(static_cast<size_t>(n));
        EXPECT_EQ(bytes, path == "/first3.txt" ? std::string(4500, 'd') : std::string(1800, 'C'));
    }
}

// Inserting reads the folders and the root's files only; a folder's files are read when it is
// first looked into, so memory follows what is visited, and the whole disc still lists right.
TEST_F(DiscOps, FoldersAreReadWhenFirstLookedInto) {
    const fs::path src = root_ / "many";
    for (int d = 0; d < 20; ++d) {
        for (int f = 0; f < 40; ++f)
            t::writeFile(src / ("d" + std::to_string(d)) / ("f" + std::to_string(f)), "x");
    }
    t::writeFile(src / "top.txt", "top");
    const fs::path iso = t::makeIso(src, root_ / "many.iso", true);
    ASSERT_FALSE(iso.empty());
    const std::string container = (root_ / "img/Many.om4").string();
    ASSERT_EQ(t::convertIso(iso, container, OMXCVT_LZ), 0);
    DiscFs disc;
    ASSERT_EQ(disc.load(container), 0);
    auto held = [&disc] {
        struct statvfs vfs;
        disc.statfs(&vfs);
        return vfs.f_files;
    };
    EXPECT_EQ(held(), 1u + 20 + 1);  // the root, its folders and its file
    struct stat st;
    ASSERT_EQ(disc.getattr("/d3/f7", &st), 0);
    EXPECT_EQ(held(), 1u + 20 + 1 + 40);
    EXPECT_EQ(disc.getattr("/d3/f40", &st), -ENOENT);
    EXPECT_EQ(disc.getattr("/d4", &st), 0);  // a folder itself needs none of its files
    EXPECT_EQ(held(), 1u + 20 + 1 + 40);
    t::DiscListing listing;
    listOps(disc, "/", "", listing);
    EXPECT_EQ(listing, t::referenceListing(iso));
    EXPECT_EQ(held(), 1u + 20 + 1 + 20 * 40);
    EXPECT_EQ(readOps(disc, "/d19/f39"), "x");
}

TEST_F(DiscOps, UnreadableImagesShowNothing) {
    DiscFs missing;
    EXPECT_NE(missing.load((root_ / "none.om4").string()), 0);
    // Without its data the disc shows an empty root.
    fs::remove(fs::path(container_).replace_extension(".000"));
    DiscFs empty;
    ASSERT_EQ(empty.load(container_), 0);
    struct stat st;
    EXPECT_EQ(empty.getattr("/", &st), 0);
    EXPECT_EQ(empty.getattr("/readme.txt", &st), -ENOENT);
    int entries = 0;
    EXPECT_EQ(empty.readdir("/", [&](const char*, const struct stat&) { ++entries; }), 0);
    EXPECT_EQ(entries, 0);
    char byte;
    EXPECT_EQ(empty.read(0, &byte, 1, 0), -EBADF);
}

// A hostile disc converted like any other: names that would leave the folder are made safe,
// and what can be read is shown.
TEST_F(DiscOps, HostileDiscThroughTheWholeReader) {
    MemoryDisc raw(64);
    std::string table;
    pathRecord(table, std::string(1, '\0'), 20, 1);
    pathRecord(table, "..", 21, 1);
    pathRecord(table, "LOOP", 21, 3);
    pathRecord(table, "FAR", 9000, 1);
    descriptor(raw.at(16), 1, 18, uint32_t(table.size()), 20);
    descriptor(raw.at(17), 255, 0, 0, 0);
    put(raw, 18, table);
    std::string records = folderStart(20, kSectorBytes);
    dirRecord(records, "../../ESCAPE;1", 30, 5);
    dirRecord(records, "PAST;1", 60, 20000);  // runs past the end of the disc
    dirRecord(records, "OK;1", 31, 3);
    put(raw, 20, records);
    put(raw, 30, "hello");
    put(raw, 31, "abc");
    std::ofstream(root_ / "hostile.iso", std::ios::binary)
        .write(reinterpret_cast<const char*>(raw.bytes.data()), std::streamsize(raw.bytes.size()));
    std::string container = convert(root_ / "hostile.iso", root_ / "h/Hostile.om4", OMXCVT_PLAIN);
    ASSERT_FALSE(container.empty());
    DiscFs disc;
    ASSERT_EQ(disc.load(container), 0);
    t::DiscListing listing;
    listOps(disc, "/", "", listing);
    EXPECT_EQ(listing,
              (t::DiscListing{{".._.._ESCAPE", 5}, {"PAST", 20000}, {"OK", 3}, {"FAR", -1}}));
    EXPECT_EQ(readOps(disc, "/OK"), "abc");
    EXPECT_EQ(readOps(disc, "/.._.._ESCAPE"), "hello");
    // A read reaching past the disc's end fails whole (a short answer would read as the file's
    // end); the part before it reads in a smaller piece.
    uint64_t handle = 0;
    ASSERT_EQ(disc.open("/PAST", O_RDONLY, 0, handle), 0);
    std::vector<char> buffer(20000);
    EXPECT_EQ(disc.read(handle, buffer.data(), buffer.size(), 0), -EIO);
    EXPECT_EQ(disc.read(handle, buffer.data(), 4 * 2048, 0), 4 * 2048);
    EXPECT_EQ(disc.read(handle, buffer.data(), buffer.size(), 4 * 2048), -EIO);
}

// Through a real mount, when this machine lets the test mount.
// A folder too large for one listing call is listed over several, each resuming where the last
// one ended: every name once, with the attributes the disc gives.
TEST_F(DiscOps, ALargeFolderListsWholeThroughTheMount) {
    std::string why;
    if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
    const fs::path src = root_ / "wide";
    for (int f = 0; f < 3000; ++f)
        t::writeFile(src / "many" / ("a rather long file name " + std::to_string(f) + ".txt"),
                     std::string(size_t(f % 7), 'x'));
    const fs::path iso = t::makeIso(src, root_ / "wide.iso", true);
    ASSERT_FALSE(iso.empty());
    const std::string container = (root_ / "img/Wide.om4").string();
    ASSERT_EQ(t::convertIso(iso, container, OMXCVT_LZ), 0);
    const fs::path folder = root_ / "Device/CdRom1";
    fs::create_directories(folder);
    auto disc = std::make_unique<DiscFs>();
    ASSERT_EQ(disc->load(container), 0);
    std::string error;
    auto mount = oxtmpdrv::DiscMount::start(std::move(disc), folder.string(), {}, error);
    if (!mount) GTEST_SKIP() << "mount refused here: " << error;
    EXPECT_EQ(t::folderListing(folder), t::referenceListing(iso));
}

TEST_F(DiscOps, MountedDiscReadsLikeTheSourceAndUnmountsWithFilesOpen) {
    std::string why;
    if (!oxtmpdrv::fuseUsable(why)) GTEST_SKIP() << why;
    const fs::path folder = root_ / "Device/CdRom0";
    fs::create_directories(folder);
    std::string error;
    auto disc = std::make_unique<DiscFs>();
    ASSERT_EQ(disc->load(container_), 0);
    auto mount = oxtmpdrv::DiscMount::start(std::move(disc), folder.string(), {}, error);
    if (!mount) GTEST_SKIP() << "mount refused here: " << error;
    fs::path expected = root_ / "ref";
    ASSERT_TRUE(t::referenceExtract(iso_, expected));
    EXPECT_EQ(t::folderListing(folder), t::referenceListing(iso_));
    std::string diff;
    EXPECT_TRUE(t::sameTrees(folder, expected, diff)) << diff;
    EXPECT_FALSE(std::ofstream(folder / "new.txt").is_open());

    // Taken out with a file open: the folder is free at once, the open file goes on reading
    // the disc without an error, and the disc is let go when the file is closed.
    const std::string source = t::readFile(root_ / "src/one/mixed.bin");
    ombrix::platform::UniqueFd open(::open((folder / "one/mixed.bin").c_str(), O_RDONLY));
    ASSERT_TRUE(open.valid());
    char buffer[4096];
    EXPECT_EQ(::pread(open.get(), buffer, sizeof buffer, 0), ssize_t(sizeof buffer));
    ::posix_fadvise(open.get(), 0, 0, POSIX_FADV_DONTNEED);
    mount->detach();
    EXPECT_TRUE(fs::is_empty(folder));
    ASSERT_EQ(::pread(open.get(), buffer, sizeof buffer, 200000), ssize_t(sizeof buffer));
    EXPECT_EQ(std::string(buffer, sizeof buffer), source.substr(200000, sizeof buffer));
    EXPECT_FALSE(mount->finished());
    open.reset();
    EXPECT_TRUE(t::waitFor([&] { return mount->finished(); }));
    mount.reset();

    // Ended outright with a file open (the driver stops): the reader is answered at once, with
    // an error or from pages the kernel still holds, and nothing waits.
    disc = std::make_unique<DiscFs>();
    ASSERT_EQ(disc->load(container_), 0);
    mount = oxtmpdrv::DiscMount::start(std::move(disc), folder.string(), {}, error);
    ASSERT_TRUE(mount) << error;
    open.reset(::open((folder / "one/mixed.bin").c_str(), O_RDONLY));
    ASSERT_TRUE(open.valid());
    ::posix_fadvise(open.get(), 0, 0, POSIX_FADV_DONTNEED);
    mount.reset();
    EXPECT_TRUE(fs::is_empty(folder));
    const ssize_t late = ::pread(open.get(), buffer, sizeof buffer, 100000);
    EXPECT_TRUE(late < 0 || late == ssize_t(sizeof buffer)) << late;
    open.reset();

    // The next disc mounts at the same folder.
    disc = std::make_unique<DiscFs>();
    ASSERT_EQ(disc->load(container_), 0);
    mount = oxtmpdrv::DiscMount::start(std::move(disc), folder.string(), {}, error);
    ASSERT_TRUE(mount) << error;
    EXPECT_EQ(t::readFile(folder / "readme.txt"), "hello\n");
    mount.reset();
}

TEST(FuseConf, OtherUsersOnlyWhenAllowed) {
    if (::geteuid() == 0) {
        EXPECT_TRUE(oxtmpdrv::otherUsersAllowed("/nonexistent"));
        return;
    }
    t::TempRoot root;
    t::writeFile(root / "fuse.conf", "# user_allow_other\n");
    EXPECT_FALSE(oxtmpdrv::otherUsersAllowed((root / "fuse.conf").string()));
    t::writeFile(root / "fuse.conf", "mount_max = 10\n  user_allow_other  \n");
    EXPECT_TRUE(oxtmpdrv::otherUsersAllowed((root / "fuse.conf").string()));
}

}  // namespace
