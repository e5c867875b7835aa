#include "log/oxtlog.h"

#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <locale.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <type_traits>

#include "log/log_internal.h"
#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/named_mutex.h"
#include "platform/session_id.h"
#include "platform/unique_fd.h"

namespace ombrix::logging {
namespace {

constexpr int kMutexWaitMs = 1000;
constexpr const char* kLogFileName = "OXTLog.log";
constexpr const char* kFallbackMutexName = "Global\\NRV_OXTLOG_MTX";

// What every line of this process shares, fixed when the library is loaded. Plain arrays only,
// so there is nothing to destroy at exit while another thread may still be writing a line.
struct ProcessState {
    char program[NAME_MAX + 1] = "";
    char sessionText[48] = "";  // " (Sid <n>) : "
    char mutexName[PATH_MAX + 32] = "";
    char dateFormat[128] = "%m/%d/%y";
    locale_t timeLocale = static_cast<locale_t>(0);
};
static_assert(std::is_trivially_destructible_v<ProcessState>);

template <size_t N>
void copyText(char (&target)[N], const char* text) {
    ascii::copyToBuffer(text, target, static_cast<long>(N));
}

void findProgramName(ProcessState& state) {
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) {
        copyText(state.program, program_invocation_short_name);
        return;
    }
    exe[n] = '\0';
    // A program replaced on disk while running shows as "<path> (deleted)".
    constexpr const char* kDeleted = " (deleted)";
    size_t length = static_cast<size_t>(n);
    size_t suffix = std::strlen(kDeleted);
    if (length > suffix && std::strcmp(exe + length - suffix, kDeleted) == 0) {
        exe[length - suffix] = '\0';
    }
    const char* slash = std::strrchr(exe, '/');
    copyText(state.program, slash != nullptr ? slash + 1 : exe);
}

void findMutexName(ProcessState& state) {
    // The mutex follows the library's own file, so every process loading it shares one.
    std::string path = loadedFileOf(reinterpret_cast<const void*>(&findMutexName));
    copyText(state.mutexName,
             path.empty() ? kFallbackMutexName : mutexNameForLibrary(path).c_str());
}

void findDateFormat(ProcessState& state) {
    locale_t locale = ::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(0));
    if (locale == static_cast<locale_t>(0)) {
        locale = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(0));
    }
    if (locale == static_cast<locale_t>(0)) return;
    state.timeLocale = locale;  // kept for the life of the process
    const char* format = ::nl_langinfo_l(D_FMT, locale);
    if (format != nullptr && *format != '\0') copyText(state.dateFormat, format);
}

ProcessState makeState() {
    ProcessState state;
    try {
        ::tzset();
        findProgramName(state);
        std::snprintf(state.sessionText, sizeof state.sessionText,
                      " (Sid %u) : ", static_cast<unsigned>(platform::currentSessionId()));
        findMutexName(state);
        findDateFormat(state);
    } catch (...) {
        // Out of memory at load: lines go out with whatever was found.
    }
    if (state.mutexName[0] == '\0') copyText(state.mutexName, kFallbackMutexName);
    return state;
}

const ProcessState& processState() {
    static const ProcessState state = makeState();
    return state;
}

__attribute__((constructor)) void setUpOnLoad() {
    processState();
}

// The threshold in force; false when lines are off (no value, or not a number).
bool readThreshold(int& threshold) {
    char value[64];
    if (EnvGetGlobalValue("OXTLogLevel", value, sizeof value) == 0) return false;
    char* end = nullptr;
    long long number = std::strtoll(value, &end, 10);
    if (end == value) return false;
    if (number > INT_MAX) number = INT_MAX;
    if (number < INT_MIN) number = INT_MIN;
    threshold = static_cast<int>(number);
    return true;
}

// Root's processes write the shared log in the installation folder. Every other account writes
// a log of its own: the shared one is root's, so nobody can put lines into it in its name.
bool readLogPath(std::string& path, bool& shared) {
    shared = ::geteuid() == 0;
    if (!shared) {
        const char* state = std::getenv("XDG_STATE_HOME");
        const char* home = std::getenv("HOME");
        if (state != nullptr && state[0] == '/') {
            path = state;
        } else if (home != nullptr && home[0] == '/') {
            path = std::string(home) + "/.local/state";
        } else {
            return false;
        }
        path += "/ombrix";
        std::error_code ec;
        std::filesystem::create_directories(path, ec);
        path += "/";
        path += kLogFileName;
        return true;
    }
    char home[PATH_MAX];
    if (EnvGetGlobalValue("OmxHomePath", home, sizeof home) == 0 || home[0] == '\0') return false;
    path = home;
    if (path.back() != '/') path += '/';
    path += kLogFileName;
    return true;
}

// snprintf's answer as the number of characters actually in a buffer of `size`.
size_t storedLength(int written, size_t size) {
    if (written < 0) return 0;
    return static_cast<size_t>(written) < size ? static_cast<size_t>(written) : size - 1;
}

// Level, date and time in the first area, program, session and message in the second; each
// cut at its end. Returns the length including the closing line break.
size_t composeLine(char (&line)[kDateArea + kTextArea + 1], int level, const char* format,
                   va_list args) {
    const ProcessState& state = processState();

    std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char date[128] = "";
    char clock[32] = "";
    size_t dateLength =
        state.timeLocale != static_cast<locale_t>(0)
            ? ::strftime_l(date, sizeof date, state.dateFormat, &local, state.timeLocale)
            : std::strftime(date, sizeof date, state.dateFormat, &local);
    date[dateLength] = '\0';
    std::strftime(clock, sizeof clock, "%H:%M:%S", &local);

    size_t head =
        storedLength(std::snprintf(line, kDateArea, "%.2d - %s %s", level, date, clock), kDateArea);
    head = completeUtf8Prefix(line, head);

    char* text = line + head;
    size_t prefix = storedLength(
        std::snprintf(text, kTextArea, " %s%s", state.program, state.sessionText), kTextArea);
    size_t room = kTextArea - prefix;
    size_t message = 0;
    if (room > 1) {
        int written = std::vsnprintf(text + prefix, room, format, args);
        message = storedLength(written, room);
        if (written < 0) text[prefix] = '\0';
    }
    size_t body = completeUtf8Prefix(text, prefix + message);

    line[head + body] = '\n';
    return head + body + 1;
}

void appendToFile(const std::string& path, const char* data, size_t length) {
    // O_APPEND: each line lands whole at the end even when a writer goes ahead without the mutex.
    // Never through a link: a privileged writer would append to whatever it points at.
    platform::UniqueFd fd(::open(
        path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644));
    struct stat st {};
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    while (length > 0) {
        ssize_t n = ::write(fd.get(), data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void writeLine(const std::string& path, bool shared, const char* line, size_t length) {
    if (!shared) {
        appendToFile(path, line, length);
        return;
    }
    // Opened per line: the machine root is read on every call, and a forked child must not share
    // its parent's lock.
    platform::NamedMutex mutex(processState().mutexName);
    platform::NamedMutex::WaitResult wait = mutex.lock(kMutexWaitMs);
    bool held = wait == platform::NamedMutex::WaitResult::Acquired ||
                wait == platform::NamedMutex::WaitResult::Abandoned;
    // A writer stuck for more than a second must not stop the others: write regardless.
    appendToFile(path, line, length);
    if (held) mutex.unlock();
}

}  // namespace
}  // namespace ombrix::logging

OMX_EXPORT void OXTLog(int level, const char* format, ...) {
    using namespace ombrix::logging;
    if (format == nullptr) return;
    try {
        int threshold = 0;
        if (!readThreshold(threshold) || level < threshold) return;
        std::string path;
        bool shared = false;
        if (!readLogPath(path, shared)) return;

        char line[kDateArea + kTextArea + 1];
        va_list args;
        va_start(args, format);
        size_t length = composeLine(line, level, format, args);
        va_end(args);
        writeLine(path, shared, line, length);
    } catch (...) {
        // Logging never fails towards the caller.
    }
}
