// Starting programs for the client library's callers: the program of a catalogue entry, the
// session helper program, and the check that a file can be opened.
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

#include "common/debug_trace.h"
#include "common/names.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/locked_file.h"
#include "platform/named_mutex.h"
#include "platform/shell_execute.h"
#include "platform/win_error.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kHelperProgram = "OxtHelp.exe";
constexpr auto kHelperStartLimit = std::chrono::milliseconds(5000);

// The helper holds its session's mutex while it runs; asking never takes it, so a starting
// helper is not kept out by a probe.
bool helperRuns() {
    ombrix::platform::NamedMutex mutex(ombrix::names::kHelperMutex);
    return mutex.heldByAnyone();
}

// Where the helper program may be, each with the working directory it starts in.
std::vector<std::pair<fs::path, std::string>> helperCandidates() {
    std::vector<std::pair<fs::path, std::string>> candidates;
    char install[4096] = "";
    if (OMXGetInstallPath(install, sizeof install) == 0 && install[0] != '\0') {
        fs::path folder = fs::path(install) / "system";
        candidates.emplace_back(ombrix::platform::findProgramFile(folder, kHelperProgram),
                                folder.string());
    }
    std::error_code error;
    candidates.emplace_back(
        ombrix::platform::findProgramFile(fs::current_path(error), kHelperProgram), "");
    fs::path self = fs::read_symlink("/proc/self/exe", error).parent_path();
    candidates.emplace_back(ombrix::platform::findProgramFile(self, kHelperProgram), self.string());
    return candidates;
}

}  // namespace

OMX_EXPORT int OMXCheckOMXPlay(void) {
    if (helperRuns()) return 1;
    for (const auto& [program, directory] : helperCandidates()) {
        if (program.empty()) continue;
        // The helper lives as long as the session: it keeps nothing of the caller's, so a script
        // that reads what its program wrote is not kept waiting by it.
        if (ombrix::platform::startDaemon(program.string(), directory) != 0) continue;
        auto deadline = std::chrono::steady_clock::now() + kHelperStartLimit;
        while (std::chrono::steady_clock::now() < deadline) {
            if (helperRuns()) return 1;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return helperRuns() ? 1 : 0;
    }
    return 0;
}

OMX_EXPORT long OMXExecute(const char* commandLine, const char* workingDirectory) {
    if (commandLine == nullptr) return ombrix::platform::kShellFileNotFound;
    std::string_view line(commandLine);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
        line.remove_prefix(1);
    std::string program, arguments;
    std::error_code error;
    if (!line.empty() && line.front() == '"') {
        size_t close = line.find('"', 1);
        program =
            std::string(line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
        if (close != std::string_view::npos) arguments = std::string(line.substr(close + 1));
    } else if (fs::is_regular_file(std::string(line), error)) {
        program = std::string(line);
    } else {
        size_t split = line.find(' ');
        if (split == std::string_view::npos) split = line.find('\t');
        program = std::string(line.substr(0, split));
        if (split != std::string_view::npos) arguments = std::string(line.substr(split + 1));
    }
    ombrix::debugTrace("OMXExecute: '%s' '%s'", program.c_str(), arguments.c_str());
    return ombrix::platform::shellOpen(program, arguments,
                                       workingDirectory != nullptr ? workingDirectory : "");
}

OMX_EXPORT void OMXReplaceDriveVar(char* text, char drive) {
    if (text == nullptr) return;
    static constexpr std::string_view kVariable = "%OMXDrive%";
    char* out = text;
    for (const char* in = text; *in != '\0';) {
        if (ombrix::ascii::startsWithIgnoreCase(in, kVariable)) {
            *out++ = drive;
            in += kVariable.size();
        } else {
            *out++ = *in++;
        }
    }
    *out = '\0';
}

OMX_EXPORT int OMXCheckAccessFile(const char* path, unsigned desiredAccess) {
    if (path == nullptr || path[0] == '\0') return ombrix::win::kFileNotFound;
    ombrix::platform::LockedFile file;
    auto access = (desiredAccess & OMX_ACCESS_WRITE) != 0 ? ombrix::platform::FileAccess::Update
                                                          : ombrix::platform::FileAccess::Read;
    int error = file.open(path, access);
    if (error == 0) {
        std::error_code ec;
        if (fs::is_directory(path, ec)) error = ombrix::win::kAccessDenied;
    }
    return error;
}
