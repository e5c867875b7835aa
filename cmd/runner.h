#pragma once

#include <string>
#include <vector>

#include "cmd/client.h"
#include "cmd/command_line.h"
#include "cmd/messages.h"

namespace ombrix::cmd {

// Commands of the program: insert (2), eject (3), run a program (4) and the catalogue codes 7
// to 10 of /D, which name image folders and have no further effect.
enum Command { kNoCommand = 0, kInsert = 2, kEject = 3, kRunProgram = 4 };

// Walks command lines and carries out their commands through the client library, telling the
// user through the numbered messages. One pending command is collected while a line is walked
// and run when the next command needs its place, when an option runs it at once, or at the end
// of the line.
class Runner {
  public:
    Runner(Client& client, Messages& messages);

    // Start-up: the session helper must run (else message 61287 and false); reads the
    // older-format preference and the session's virtual drives.
    bool start();

    // Runs one command line (mode flags, then the arguments in order); true when nothing of it
    // failed.
    bool runLine(const std::string& line);

    // Whether any command or argument failed so far.
    bool anyFailed() const { return failures_ > 0; }
    int attempts() const { return attempts_; }

  private:
    struct Pending {
        int command = kNoCommand;
        std::string image;  // absolute path of an image file, or the catalogue entry's path
        int index = 0;      // catalogue index, 0 when none
        char drive = 0;     // upper-case drive letter, 0 when none
        std::string password;
        std::string directory;
        std::string program;
        bool broken = false;   // its image could not be resolved; that was already reported
        OmxImageInfo entry{};  // the catalogue entry this command read last
        bool haveEntry = false;
        bool empty() const;
    };

    void applyModes(const SplitLine& split);
    void walk(const std::vector<Token>& arguments, const std::string& line);
    bool run(Pending& pending, const std::string& line);
    bool lastRunFailed_ = false;
    bool resolveImage(const std::string& text, Pending& pending);
    int findDescription(const std::string& text, OmxImageInfo& found);
    bool insert(Pending& pending);
    bool insertFromCatalogue(Pending& pending);
    bool insertFile(Pending& pending);
    bool passwordFits(const std::string& path, const std::string& password);
    bool eject(Pending& pending);
    bool runProgram(Pending& pending);
    void runCommandFile(const std::string& name);
    char chooseDrive(char given, char preferred);
    bool isVirtualDrive(char drive) const;
    bool readEntry(Pending& pending, int index);
    void insertFailed(int code, const std::string& name);
    bool fail();
    std::string imageName(const Pending& pending) const;

    Client& client_;
    Messages& messages_;
    std::string drives_;
    bool olderFormats_ = false;
    int attempts_ = 1;
    int failures_ = 0;
    int commandFileDepth_ = 0;
};

// "E:" for drive 'E', empty for none.
std::string driveText(char drive);

}  // namespace ombrix::cmd
