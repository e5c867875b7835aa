#include "common/inifile.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

#include "support/temp_root.h"

namespace {

using ombrix::test::readFile;
using ombrix::test::TempRoot;
using ombrix::test::writeFile;
using Clock = std::chrono::steady_clock;

// Loads `text` from a file in `root` for reading.
void load(const TempRoot& root, const std::string& text, CIniFile& ini) {
    writeFile(root / "a.dat", text);
    ASSERT_EQ(ini.OpenAndLoad(false, 1), 0);
    ini.Close();
}

std::string value(const CIniFile& ini, std::string_view section, std::string_view key) {
    std::string out;
    return ini.GetValue(section, key, out) ? out : "<missing>";
}

long elapsedMs(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

// Runs `body` in a child process; its return value is the child's exit code.
template <typename Body>
pid_t spawn(Body body) {
    pid_t pid = ::fork();
    if (pid == 0) ::_exit(body());
    return pid;
}

int exitCode(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(IniFileParse, TrimsUnquotesSkipsAndMerges) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    load(root,
         "orphan=1\n[Images]\n  a =  'a b'  \na2=' a b '\nq=\"x\nempty=\"\"\n=novalue\n;c=1\n"
         "\"k\"=quoted key\n[other]\nz=1\n[IMAGES]\nrepeat=1\nrepeat=2\n[x=y]\n",
         ini);
    EXPECT_EQ(value(ini, "Images", "A"), "a b");
    EXPECT_EQ(value(ini, "Images", "a2"), " a b ");
    EXPECT_EQ(value(ini, "images", "q"), "\"x");
    EXPECT_EQ(value(ini, "IMAGES", "empty"), "");
    EXPECT_EQ(value(ini, " Images ", "k"), "quoted key");
    EXPECT_EQ(value(ini, "Images", "repeat"), "2");
    EXPECT_EQ(value(ini, "Images", "[x"), "y]");  // "=" in a section makes an entry
    EXPECT_EQ(ini.GetSection("Images")->size(), 7u);
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(ini.GetSectionNames(names), 2);
    EXPECT_EQ(names, (std::vector<std::string>{"[IMAGES]", "[OTHER]"}));
}

TEST(IniFileParse, KeysComeOutSortedAndTheLastRepeatWins) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    load(root,
         "[S]\nOMXImage_9=a\nOMXImage_10=b\nOMXImage_11=c\nOMXImage_8=d\nOMXImage_10=e\n"
         "[T]\nb=1\n[S]\nOMXImage_12=f\nOMXImage_9=g\n",
         ini);
    CEntryList entries;
    ASSERT_TRUE(ini.GetSectionEntries("S", entries));
    std::string got;
    for (const CEntry& entry : entries)
        got += entry.key + "=" + entry.value + " ";
    EXPECT_EQ(got, "OMXIMAGE_10=e OMXIMAGE_11=c OMXIMAGE_12=f OMXIMAGE_8=d OMXIMAGE_9=g ");
}

// Keys are folded eight bytes at a time and compared a word at a time: every length, bytes above
// 0x7f (UTF-8, which must pass unchanged) and long shared prefixes must give what folding and
// comparing byte by byte gives.
TEST(IniFileParse, KeysOfEveryLengthFoldAndSortByteWise) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    const std::string alphabet = "aZz{`@\xC3\xA4\xE1\xFA_09";
    std::vector<std::string> keys;
    std::string text = "[S]\n";
    for (size_t length = 1; length <= 19; ++length) {
        for (size_t shift = 0; shift < alphabet.size(); ++shift) {
            std::string key = std::string(length > 9 ? length - 9 : 0, 'p');
            while (key.size() < length)
                key += alphabet[(key.size() + shift) % alphabet.size()];
            keys.push_back(ombrix::ascii::toUpper(key));
            text += key + "=" + std::to_string(keys.size()) + "\n";
        }
    }
    load(root, text, ini);
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    CEntryList entries;
    ASSERT_TRUE(ini.GetSectionEntries("S", entries));
    std::vector<std::string> got;
    for (const CEntry& entry : entries)
        got.push_back(entry.key);
    EXPECT_EQ(got, keys);
}

TEST(IniFileParse, LineEndsBomAndLongLines) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    const std::string longValue(10000, 'v');
    load(root, "\xEF\xBB\xBF[S]\r\nk1=a\r\nk2=" + longValue + "=tail\rx\nk3=b", ini);
    EXPECT_EQ(value(ini, "S", "k1"), "a");
    EXPECT_EQ(value(ini, "S", "k2"), longValue + "=tail\rx");  // whole, no entry from its tail
    EXPECT_EQ(value(ini, "S", "k3"), "b");
    EXPECT_EQ(ini.GetSection("S")->size(), 3u);
}

TEST(IniFileParse, JunkLoadsWhatItCan) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    std::string junk = "\x01\xff\xfe[\x80\n[S]\nk=a";
    junk += '\0';
    junk += "b\n\"unterminated='oops\n[\n]\n[unclosed\n";
    junk += std::string("\0\0\n", 3);
    load(root, junk, ini);
    EXPECT_EQ(value(ini, "S", "k"), std::string("a\0b", 3));
    EXPECT_EQ(value(ini, "S", "\"unterminated"), "'oops");
    EXPECT_EQ(ini.GetSection("S")->size(), 2u);
}

TEST(IniFileSave, WritesUpperCaseCrLfAndTruncates) {
    TempRoot root;
    const auto path = root / "a.dat";
    writeFile(path, "[Images]\nOMXImage_1=x\nOMXImage_2=long value that goes away\n[Zap]\n");
    CIniFile ini(path.string());
    ASSERT_EQ(ini.OpenAndLoad(true, 1), 0);
    EXPECT_TRUE(ini.SetValue("images", "OMXImage_2", nullptr));
    EXPECT_TRUE(ini.RemoveSection("zap"));
    EXPECT_TRUE(ini.SetValue("Empty", "k", "v"));
    EXPECT_TRUE(ini.SetValue("Empty", "k", nullptr));
    ASSERT_EQ(ini.Save(), 0);
    ini.Close();
    EXPECT_EQ(readFile(path), "[EMPTY]\r\n[IMAGES]\r\nOMXIMAGE_1=x\r\n");
}

// A saved file is written in one form whatever the loaded lines looked like: lines already in
// that form are copied as they were read, everything else is written anew, and a changed value
// between unchanged lines lands in its place.
TEST(IniFileSave, LoadedLinesInMixedFormsComeOutCanonical) {
    TempRoot root;
    const auto path = root / "a.dat";
    writeFile(path,
              "[S]\r\nA=1\r\nB=2\r\nC=3\r\nD = 4\r\nE=\"5 \"\r\nF=6 \r\n  G=7\r\nH=8\n"
              "I='9'\r\nJ=\r\nK=last");
    CIniFile ini(path.string());
    ASSERT_EQ(ini.OpenAndLoad(true, 1), 0);
    ASSERT_TRUE(ini.SetValue("S", "b", "two"));
    ASSERT_EQ(ini.Save(), 0);
    ini.Close();
    EXPECT_EQ(readFile(path),
              "[S]\r\nA=1\r\nB=two\r\nC=3\r\nD=4\r\nE=\"5 \"\r\nF=6\r\nG=7\r\nH=8\r\nI=9\r\n"
              "J=\r\nK=last\r\n");
}

TEST(IniFileSave, ValuesReadBackAsStored) {
    TempRoot root;
    const auto path = root / "a.dat";
    CIniFile ini(path.string());
    ASSERT_EQ(ini.OpenAndLoad(true, 1), 0);
    const std::vector<std::string> values{" lead", "trail\t", "\"q\"", "'a'", "\"", "a=b", ""};
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_TRUE(ini.SetValue("S", "k" + std::to_string(i), values[i]));
    }
    const std::string longKey(3000, 'k');  // long names are not cut: these two stay apart
    ASSERT_TRUE(ini.SetValue("S", longKey + "1", "one"));
    ASSERT_TRUE(ini.SetValue("S", longKey + "2", "two"));
    ASSERT_TRUE(ini.SetValue("S", "\" spaced \"", "s"));
    ASSERT_EQ(ini.Save(), 0);
    ini.Close();

    CIniFile again(path.string());
    ASSERT_EQ(again.OpenAndLoad(false, 1), 0);
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(value(again, "S", "k" + std::to_string(i)), values[i]);
    }
    EXPECT_EQ(value(again, "S", longKey + "2"), "two");
    EXPECT_EQ(*again.GetSection("S"), *ini.GetSection("S"));
}

TEST(IniFileSave, HeaderWithEqualsSurvivesSave) {
    TempRoot root;
    const auto path = root / "a.dat";
    writeFile(path, "[a=b]\nk=1\n[0]\nz=2\n");
    CIniFile ini(path.string());
    ASSERT_EQ(ini.OpenAndLoad(true, 1), 0);
    ASSERT_EQ(ini.Save(), 0);
    ASSERT_EQ(ini.OpenAndLoad(false, 1), 0);
    EXPECT_EQ(value(ini, "a=b", "k"), "1");
    EXPECT_EQ(value(ini, "0", "z"), "2");
}

TEST(IniFileSave, RefusesWhatCannotBeWrittenBack) {
    TempRoot root;
    CIniFile ini((root / "a.dat").string());
    EXPECT_FALSE(ini.SetValue("", "k", "v"));
    EXPECT_FALSE(ini.SetValue("S", "  ", "v"));
    EXPECT_FALSE(ini.SetValue("S", "k", "a\r\n[EVIL]\r\nx=1"));
    EXPECT_FALSE(ini.SetValue("S", "a=b", "v"));
    EXPECT_FALSE(ini.SetValue("S", ";k", "v"));
    EXPECT_FALSE(ini.SetValue("A=B", "k", "v"));
    EXPECT_FALSE(ini.SetValue("Missing", "k", nullptr));
    EXPECT_EQ(ini.GetSection("S"), nullptr);
    CEntryList entries{{"old", "1"}};
    EXPECT_FALSE(ini.GetSectionEntries("S", entries));
    ASSERT_TRUE(ini.SetValue("S", "k", "v"));
    ASSERT_TRUE(ini.GetSectionEntries("s", entries));
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].key, "K");
    EXPECT_EQ(ini.Save(), 6);  // never opened
    ini.Clear();
    EXPECT_EQ(ini.GetSection("S"), nullptr);
}

TEST(IniFileOpen, ErrorCodes) {
    TempRoot root;
    CIniFile missing((root / "none.dat").string());
    const auto start = Clock::now();
    EXPECT_EQ(missing.OpenAndLoad(false, 15), 2);
    EXPECT_LT(elapsedMs(start), 300);  // no retries: 15 attempts would take 700 ms
    EXPECT_EQ(CIniFile((root / "no/x.dat").string()).OpenAndLoad(false, 15), 3);
    EXPECT_EQ(CIniFile((root / "no/x.dat").string()).OpenAndLoad(true, 15), 3);
    EXPECT_EQ(CIniFile(root.path().string()).OpenAndLoad(true, 15), 5);

    CIniFile created((root / "new.dat").string());
    ASSERT_EQ(created.OpenAndLoad(true, 1), 0);
    EXPECT_TRUE(std::filesystem::exists(root / "new.dat"));
    EXPECT_EQ(std::filesystem::file_size(root / "new.dat"), 0u);

    // A failed load keeps nothing; Save after a read-only load is refused.
    writeFile(root / "a.dat", "[S]\nk=v\n");
    CIniFile ini((root / "a.dat").string());
    ASSERT_EQ(ini.OpenAndLoad(false, 1), 0);
    EXPECT_EQ(ini.Save(), 5);
    std::filesystem::remove(root / "a.dat");
    EXPECT_EQ(ini.OpenAndLoad(false, 1), 2);
    EXPECT_EQ(ini.GetSection("S"), nullptr);
}

TEST(IniFileLocking, ReaderGivesUpOnHeldWriterAndWriterWaitsForReader) {
    TempRoot root;
    const std::string path = (root / "a.dat").string();
    writeFile(path, "[S]\nk=v\n");
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = spawn([&] {
        CIniFile ini(path);
        if (ini.OpenAndLoad(true, 1) != 0) return 1;
        (void)!::write(ready[1], "x", 1);
        ::usleep(1500 * 1000);
        return 0;
    });
    char c;
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    CIniFile reader(path);
    auto start = Clock::now();
    EXPECT_EQ(reader.OpenAndLoad(false, CIniFile::kAttempts), 32);
    const long waited = elapsedMs(start);
    EXPECT_GE(waited, 650);
    EXPECT_LT(waited, 5000);
    EXPECT_EQ(reader.GetSection("S"), nullptr);
    EXPECT_EQ(exitCode(holder), 0);

    pid_t sharer = spawn([&] {
        CIniFile ini(path);
        if (ini.OpenAndLoad(false, 1) != 0) return 1;
        (void)!::write(ready[1], "x", 1);
        ::usleep(200 * 1000);
        return 0;
    });
    ASSERT_EQ(::read(ready[0], &c, 1), 1);
    CIniFile other(path);
    ASSERT_EQ(other.OpenAndLoad(false, 1), 0);  // readers share
    other.Close();
    CIniFile writer(path);
    start = Clock::now();
    EXPECT_EQ(writer.OpenAndLoad(true, CIniFile::kAttempts), 0);
    EXPECT_GE(elapsedMs(start), 100);
    EXPECT_EQ(value(writer, "S", "k"), "v");
    EXPECT_EQ(exitCode(sharer), 0);
    ::close(ready[0]);
    ::close(ready[1]);
}

TEST(IniFileLocking, ConcurrentWritersLoseNoEntry) {
    TempRoot root;
    const std::string path = (root / "a.dat").string();
    constexpr int kAdds = 200;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    auto adder = [&](int id) {
        return spawn([&, id] {
            ::close(go[1]);
            char c;
            (void)!::read(go[0], &c, 1);  // returns at end of file: both start together
            for (int i = 0; i < kAdds; ++i) {
                int err = -1;
                for (int tries = 0; tries < 20 && err != 0; ++tries) {
                    CIniFile ini(path);
                    err = ini.OpenAndLoad(true, CIniFile::kAttempts);
                    if (err != 0) continue;
                    const std::string key = "P" + std::to_string(id) + "_" + std::to_string(i);
                    if (!ini.SetValue("Images", key, "v")) return 2;
                    ::usleep(100);  // widen the window between load and save
                    if (ini.Save() != 0) return 2;
                    ini.Close();
                }
                if (err != 0) return 1;
            }
            return 0;
        });
    };
    pid_t first = adder(1);
    pid_t second = adder(2);
    ::close(go[1]);
    ::close(go[0]);
    EXPECT_EQ(exitCode(first), 0);
    EXPECT_EQ(exitCode(second), 0);

    CIniFile ini(path);
    ASSERT_EQ(ini.OpenAndLoad(false, 1), 0);
    ASSERT_NE(ini.GetSection("Images"), nullptr);
    EXPECT_EQ(ini.GetSection("Images")->size(), 2u * kAdds);
}

}  // namespace
