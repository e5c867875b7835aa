#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The management program's command line, and the log it writes for itself when asked.
namespace ombrix::mng {

struct StartOptions {
    enum class Open { Nothing, Search, Convert, Create };
    Open open = Open::Nothing;
    // The log's detail level: 2 for "/logmax", 0 for "/logmin", 1 for "/log"; none: no log.
    std::optional<int> logLevel;
    // An image file (".om4") named by the first argument, to add to the catalogue.
    std::string imageToAdd;
    bool empty = true;  // no arguments at all
};

StartOptions parseStartOptions(const std::vector<std::string>& arguments);

// "OMXMNG.log" in the user's state folder ($XDG_STATE_HOME/ombrix, else ~/.local/state/ombrix):
// the installation folder is root's.
std::string programLogPath();

// The program's own log: made anew at each start; each line a line feed, the local time, " | "
// and the message cut at 520 characters, flushed at once. A failed write ends logging.
class ProgramLog {
  public:
    bool open(const std::string& path, int level);
    bool on() const { return file_ != nullptr; }
    // Written when `level` is at most the log's level.
    void write(int level, std::string_view message);

  private:
    struct Closer {
        void operator()(FILE* f) const { std::fclose(f); }
    };
    std::unique_ptr<FILE, Closer> file_;
    int level_ = 0;
};

}  // namespace ombrix::mng
