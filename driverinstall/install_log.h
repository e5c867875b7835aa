#pragma once

#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>

namespace ombrix::drvinst {

// The installer's step log: one line per message, "<UTC time> <message>", the time written as
// the C library's "%c" in the C locale. Lines that cannot be written are dropped.
class InstallLog {
  public:
    explicit InstallLog(std::filesystem::path file) : file_(std::move(file)) {}

    // "drvinst.log" in the folder of the running program.
    static std::filesystem::path besideProgram();

    const std::filesystem::path& file() const { return file_; }
    void write(std::string_view message) const;
    void printf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  private:
    std::filesystem::path file_;
};

// `when` as UTC in the "%c" format of the C locale ("Thu Jan  1 00:00:00 1970").
std::string utcTimestamp(std::time_t when);

}  // namespace ombrix::drvinst
