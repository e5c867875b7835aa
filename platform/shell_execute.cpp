#include "platform/shell_execute.h"

#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <system_error>

#include "platform/ascii.h"
#include "platform/unique_fd.h"

namespace ombrix::platform {

namespace fs = std::filesystem;

namespace {

long shellResultOfErrno(int error) {
    switch (error) {
        case 0: return kShellSuccess;
        case ENOENT: return kShellFileNotFound;
        case ENOTDIR: return kShellPathNotFound;
        case EACCES:
        case EPERM: return kShellAccessDenied;
        case ENOMEM: return kShellOutOfMemory;
        case ENOEXEC: return kShellBadFormat;
        default: return kShellOutOfResources;
    }
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// Runs argv detached: a child starts the program as its own child and leaves at once, so the
// program is adopted by init. The exec's errno comes back through a close-on-exec pipe.
int spawnDetached(std::vector<std::string> argv, const std::string& workingDirectory,
                  bool quiet = false) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return errno;
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    std::vector<char*> args;
    for (auto& a : argv)
        args.push_back(a.data());
    args.push_back(nullptr);

    pid_t child = ::fork();
    if (child < 0) return errno;
    if (child == 0) {
        ::setsid();
        pid_t grandchild = ::fork();
        if (grandchild != 0) _exit(grandchild < 0 ? 1 : 0);
        if (quiet) {
            // A daemon keeps nothing of its starter's: a caller reading what its own program
            // wrote would otherwise wait for the daemon's end.
            int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
            if (null >= 0) {
                ::dup2(null, STDIN_FILENO);
                ::dup2(null, STDOUT_FILENO);
                ::dup2(null, STDERR_FILENO);
            }
            // Nor any other descriptor the starter happened to leave inheritable.
            ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
        }
        int error = 0;
        if (!workingDirectory.empty() && ::chdir(workingDirectory.c_str()) != 0) {
            error = errno == ENOENT ? ENOTDIR : errno;
        } else {
            ::execvp(args[0], args.data());
            error = errno;
        }
        [[maybe_unused]] ssize_t n = ::write(writeEnd.get(), &error, sizeof error);
        _exit(127);
    }
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = ::read(readEnd.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == sizeof error) return error;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : ECHILD;
}

}  // namespace

int startDaemon(const std::string& program, const std::string& workingDirectory) {
    return spawnDetached({program}, workingDirectory, true);
}

std::vector<std::string> splitArguments(std::string_view arguments) {
    std::vector<std::string> result;
    std::string current;
    bool inQuotes = false, started = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        char c = arguments[i];
        if (c == '\\' && i + 1 < arguments.size() && arguments[i + 1] == '"') {
            current += '"';
            started = true;
            ++i;
        } else if (c == '"') {
            inQuotes = !inQuotes;
            started = true;
        } else if ((c == ' ' || c == '\t') && !inQuotes) {
            if (started) result.push_back(current);
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) result.push_back(current);
    return result;
}

std::string quoteArgument(std::string_view argument) {
    // Backslashes at the end stay outside the quotes: before the closing quote they would make
    // it a quote of the text.
    size_t end = argument.size();
    while (end > 0 && argument[end - 1] == '\\')
        --end;
    std::string quoted = "\"";
    for (char c : argument.substr(0, end))
        quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    quoted += '"';
    quoted += argument.substr(end);
    return quoted;
}

namespace {

// The regular file of `folder` whose name is one of `names`: the exact names first, then any
// case.
fs::path findFileNamed(const fs::path& folder, std::initializer_list<std::string_view> names) {
    std::error_code error;
    for (std::string_view name : names) {
        if (name.empty()) continue;
        fs::path exact = folder / std::string(name);
        if (fs::is_regular_file(exact, error)) return exact;
    }
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (!entry.is_regular_file(error)) continue;
        const std::string file = entry.path().filename().string();
        for (std::string_view name : names) {
            if (!name.empty() && ombrix::ascii::equalsIgnoreCase(file, name)) return entry.path();
        }
    }
    return {};
}

}  // namespace

fs::path findProgramFile(const fs::path& folder, std::string_view name) {
    if (name.empty()) return {};
    std::string_view bare = name;
    if (ombrix::ascii::endsWithIgnoreCase(bare, ".exe")) bare.remove_suffix(4);
    return findFileNamed(folder, {name, bare});
}

fs::path findFileIgnoringCase(const fs::path& folder, std::string_view name) {
    if (name.empty()) return {};
    return findFileNamed(folder, {name});
}

long shellOpen(const std::string& file, const std::string& arguments,
               const std::string& workingDirectory) {
    if (file.empty()) return kShellFileNotFound;
    std::error_code error;
    if (!workingDirectory.empty() && !fs::is_directory(workingDirectory, error)) {
        return kShellPathNotFound;
    }
    bool hasSlash = file.find('/') != std::string::npos;
    std::vector<std::string> argv;
    if (hasSlash) {
        fs::path path = fs::path(file);
        if (path.is_relative() && !workingDirectory.empty())
            path = fs::path(workingDirectory) / path;
        if (!fs::exists(path, error)) {
            return fs::is_directory(path.parent_path(), error) ? kShellFileNotFound
                                                               : kShellPathNotFound;
        }
        if (!isExecutableFile(path.string())) {
            // A document (or a folder): the desktop's handler opens it.
            argv = {"xdg-open", path.string()};
            int spawned = spawnDetached(argv, workingDirectory);
            return spawned == ENOENT ? kShellNoAssociation : shellResultOfErrno(spawned);
        }
        argv.push_back(path.string());
    } else {
        argv.push_back(file);
    }
    for (auto& a : splitArguments(arguments))
        argv.push_back(std::move(a));
    return shellResultOfErrno(spawnDetached(std::move(argv), workingDirectory));
}

}  // namespace ombrix::platform
