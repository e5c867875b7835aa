#include "manager/image_contents.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "common/image_container.h"
#include "omxcvt.h"
#include "support/convert_iso.h"
#include "support/disc_fixtures.h"
#include "support/hostile_discs.h"
#include "support/multi_session.h"
#include "support/temp_root.h"

namespace fs = std::filesystem;
namespace oc = ombrix::contents;
namespace img = ombrix::image;
namespace t = ombrix::test;

namespace {

constexpr unsigned kSectorsPerPart = 50;

t::DiscListing readerListing(const oc::ImageContents& image) {
    t::DiscListing out;
    for (const auto& track : image.tracks()) {
        if (!track->data) continue;
        const oc::FileSystem& files = track->files;
        for (uint32_t i = 1; i < files.nodes.size(); ++i)
            out[files.path(i)] = files.nodes[i].directory ? -1 : int64_t(files.nodes[i].size);
    }
    return out;
}

// Extracts every file of the first track below `folder`.
void extractAll(const oc::ImageContents& image, const fs::path& folder) {
    const auto& track = *image.tracks().at(0);
    for (uint32_t i = 1; i < track.files.nodes.size(); ++i) {
        fs::path target = folder / track.files.path(i);
        if (track.files.nodes[i].directory) {
            fs::create_directories(target);
        } else {
            fs::create_directories(target.parent_path());
            ASSERT_EQ(image.extract(0, i, target.string(), false), 0) << target;
        }
    }
}

std::string convert(const fs::path& iso, const fs::path& target, int storage, int sectorSize) {
    return t::convertIso(iso, target, storage, sectorSize, kSectorsPerPart) == 0 ? target.string()
                                                                                 : std::string();
}

class Contents : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!t::haveDiscTools()) GTEST_SKIP() << "xorriso and bsdtar are needed";
    }
    t::TempRoot root_;
};

// Every storage and sector size, with and without Joliet names: the listing equals the archive
// tool's and every extracted file equals the one it extracts, including a file that spans the
// end of a track part file.
TEST_F(Contents, ListingAndExtractionMatchTheReferenceInEveryStorage) {
    t::makeSampleTree(root_ / "src");
    for (bool joliet : {true, false}) {
        fs::path iso = t::makeIso(root_ / "src", root_ / (joliet ? "j.iso" : "n.iso"), joliet);
        ASSERT_FALSE(iso.empty());
        const t::DiscListing reference = t::referenceListing(iso);
        ASSERT_GT(reference.size(), 8u);
        fs::path expected = root_ / (joliet ? "ref-j" : "ref-n");
        ASSERT_TRUE(t::referenceExtract(iso, expected));
        for (int storage : {OMXCVT_PLAIN, OMXCVT_LZ, OMXCVT_DEFLATE}) {
            for (int sectorSize : {2048, 2352}) {
                const std::string name = std::to_string(joliet) + "-" + std::to_string(storage) +
                                         "-" + std::to_string(sectorSize);
                SCOPED_TRACE(name);
                std::string container =
                    convert(iso, root_ / ("img-" + name) / "Disc.om4", storage, sectorSize);
                ASSERT_FALSE(container.empty());
                ASSERT_TRUE(fs::exists(img::partFileName(container, 0, 1)));
                oc::ImageContents image;
                ASSERT_EQ(image.open(container), 0);
                EXPECT_EQ(image.description(), "TEST_DISC");
                image.wait();
                ASSERT_EQ(image.tracks().size(), 1u);
                EXPECT_EQ(image.tracks()[0]->files.joliet, joliet);
                EXPECT_EQ(readerListing(image), reference);
                fs::path out = root_ / ("out-" + name);
                extractAll(image, out);
                std::string why;
                EXPECT_TRUE(t::sameTrees(out, expected, why)) << why;
            }
        }
    }
}

// A disc of two sessions: the second session's file system lists the first session's files too,
// and their data, which lie in the first track, are read from there.
TEST_F(Contents, FilesOfEarlierSessionsAreReadFromTheirTracks) {
    fs::path whole;
    const fs::path container = t::makeMultiSessionImage(root_ / "ms", whole);
    ASSERT_FALSE(container.empty());
    oc::ImageContents image;
    ASSERT_EQ(image.open(container.string()), 0);
    image.wait();
    ASSERT_EQ(image.tracks().size(), 2u);
    const auto& last = *image.tracks()[1];
    ASSERT_EQ(last.walkResult, oc::kWalkDone);
    size_t files = 0;
    for (uint32_t i = 1; i < last.files.nodes.size(); ++i) {
        if (last.files.nodes[i].directory) continue;
        ++files;
        const fs::path target = root_ / "out" / last.files.path(i);
        fs::create_directories(target.parent_path());
        ASSERT_EQ(image.extract(1, i, target.string(), false), 0) << last.files.path(i);
        const std::string name = target.filename().string();
        const bool earlier = name.rfind("first", 0) == 0;
        const int n = name[earlier ? 5 : 6] - '0';
        EXPECT_EQ(t::readFile(target),
                  std::string(size_t(n) * (earlier ? 1500 : 900), char((earlier ? 'a' : 'A') + n)))
            << name;
    }
    EXPECT_EQ(files, 17u);
}

TEST_F(Contents, FileAcrossPartFilesAndByteRanges) {
    t::makeSampleTree(root_ / "src");
    fs::path iso = t::makeIso(root_ / "src", root_ / "d.iso", true);
    ASSERT_FALSE(iso.empty());
    std::string container = convert(iso, root_ / "img/Disc.om4", OMXCVT_DEFLATE, 2352);
    ASSERT_FALSE(container.empty());
    oc::ImageContents image;
    ASSERT_EQ(image.open(container), 0);
    image.wait();
    const oc::FileSystem& files = image.tracks()[0]->files;
    long node = files.find("one/mixed.bin");
    ASSERT_GT(node, 0);
    const oc::Extent e = files.nodes[node].data.at(0);
    // 300000 bytes are 147 sectors: with 50 sectors per part the file crosses a part's end.
    EXPECT_NE(e.sector / kSectorsPerPart, (e.sector + 146) / kSectorsPerPart);

    const std::string source = t::readFile(root_ / "src/one/mixed.bin");
    for (uint64_t offset : {0ull, 1ull, 2047ull, 2048ull, 100000ull, 299990ull}) {
        std::vector<uint8_t> out(70000);
        size_t got = 0;
        ASSERT_EQ(image.read(0, uint32_t(node), offset, out.size(), out.data(), got), 0);
        ASSERT_EQ(got, std::min<size_t>(out.size(), source.size() - offset));
        EXPECT_EQ(std::string(out.begin(), out.begin() + long(got)), source.substr(offset, got))
            << offset;
    }
    size_t got = 1;
    uint8_t byte;
    EXPECT_EQ(image.read(0, uint32_t(node), source.size(), 1, &byte, got), 0);
    EXPECT_EQ(got, 0u);
}

TEST_F(Contents, ExtractionKeepsExistingFilesAndLeavesNothingWhenItFails) {
    t::makeSampleTree(root_ / "src");
    fs::path iso = t::makeIso(root_ / "src", root_ / "d.iso", true);
    std::string container = convert(iso, root_ / "img/Disc.om4", OMXCVT_PLAIN, 2048);
    ASSERT_FALSE(container.empty());
    oc::ImageContents image;
    ASSERT_EQ(image.open(container), 0);
    image.wait();
    const oc::FileSystem& files = image.tracks()[0]->files;
    const uint32_t readme = uint32_t(files.find("readme.txt"));
    const fs::path target = root_ / "readme.txt";
    t::writeFile(target, "mine");
    EXPECT_EQ(image.extract(0, readme, target.string(), false), oc::kTargetExists);
    EXPECT_EQ(t::readFile(target), "mine");
    EXPECT_EQ(image.extract(0, readme, target.string(), true), 0);
    EXPECT_EQ(t::readFile(target), "hello\n");

    // Cut the second part file short: the file crossing into it cannot be extracted whole.
    const uint32_t mixed = uint32_t(files.find("one/mixed.bin"));
    fs::resize_file(img::partFileName(container, 0, 1), 47 + 10 * 2048);
    oc::ImageContents again;
    ASSERT_EQ(again.open(container), 0);
    again.wait();
    const fs::path broken = root_ / "mixed.bin";
    EXPECT_NE(again.extract(0, mixed, broken.string(), false), 0);
    EXPECT_FALSE(fs::exists(broken));
    for (const auto& entry : fs::directory_iterator(root_.path()))
        EXPECT_EQ(entry.path().filename().string().find("mixed.bin."), std::string::npos);
}

TEST_F(Contents, UnreadableImagesAndTracks) {
    oc::ImageContents image;
    EXPECT_NE(image.open((root_ / "missing.om4").string()), 0);
    t::writeFile(root_ / "short.om4", "too short");
    EXPECT_NE(image.open((root_ / "short.om4").string()), 0);
    EXPECT_TRUE(image.tracks().empty());

    // A container whose data track's part file is gone shows the track without files.
    t::makeSampleTree(root_ / "src");
    fs::path iso = t::makeIso(root_ / "src", root_ / "d.iso", false);
    std::string container = convert(iso, root_ / "img/Disc.om4", OMXCVT_LZ, 2048);
    ASSERT_FALSE(container.empty());
    fs::remove(img::partFileName(container, 0, 0));
    ASSERT_EQ(image.open(container), 0);
    image.wait();
    ASSERT_EQ(image.tracks().size(), 1u);
    EXPECT_EQ(image.tracks()[0]->walkResult, oc::kWalkNoDescriptor);
    EXPECT_TRUE(image.tracks()[0]->files.empty());
}

TEST_F(Contents, ClosingStopsTheWalkAndReopeningWorks) {
    t::makeSampleTree(root_ / "src");
    fs::path iso = t::makeIso(root_ / "src", root_ / "d.iso", true);
    std::string container = convert(iso, root_ / "img/Disc.om4", OMXCVT_DEFLATE, 2048);
    oc::ImageContents image;
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(image.open(container), 0);
        image.close();
        EXPECT_TRUE(image.tracks().empty());
    }
    ASSERT_EQ(image.open(container), 0);
    image.wait();
    EXPECT_EQ(readerListing(image), t::referenceListing(iso));
}

// Runs a program with its standard error in `errors`; its exit status and peak memory (KB).
int runMeasured(std::vector<std::string> args, const fs::path& errors, long& peakKb) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (std::freopen(errors.c_str(), "w", stderr) == nullptr ||
            std::freopen("/dev/null", "w", stdout) == nullptr) {
            _exit(126);
        }
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    peakKb = usage.ru_maxrss;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Images whose numbers would have a careless reader allocate gigabytes: a path table chaining
// 65,000 folders, and a track whose sectors point at part files that cannot exist. Both are
// refused; the tool says why and stays small.
TEST_F(Contents, HostileImagesAreRefusedInLittleMemory) {
    const fs::path deepIso = t::makeDeepChainIso(root_ / "deep.iso", 65000);
    const std::string deep = convert(deepIso, root_ / "img/Deep.om4", OMXCVT_LZ, 2048);
    const std::string far = t::makeFarPartImage(root_ / "far/Far.om4").string();
    ASSERT_FALSE(deep.empty());
    ASSERT_FALSE(far.empty());
    const struct {
        std::string image;
        int walkResult;
        const char* says;
    } cases[] = {{deep, oc::kWalkTooLarge, "holds more than a disc may"},
                 {far, oc::kWalkUnreadable, "cannot be read"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        oc::ImageContents image;
        ASSERT_EQ(image.open(c.image), 0);
        image.wait();
        ASSERT_EQ(image.tracks().size(), 1u);
        EXPECT_EQ(image.tracks()[0]->walkResult, c.walkResult);

        long peakKb = 0;
        const auto started = std::chrono::steady_clock::now();
        const int status = runMeasured({(t::systemDir() / "omxcontents").string(), "list", c.image},
                                       root_ / "err", peakKb);
        const auto took = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(status, 1);
        EXPECT_NE(t::readFile(root_ / "err").find(c.says), std::string::npos)
            << t::readFile(root_ / "err");
        EXPECT_LT(peakKb, 256 * 1024);
        RecordProperty("peak_kb_" + fs::path(c.image).stem().string(), int(peakKb));
        RecordProperty("list_ms_" + fs::path(c.image).stem().string(),
                       int(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
}

// A legitimate deep tree lists every folder once; the listing neither recurses nor repeats.
TEST_F(Contents, DeepTreesListAndExtractWhole) {
    fs::path deep = root_ / "src";
    for (int n = 0; n < 60; ++n)
        deep /= "d";
    t::writeFile(deep / "bottom.txt", "deep down");
    fs::path iso = t::makeIso(root_ / "src", root_ / "deep.iso", true);
    ASSERT_FALSE(iso.empty());
    std::string container = convert(iso, root_ / "img/Deep.om4", OMXCVT_LZ, 2048);
    const std::string tool = t::shellQuoted(t::systemDir() / "omxcontents");
    int status = -1;
    std::string listing = t::runCommand(tool + " list " + t::shellQuoted(container), &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(std::count(listing.begin(), listing.end(), '\n'), 61);
    t::runCommand(tool + " extract " + t::shellQuoted(container) + " " +
                      t::shellQuoted(root_ / "out") + " 2>&1",
                  &status);
    EXPECT_EQ(status, 0);
    std::string why;
    EXPECT_TRUE(t::sameTrees(root_ / "out", root_ / "src", why)) << why;
}

// The command-line tool lists and extracts like the library.
TEST_F(Contents, CommandLineTool) {
    t::makeSampleTree(root_ / "src");
    fs::path iso = t::makeIso(root_ / "src", root_ / "d.iso", true);
    std::string container = convert(iso, root_ / "img/Disc.om4", OMXCVT_LZ, 2352);
    const std::string tool = t::shellQuoted(t::systemDir() / "omxcontents");
    int status = -1;
    std::string listing = t::runCommand(tool + " list " + t::shellQuoted(container), &status);
    EXPECT_EQ(status, 0);
    const std::string longName = "one/two/three/a file with a rather long name of many words.txt\n";
    const size_t at = listing.find(longName);
    ASSERT_NE(at, std::string::npos) << listing;
    const size_t lineStart = listing.rfind('\n', at) + 1;
    EXPECT_EQ(listing.substr(lineStart, 15), "-         5000 ") << listing;
    EXPECT_NE(listing.find("d "), std::string::npos);

    fs::path out = root_ / "out";
    t::runCommand(
        tool + " extract " + t::shellQuoted(container) + " " + t::shellQuoted(out) + " 2>&1",
        &status);
    EXPECT_EQ(status, 0);
    std::string why;
    EXPECT_TRUE(t::sameTrees(out, root_ / "src", why)) << why;
    // A second run keeps the files and says so.
    t::writeFile(out / "readme.txt", "changed");
    std::string err = t::runCommand(tool + " extract " + t::shellQuoted(container) + " " +
                                        t::shellQuoted(out) + " readme.txt 2>&1",
                                    &status);
    EXPECT_EQ(status, 1);
    EXPECT_EQ(t::readFile(out / "readme.txt"), "changed");
    t::runCommand(tool + " extract --overwrite " + t::shellQuoted(container) + " " +
                      t::shellQuoted(out) + " /readme.txt one 2>&1",
                  &status);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(t::readFile(out / "readme.txt"), "hello\n");
    t::runCommand(tool + " list " + t::shellQuoted(root_ / "nothing.om4") + " 2>/dev/null",
                  &status);
    EXPECT_EQ(status, 1);
    t::runCommand(tool + " frobnicate x 2>/dev/null", &status);
    EXPECT_EQ(status, 2);
}

}  // namespace
