#include "driverinstall/install_log.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/text_printf.h"
#include "platform/unique_fd.h"

namespace ombrix::drvinst {

std::filesystem::path InstallLog::besideProgram() {
    char exe[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return "drvinst.log";
    exe[n] = '\0';
    // A program replaced on disk while running shows as "<path> (deleted)".
    std::string path(exe, static_cast<size_t>(n));
    constexpr std::string_view kDeleted = " (deleted)";
    if (path.size() > kDeleted.size() && path.ends_with(kDeleted)) {
        path.resize(path.size() - kDeleted.size());
    }
    return std::filesystem::path(path).parent_path() / "drvinst.log";
}

std::string utcTimestamp(std::time_t when) {
    std::tm parts{};
    if (::gmtime_r(&when, &parts) == nullptr) return {};
    // The program may have set another locale; the log's time stamps stay in the C format.
    locale_t c = ::newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char text[128];
    size_t n = c != static_cast<locale_t>(nullptr)
                   ? ::strftime_l(text, sizeof text, "%c", &parts, c)
                   : std::strftime(text, sizeof text, "%c", &parts);
    if (c != static_cast<locale_t>(nullptr)) ::freelocale(c);
    return std::string(text, n);
}

void InstallLog::write(std::string_view message) const {
    std::string line = utcTimestamp(std::time(nullptr));
    line += ' ';
    line += message;
    line += '\n';
    platform::UniqueFd fd(::open(file_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return;
    // One write per line, so lines of concurrent writers never interleave.
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = ::write(fd.get(), line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

void InstallLog::printf(const char* format, ...) const {
    va_list args;
    va_start(args, format);
    std::string text = platform::formatV(format, args);
    va_end(args);
    write(text);
}

}  // namespace ombrix::drvinst
