#include "log/oxtlog.h"

#include <gtest/gtest.h>
#include <link.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "log/log_internal.h"
#include "outside/env/oxtenv.h"
#include "platform/named_mutex.h"
#include "platform/session_id.h"
#include "support/temp_root.h"

namespace {

namespace fs = std::filesystem;
using ombrix::logging::kDateArea;
using ombrix::logging::kTextArea;

// Everything after the date and time, as this test program writes it.
const std::string kProgramPart = " oxtlog_test (Sid ";

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));  // unterminated last line
            break;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The message part of a line, empty when the line does not have the expected frame.
std::string messageOf(const std::string& line) {
    static const std::regex frame(R"(^\d{2} - .+ \d{2}:\d{2}:\d{2} oxtlog_test \(Sid \d+\) : )");
    std::smatch match;
    if (!std::regex_search(line, match, frame)) return {};
    return line.substr(match.length(0));
}

// The canonical path of the loaded log library, as it names its own mutex.
std::string loadedLogLibrary() {
    std::string found;
    dl_iterate_phdr(
        [](dl_phdr_info* info, size_t, void* data) {
            std::string name = info->dlpi_name != nullptr ? info->dlpi_name : "";
            if (fs::path(name).filename() != "liboxtlog.so") return 0;
            *static_cast<std::string*>(data) = fs::canonical(name).string();
            return 1;
        },
        &found);
    return found;
}

// Lines of one writer of the concurrency test; long, so torn writes would show.
constexpr int kWriters = 4;
constexpr int kLinesEach = 200;
constexpr const char* kWriterVariable = "OXTLOG_TEST_WRITER";

std::string writerPayload() {
    return std::string(700, 'p');
}

void writeTestLines(int writer) {
    const std::string payload = writerPayload();
    for (int i = 0; i < kLinesEach; ++i) {
        OXTLog(0, "writer %d line %d %s", writer, i, payload.c_str());
    }
}

// Started as a writer of the concurrency test: write the lines and end before any test runs.
[[maybe_unused]] const bool kRanAsWriter = [] {
    const char* writer = std::getenv(kWriterVariable);
    if (writer == nullptr) return false;
    writeTestLines(std::atoi(writer));
    std::_Exit(0);
}();

class OxtLogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        home_ = root_.path() / "install";
        fs::create_directories(home_);
        EnvSetGlobalValue("OmxHomePath", (home_.string() + "/").c_str());
    }

    fs::path logFile() const { return home_ / "OXTLog.log"; }
    std::string content() const { return ombrix::test::readFile(logFile()); }
    std::vector<std::string> lines() const { return splitLines(content()); }

    ombrix::test::TempRoot root_;
    fs::path home_;
};

// --- threshold -----------------------------------------------------------------------------

TEST_F(OxtLogTest, MissingThresholdWritesNothingWhateverTheLevel) {
    for (int level : {INT_MIN, -1, 0, 3, 0x0FFFFFFF, INT_MAX})
        OXTLog(level, "level %d", level);
    EXPECT_FALSE(fs::exists(logFile()));
}

TEST_F(OxtLogTest, UnusableThresholdWritesNothing) {
    for (const char* value : {"", "abc", " "}) {
        EnvSetGlobalValue("OXTLogLevel", value);
        OXTLog(3, "with threshold '%s'", value);
    }
    EXPECT_FALSE(fs::exists(logFile()));
}

TEST_F(OxtLogTest, ThresholdIsReadOnEveryCall) {
    EnvSetGlobalValue("OXTLogLevel", "3");
    OXTLog(0, "info dropped");
    OXTLog(3, "error kept");
    OXTLog(7, "above kept");
    EnvSetGlobalValue("OXTLogLevel", "0");
    OXTLog(0, "info kept");
    OXTLog(3, "error kept too");

    std::vector<std::string> got;
    for (const std::string& line : lines())
        got.push_back(messageOf(line));
    EXPECT_EQ(
        got, (std::vector<std::string>{"error kept", "above kept", "info kept", "error kept too"}));
}

// --- line layout ---------------------------------------------------------------------------

TEST_F(OxtLogTest, LineHasLevelDateTimeProgramSessionAndMessage) {
    EnvSetGlobalValue("OXTLogLevel", "0");
    OXTLog(3, "value %d and %s", 42, "text");
    OXTLog(12, "two digits");

    std::string text = content();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    std::vector<std::string> all = splitLines(text);
    ASSERT_EQ(all.size(), 2u);

    static const std::regex layout(
        R"(^(\d{2}) - (\S.*) (\d{2}):(\d{2}):(\d{2}) oxtlog_test \(Sid (\d+)\) : (.*)$)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(all[0], m, layout)) << all[0];
    EXPECT_EQ(m[1], "03");
    EXPECT_LT(std::stoi(m[3]), 24);  // 24-hour clock
    EXPECT_LT(std::stoi(m[4]), 60);
    EXPECT_EQ(std::stoul(m[6]), ombrix::platform::currentSessionId());
    EXPECT_EQ(m[7], "value 42 and text");

    ASSERT_TRUE(std::regex_match(all[1], m, layout)) << all[1];
    EXPECT_EQ(m[1], "12");
    EXPECT_EQ(m[7], "two digits");
}

TEST_F(OxtLogTest, LongMessageIsCutAtTheBufferEnd) {
    EnvSetGlobalValue("OXTLogLevel", "0");
    const std::string message(10000, 'x');
    OXTLog(0, "%s", message.c_str());

    std::string text = content();
    ASSERT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    ASSERT_EQ(text.back(), '\n');
    EXPECT_LE(text.size(), kDateArea + kTextArea);
    // The text area is used to its last character, not cut short.
    size_t programAt = text.find(kProgramPart);
    ASSERT_NE(programAt, std::string::npos);
    EXPECT_LT(programAt, kDateArea);
    EXPECT_EQ(text.size() - 1 - programAt, kTextArea - 1);
    std::string kept = messageOf(text.substr(0, text.size() - 1));
    EXPECT_EQ(kept, std::string(kept.size(), 'x'));
}

TEST_F(OxtLogTest, CutMessageDoesNotEndInsideACharacter) {
    EnvSetGlobalValue("OXTLogLevel", "0");
    std::string message;
    for (int i = 0; i < 5000; ++i)
        message += "\xC3\xA9";  // é
    for (const char* lead : {"", "a"})
        OXTLog(0, "%s%s", lead, message.c_str());

    for (const std::string& line : lines()) {
        std::string kept = messageOf(line);
        ASSERT_GT(kept.size(), 1000u);
        if (kept[0] == 'a') kept.erase(0, 1);
        EXPECT_EQ(kept.size() % 2, 0u) << "last character broken";
        EXPECT_EQ(kept.substr(kept.size() - 2), "\xC3\xA9");
    }
}

TEST(Utf8Cut, KeepsOnlyWholeCharacters) {
    using ombrix::logging::completeUtf8Prefix;
    auto cut = [](std::string_view s) { return completeUtf8Prefix(s.data(), s.size()); };
    EXPECT_EQ(cut(""), 0u);
    EXPECT_EQ(cut("abc"), 3u);
    EXPECT_EQ(cut("a\xC3"), 1u);
    EXPECT_EQ(cut("a\xC3\xA9"), 3u);
    EXPECT_EQ(cut("\xE2\x82"), 0u);
    EXPECT_EQ(cut("\xE2\x82\xAC"), 3u);
    EXPECT_EQ(cut("x\xF0\x9F\x98"), 1u);
    EXPECT_EQ(cut("x\xF0\x9F\x98\x80"), 5u);
    EXPECT_EQ(cut("\xA9\xA9"), 2u);  // not UTF-8: left alone
}

// --- where the line goes -------------------------------------------------------------------

TEST_F(OxtLogTest, NoHomePathOrNullFormatWritesNothing) {
    EnvSetGlobalValue("OXTLogLevel", "0");
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-security"
    OXTLog(3, nullptr);
#pragma GCC diagnostic pop
    EXPECT_FALSE(fs::exists(logFile()));

    // Run in the root so a line sent to a relative "OXTLog.log" would show up.
    fs::path previous = fs::current_path();
    fs::current_path(root_.path());
    EnvDeleteGlobalValue("OmxHomePath");
    OXTLog(3, "no home");
    EnvSetGlobalValue("OmxHomePath", "");
    OXTLog(3, "empty home");
    EnvSetGlobalValue("OmxHomePath", (root_.path() / "missing/folder/").c_str());
    OXTLog(3, "home not there");
    fs::current_path(previous);

    for (const auto& entry : fs::recursive_directory_iterator(root_.path())) {
        EXPECT_NE(entry.path().filename(), "OXTLog.log") << entry.path();
    }
}

TEST_F(OxtLogTest, HomePathWithoutTrailingSlashStillNamesTheFolder) {
    EnvSetGlobalValue("OXTLogLevel", "0");
    EnvSetGlobalValue("OmxHomePath", home_.c_str());
    OXTLog(0, "in the folder");
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(messageOf(lines()[0]), "in the folder");
}

// --- mutual exclusion ----------------------------------------------------------------------

TEST(LogMutexName, FollowsTheLibraryPath) {
    using ombrix::logging::mutexNameForLibrary;
    EXPECT_EQ(mutexNameForLibrary("/opt/ombrix ts/system/liboxtlog.so"),
              "Global\\NRV__OPT_OMBRIX_TS_SYSTEM_LIBOXTLOG_SO_MTX");
    EXPECT_EQ(mutexNameForLibrary("C:\\Ombrix-TS\\oxtlog.dll"),
              "Global\\NRV_C__OMBRIX-TS_OXTLOG_DLL_MTX");
    EXPECT_EQ(mutexNameForLibrary(""), "Global\\NRV__MTX");
}

TEST_F(OxtLogTest, ConcurrentProcessesAndThreadsKeepLinesWhole) {
    EnvSetGlobalValue("OXTLogLevel", "0");

    // Separate programs, as on a real server: this test program started again as a writer.
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry)
            environment.emplace_back(*entry);
        environment.push_back(std::string(kWriterVariable) + "=" + std::to_string(writer));
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        char program[] = "oxtlog_test";
        char* argv[] = {program, nullptr};

        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::execve("/proc/self/exe", argv, envp.data());
            ::_exit(127);
        }
        children.push_back(pid);
    }
    std::vector<std::thread> threads;
    for (int writer = kWriters; writer < 2 * kWriters; ++writer) {
        threads.emplace_back([writer] { writeTestLines(writer); });
    }
    for (std::thread& t : threads)
        t.join();
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const std::string payload = writerPayload();
    std::string text = content();
    ASSERT_FALSE(text.empty());
    ASSERT_EQ(text.back(), '\n');
    std::vector<std::string> all = splitLines(text);
    ASSERT_EQ(all.size(), static_cast<size_t>(2 * kWriters * kLinesEach));
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : all) {
        std::string message = messageOf(line);
        int writer = -1;
        int index = -1;
        int used = 0;
        ASSERT_EQ(std::sscanf(message.c_str(), "writer %d line %d %n", &writer, &index, &used), 2)
            << line.substr(0, 120);
        ASSERT_EQ(message.substr(static_cast<size_t>(used)), payload) << line.substr(0, 120);
        EXPECT_TRUE(seen.emplace(writer, index).second) << "twice: " << writer << "/" << index;
    }
    EXPECT_EQ(seen.size(), all.size());
}

TEST_F(OxtLogTest, MutexHeldElsewhereDelaysTheLineAboutASecondThenWrites) {
    EnvSetGlobalValue("OXTLogLevel", "0");
    std::string library = loadedLogLibrary();
    ASSERT_FALSE(library.empty());
    std::string name = ombrix::logging::mutexNameForLibrary(library);

    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        ::close(ready[0]);
        ombrix::platform::NamedMutex mutex(name);
        char ok = mutex.lock(-1) == ombrix::platform::NamedMutex::WaitResult::Acquired ? 1 : 0;
        (void)!::write(ready[1], &ok, 1);
        ::sleep(5);
        ::_exit(0);
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, 1);

    auto start = std::chrono::steady_clock::now();
    OXTLog(3, "written after the wait");
    auto waited = std::chrono::steady_clock::now() - start;
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);

    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_LT(waited, std::chrono::milliseconds(4000));
    ASSERT_EQ(lines().size(), 1u);
    EXPECT_EQ(messageOf(lines()[0]), "written after the wait");
}

}  // namespace
