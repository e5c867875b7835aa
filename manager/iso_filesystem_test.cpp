#include "manager/iso_filesystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "manager/test_disc_image.h"

namespace oc = ombrix::contents;
using namespace ombrix::contents::testing;
using ombrix::contents::kSectorBytes;

namespace {

constexpr uint32_t kPvd = 16;
constexpr uint32_t kTable = 18;
constexpr uint32_t kRoot = 20;

// A disc whose root holds `rootRecords` after "." and ".."; the path table is `table`.
MemoryDisc makeDisc(const std::string& table, const std::string& rootRecords,
                    uint32_t sectors = 64) {
    MemoryDisc disc(sectors);
    descriptor(disc.at(kPvd), 1, kTable, static_cast<uint32_t>(table.size()), kRoot);
    descriptor(disc.at(kPvd + 1), 255, 0, 0, 0);
    put(disc, kTable, table);
    put(disc, kRoot, folderStart(kRoot, kSectorBytes) + rootRecords);
    return disc;
}

std::string rootOnlyTable() {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    return table;
}

// Every path reachable from the root, folders ending in "/".
std::set<std::string> paths(const oc::FileSystem& fs) {
    std::set<std::string> out;
    if (fs.nodes.empty()) return out;
    std::vector<uint32_t> pending = fs.nodes[0].children;
    while (!pending.empty()) {
        const uint32_t i = pending.back();
        pending.pop_back();
        EXPECT_TRUE(out.insert(fs.path(i) + (fs.nodes[i].directory ? "/" : "")).second)
            << "two nodes named " << fs.path(i);
        pending.insert(pending.end(), fs.nodes[i].children.begin(), fs.nodes[i].children.end());
    }
    return out;
}

TEST(IsoWalk, FoldersFromPathTableFilesFromRecordsAndJolietPreferred) {
    std::string table, jtable;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    pathRecord(table, "DOCS", 21, 1);
    pathRecord(table, "SUB", 22, 2);
    pathRecord(jtable, std::string(1, '\0'), 30, 1);
    pathRecord(jtable, ucs2(u"Docs \u00e4"), 31, 1);
    std::string rootRecords;
    dirRecord(rootRecords, "DOCS", 21, kSectorBytes, 2);
    dirRecord(rootRecords, "README.TXT;1", 40, 5);
    dirRecord(rootRecords, "NOEXT.;1", 41, 0);
    MemoryDisc disc = makeDisc(table, rootRecords);
    // Primary, then a Joliet descriptor; the search ends there.
    descriptor(disc.at(kPvd + 1), 2, 19, static_cast<uint32_t>(jtable.size()), 30, true);
    put(disc, 19, jtable);
    put(disc, 21, folderStart(21, kSectorBytes));
    put(disc, 22, folderStart(22, kSectorBytes));
    std::string jroot;
    dirRecord(jroot, ucs2(u"Read me.txt;1"), 40, 5);
    dirRecord(jroot, ucs2(u"emoji \U0001F600.txt"), 41, 0);
    put(disc, 30, folderStart(30, kSectorBytes) + jroot);
    std::string jdocs;
    dirRecord(jdocs, ucs2(u"inner"), 42, 7);
    put(disc, 31, folderStart(31, kSectorBytes) + jdocs);

    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_TRUE(fs.joliet);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"Docs \u00e4/", "Docs \u00e4/inner", "Read me.txt",
                                                "emoji \U0001F600.txt"}));
    long file = fs.find("Docs \u00e4/inner");
    ASSERT_GT(file, 0);
    EXPECT_EQ(fs.nodes[file].size, 7u);
    EXPECT_EQ(fs.nodes[file].modified, 1704153600);  // 2024-01-02 00:00 UTC

    // Without the Joliet descriptor the ISO names show, without version and trailing dot.
    descriptor(disc.at(kPvd + 1), 255, 0, 0, 0);
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_FALSE(fs.joliet);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"DOCS/", "DOCS/SUB/", "NOEXT", "README.TXT"}));
}

TEST(IsoWalk, UnreadableJolietTreeFallsBackToIsoNames) {
    std::string records;
    dirRecord(records, "FILE.TXT;1", 40, 3);
    MemoryDisc disc = makeDisc(rootOnlyTable(), records);
    // The Joliet descriptor's path table and root lie past the end of the disc.
    descriptor(disc.at(kPvd + 1), 2, 9000, 10, 9001, true);
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_FALSE(fs.joliet);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"FILE.TXT"}));
}

TEST(IsoWalk, NoVolumeDescriptorOrWrongBlockSizeShowsNothing) {
    MemoryDisc disc = makeDisc(rootOnlyTable(), "");
    disc.at(kPvd)[1] = 'X';
    oc::FileSystem fs;
    EXPECT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkNoDescriptor);
    EXPECT_TRUE(fs.empty());
    MemoryDisc small(8);  // too short to hold a descriptor at all
    EXPECT_EQ(oc::walkFileSystem(small, fs), oc::kWalkNoDescriptor);
    MemoryDisc odd = makeDisc(rootOnlyTable(), "");
    odd.at(kPvd)[129] = 0x02;  // 512-byte blocks
    EXPECT_EQ(oc::walkFileSystem(odd, fs), oc::kWalkNoDescriptor);
}

TEST(IsoWalk, PathTableLoopsAndForwardParentsAreLeftOut) {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    pathRecord(table, "A", 21, 3);  // parent after itself
    pathRecord(table, "B", 21, 2);  // child of the left-out A
    pathRecord(table, "C", 21, 4);  // its own parent
    pathRecord(table, "D", 21, 0);  // no parent
    pathRecord(table, "OK", 21, 1);
    MemoryDisc disc = makeDisc(table, "");
    put(disc, 21, folderStart(21, kSectorBytes));
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"OK/"}));
}

TEST(IsoWalk, ZeroLengthRecordsPadToTheNextBlock) {
    // Path table: root, then zero padding to the block end, then a folder in the next block.
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    table.resize(kSectorBytes, '\0');
    pathRecord(table, "LATE", 22, 1);
    // Root records: one file, padding, and a second file in the folder's second block.
    std::string records = folderStart(kRoot, 2 * kSectorBytes);
    dirRecord(records, "FIRST;1", 40, 1);
    records.resize(kSectorBytes, '\0');
    dirRecord(records, "SECOND;1", 41, 2);
    MemoryDisc disc(64);
    descriptor(disc.at(kPvd), 1, kTable, static_cast<uint32_t>(table.size()), kRoot);
    descriptor(disc.at(kPvd + 1), 255, 0, 0, 0);
    put(disc, kTable, table);
    put(disc, kRoot, records);
    put(disc, 22, folderStart(22, kSectorBytes));
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"FIRST", "SECOND", "LATE/"}));
}

TEST(IsoWalk, HostileNamesNeverLeaveTheirFolder) {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    pathRecord(table, "..", 21, 1);
    pathRecord(table, "a/b", 21, 1);
    std::string records;
    dirRecord(records, "..;1", 40, 1);
    dirRecord(records, ".", 40, 1);
    dirRecord(records, "../../etc/passwd;1", 40, 1);
    dirRecord(records, std::string("x\0y", 3), 40, 1);
    dirRecord(records, "line\nbreak", 40, 1);
    dirRecord(records, "SAME;1", 40, 1);
    dirRecord(records, "SAME;1", 41, 2);  // a second file of that name is left out
    dirRecord(records, "a_b;1", 42, 3);   // and so is a file named like a folder
    MemoryDisc disc = makeDisc(table, records);
    put(disc, 21, folderStart(21, kSectorBytes));
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs),
              (std::set<std::string>{"a_b/", ".._.._etc_passwd", "x", "line_break", "SAME"}));
    EXPECT_EQ(fs.nodes[fs.find("SAME")].size, 1u);
    EXPECT_TRUE(fs.nodes[fs.find("a_b")].directory);
    for (uint32_t i = 1; i < fs.nodes.size(); ++i) {
        EXPECT_EQ(fs.nodes[i].name.find('/'), std::string::npos);
        EXPECT_NE(fs.nodes[i].name, "..");
    }
}

TEST(IsoWalk, ExtentsPastTheTrackAndBrokenRecordsShowWhatIsReadable) {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    pathRecord(table, "GONE", 5000, 1);  // records past the end of the track
    pathRecord(table, "HUGE", 23, 1);    // claims 4 GiB of records
    pathRecord(table, "BROKEN", 24, 1);
    std::string records;
    dirRecord(records, "GOOD;1", 40, 3);
    MemoryDisc disc = makeDisc(table, records);
    std::string huge = folderStart(23, 0xFFFFFFFF);
    dirRecord(huge, "INHUGE;1", 40, 1);
    put(disc, 23, huge);
    // A record longer than its block, and one whose name runs past its record.
    std::string broken = folderStart(24, kSectorBytes);
    std::string bad;
    dirRecord(bad, "BAD;1", 40, 1);
    bad[32] = 100;
    broken += bad;
    put(disc, 24, broken);
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs),
              (std::set<std::string>{"GOOD", "GONE/", "HUGE/", "HUGE/INHUGE", "BROKEN/"}));
}

TEST(IsoWalk, ManyFoldersSharingOneHugeExtentCannotMakeTheWalkReadWithoutEnd) {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    for (int i = 0; i < 200; ++i)
        pathRecord(table, "D" + std::to_string(i), 23, 1);
    std::string records;
    dirRecord(records, "FIRST;1", 40, 1);
    MemoryDisc disc = makeDisc(table, records);
    std::string huge = folderStart(23, 0xFFFFFFFF);  // 41 sectors up to the end of the disc
    dirRecord(huge, "F;1", 40, 1);
    put(disc, 23, huge);
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs, nullptr, 1u << 20), oc::kWalkDone);
    // About a megabyte was read: a dozen folders show their file, the others none.
    EXPECT_LT(disc.reads, 600u);
    EXPECT_EQ(fs.nodes[fs.find("FIRST")].size, 1u);
    EXPECT_GT(fs.find("D0/F"), 0);
    EXPECT_LT(fs.find("D199/F"), 0);
    EXPECT_GT(fs.find("D199"), 0);
}

// A tree deeper than any path can name is refused as a whole, not shown cut off; so is a disc
// whose path table lies outside its track.
TEST(IsoWalk, TooDeepTreesAndUnreadablePathTablesAreRefused) {
    auto chain = [](int depth) {
        std::string table;
        pathRecord(table, std::string(1, '\0'), kRoot, 1);
        for (int n = 2; n <= depth + 1; ++n)
            pathRecord(table, "D", kRoot, static_cast<uint16_t>(n - 1));
        return table;
    };
    oc::FileSystem fs;
    MemoryDisc deepest = makeDisc(chain(oc::kMaxDepth), "");
    ASSERT_EQ(oc::walkFileSystem(deepest, fs), oc::kWalkDone);
    std::string path = "D";
    for (int n = 1; n < oc::kMaxDepth; ++n)
        path += "/D";
    EXPECT_GT(fs.find(path), 0);

    MemoryDisc tooDeep = makeDisc(chain(oc::kMaxDepth + 1), "");
    EXPECT_EQ(oc::walkFileSystem(tooDeep, fs), oc::kWalkTooLarge);

    MemoryDisc lost = makeDisc(rootOnlyTable(), "");
    descriptor(lost.at(kPvd), 1, 0x7FFFFFF0, 4096, kRoot);
    EXPECT_EQ(oc::walkFileSystem(lost, fs), oc::kWalkUnreadable);
}

TEST(IsoWalk, FileInSeveralExtentsReadsWhole) {
    std::string records;
    dirRecord(records, "BIG;1", 40, 2 * kSectorBytes, 0x80);
    dirRecord(records, "BIG;1", 50, 3000, 0x80);
    dirRecord(records, "BIG;1", 45, 10);
    dirRecord(records, "AFTER;1", 44, 4);
    MemoryDisc disc = makeDisc(rootOnlyTable(), records);
    for (uint32_t s = 40; s < 52; ++s)
        std::memset(disc.at(s), 'a' + int(s - 40), kSectorBytes);
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"BIG", "AFTER"}));
    const oc::Node& big = fs.nodes[fs.find("BIG")];
    ASSERT_EQ(big.data.size(), 3u);
    EXPECT_EQ(big.size, 2 * kSectorBytes + 3000 + 10);

    std::vector<uint8_t> all(big.size + 100);
    size_t got = 0;
    ASSERT_EQ(oc::readFileBytes(disc, big.data, 0, big.size, all.data(), got), 0);
    ASSERT_EQ(got, big.size);
    EXPECT_EQ(all[0], 'a');
    EXPECT_EQ(all[kSectorBytes], 'b');
    EXPECT_EQ(all[2 * kSectorBytes], 'k');         // sector 50
    EXPECT_EQ(all[2 * kSectorBytes + 2048], 'l');  // sector 51
    EXPECT_EQ(all[2 * kSectorBytes + 3000], 'f');  // third extent, sector 45
    // A range that starts inside the second extent and ends in the third.
    ASSERT_EQ(oc::readFileBytes(disc, big.data, 2 * kSectorBytes + 2990, 15, all.data(), got), 0);
    EXPECT_EQ(got, 15u);
    EXPECT_EQ(std::string(all.begin(), all.begin() + 15), "llllllllllfffff");
    // Reading past the file's end reads nothing more.
    ASSERT_EQ(oc::readFileBytes(disc, big.data, big.size - 4, 100, all.data(), got), 0);
    EXPECT_EQ(got, 4u);
}

TEST(IsoWalk, ReadsStopAtTheTrackEnd) {
    MemoryDisc disc = makeDisc(rootOnlyTable(), "", 42);
    std::vector<uint8_t> out(3 * kSectorBytes);
    size_t got = 0;
    EXPECT_EQ(disc.read(41, 100, out.size(), out.data(), got), oc::kReadPastEnd);
    EXPECT_EQ(got, kSectorBytes - 100);
    EXPECT_EQ(disc.read(0xFFFFFFFF, 0, 10, out.data(), got), oc::kReadPastEnd);
    EXPECT_EQ(got, 0u);
}

TEST(IsoWalk, TrackStartingLaterFindsItsDescriptorsInItsSession) {
    // A track from sector 1000: its descriptors start 16 sectors in, addresses are disc-wide.
    MemoryDisc disc(64, 1000);
    std::string table;
    pathRecord(table, std::string(1, '\0'), 1020, 1);
    descriptor(disc.at(1016), 1, 1018, static_cast<uint32_t>(table.size()), 1020);
    descriptor(disc.at(1017), 255, 0, 0, 0);
    put(disc, 1018, table);
    std::string records = folderStart(1020, kSectorBytes);
    dirRecord(records, "LATE.TXT;1", 1030, 5);
    put(disc, 1020, records);
    oc::FileSystem fs;
    ASSERT_EQ(oc::walkFileSystem(disc, fs), oc::kWalkDone);
    EXPECT_EQ(paths(fs), (std::set<std::string>{"LATE.TXT"}));
}

TEST(IsoWalk, StopFlagEndsTheWalk) {
    std::string table;
    pathRecord(table, std::string(1, '\0'), kRoot, 1);
    pathRecord(table, "A", 21, 1);
    MemoryDisc disc = makeDisc(table, "");
    std::atomic<bool> stop{true};
    oc::FileSystem fs;
    EXPECT_EQ(oc::walkFileSystem(disc, fs, &stop), oc::kWalkStopped);
}

}  // namespace
