#include "manager/start_options.h"

#include <sys/stat.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "platform/ascii.h"

namespace ombrix::mng {
namespace {

constexpr size_t kMessageLimit = 520;

std::string unquoted(std::string text) {
    std::erase(text, '"');
    return text;
}

}  // namespace

StartOptions parseStartOptions(const std::vector<std::string>& arguments) {
    StartOptions options;
    std::string line;
    for (const auto& a : arguments) {
        if (!line.empty()) line += ' ';
        line += a;
    }
    options.empty = line.empty();
    if (ascii::equalsIgnoreCase(line, "/search")) options.open = StartOptions::Open::Search;
    if (ascii::equalsIgnoreCase(line, "/Convert")) options.open = StartOptions::Open::Convert;
    if (ascii::equalsIgnoreCase(line, "/Create")) options.open = StartOptions::Open::Create;
    const std::string upper = ascii::toUpper(line);
    if (upper.find("/LOGMAX") != std::string::npos) {
        options.logLevel = 2;
    } else if (upper.find("/LOGMIN") != std::string::npos) {
        options.logLevel = 0;
    } else if (upper.find("/LOG") != std::string::npos) {
        options.logLevel = 1;
    }
    if (!arguments.empty()) {
        std::string first = unquoted(arguments.front());
        if (ascii::endsWithIgnoreCase(first, ".om4")) options.imageToAdd = std::move(first);
    }
    return options;
}

std::string programLogPath() {
    std::filesystem::path folder;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state != nullptr && *state == '/') {
        folder = state;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        folder = std::filesystem::path(home) / ".local/state";
    } else {
        return {};
    }
    return (folder / "ombrix" / "OMXMNG.log").string();
}

bool ProgramLog::open(const std::string& path, int level) {
    file_.reset();
    if (path.empty()) return false;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    file_.reset(std::fopen(path.c_str(), "w"));
    level_ = level;
    return on();
}

void ProgramLog::write(int level, std::string_view message) {
    if (!file_ || level > level_) return;
    char time[64] = "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) != nullptr) std::strftime(time, sizeof time, "%X", &local);
    message = message.substr(0, kMessageLimit);
    const bool written = std::fprintf(file_.get(), "\n%s | %.*s", time,
                                      static_cast<int>(message.size()), message.data()) > 0 &&
                         std::fflush(file_.get()) == 0;
    if (!written) file_.reset();
}

}  // namespace ombrix::mng
