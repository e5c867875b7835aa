#pragma once

#include <functional>
#include <initializer_list>
#include <optional>
#include <string>

// The program's numbered messages and the output mode that decides which of them are shown.
namespace ombrix::cmd {

enum class Mode { Quiet, Normal, Verbose };

enum MessageId {
    kCannotExecute = 61237,
    kNoExecuteRight = 61238,
    kProgramNotFound = 61239,
    kNoMemory = 61240,
    kNoAssociation = 61241,
    kImageNotFound = 61244,
    kNotInserted = 61245,
    kLoading = 61246,
    kEjectingOther = 61247,
    kNotVirtualDrive = 61248,
    kDriveInUse = 61249,
    kInserted = 61251,
    kSearchingDrive = 61252,
    kEjectingFrom = 61255,
    kEjected = 61257,
    kExecuteLine = 61259,
    kNotDescription = 61260,
    kNotRecognized = 61261,
    kAllProcessed = 61262,
    kExecutingFile = 61263,
    kFileNotFound = 61272,
    kFileTooLong = 61273,
    kCannotOpenFile = 61274,
    kPasswordInvalid = 61285,
    kCannotFindImage = 61286,
    kPlayerNotRunning = 61287,
    kCannotEject = 61288,
    kWrongLanguageVersion = 61289,
    kNotContainer = 61290,
};

// Caption of every box of the program.
inline constexpr const char* kBoxCaption = "Ombrix TS";

// The built-in English text of a message, empty for an unknown id.
std::string builtInText(int id);

class Messages {
  public:
    // `translate` gives a message's text in the language in use, or nothing for the built-in one.
    using Translate = std::function<std::optional<std::string>(int)>;
    explicit Messages(Translate translate = {});

    void setMode(Mode mode) { mode_ = mode; }
    Mode mode() const { return mode_; }

    // Shows the message formatted with the arguments, followed by a line break, when the mode
    // lets its kind through: information in verbose mode, errors in normal and verbose mode,
    // and the two start-up notices always.
    void show(int id, std::initializer_list<std::string> arguments = {});

  private:
    Translate translate_;
    Mode mode_ = Mode::Normal;
};

}  // namespace ombrix::cmd
