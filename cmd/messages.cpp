#include "cmd/messages.h"

#include <map>

#include "common/text_format.h"
#include "platform/ui/user_interface.h"

namespace ombrix::cmd {
namespace {

enum class Kind { Information, Error, Always };

struct Message {
    const char* text;
    Kind kind;
    ui::Icon icon;
};

const std::map<int, Message>& table() {
    using ui::Icon;
    static const std::map<int, Message> messages = {
        {kCannotExecute,
         {"Cannot execute the start program. Please check the settings and your 'execute' "
          "rights.",
          Kind::Error, Icon::Error}},
        {kNoExecuteRight,
         {"You do not have 'execute' rights for the start program assigned to this file.",
          Kind::Error, Icon::Error}},
        {kProgramNotFound,
         {"Cannot find start program or document. Please check the settings for the start "
          "program assigned to this file.",
          Kind::Error, Icon::Error}},
        {kNoMemory,
         {"Not enough memory to execute the start program. Please end one or more other "
          "applications and try again.",
          Kind::Error, Icon::Error}},
        {kNoAssociation,
         {"There is no start program assigned to this document.", Kind::Error, Icon::Error}},
        {kImageNotFound, {"Ombrix ('%s') not found. ", Kind::Error, Icon::Error}},
        {kNotInserted, {"Ombrix ('%s') not inserted.", Kind::Error, Icon::Error}},
        {kLoading,
         {"Load the ombrix '%s' in the '%s' drive.", Kind::Information, Icon::Information}},
        {kEjectingOther, {"Eject a ombrix.", Kind::Information, Icon::Information}},
        {kNotVirtualDrive, {"'%s' is not a valid virtual drive.", Kind::Error, Icon::Error}},
        {kDriveInUse,
         {"The virtual drive is already in use. Ejecting the ombrix...", Kind::Information,
          Icon::Information}},
        {kInserted, {"The ombrix has been inserted.", Kind::Information, Icon::Information}},
        {kSearchingDrive,
         {"Searching for the virtual drive '%s' to eject the ombrix '%s'.", Kind::Information,
          Icon::Information}},
        {kEjectingFrom,
         {"Ejecting the ombrix from the '%s' drive.", Kind::Information, Icon::Information}},
        // Shown in normal mode too, so that an eject is confirmed; it reports a success, hence
        // the information icon.
        {kEjected, {"The ombrix was ejected from the drive.", Kind::Error, Icon::Information}},
        {kExecuteLine, {"Execute '%s' command.", Kind::Information, Icon::Information}},
        {kNotDescription, {"'%s' is not a ombrix description.", Kind::Error, Icon::Error}},
        {kNotRecognized, {"'%s' argument not recognized.", Kind::Error, Icon::Error}},
        {kAllProcessed, {"All arguments processed.", Kind::Information, Icon::Information}},
        {kExecutingFile, {"Executing the '%s' file.", Kind::Information, Icon::Information}},
        {kFileNotFound, {"File ('%s') not found.", Kind::Error, Icon::Error}},
        {kFileTooLong, {"File ( '%s') is too long.", Kind::Error, Icon::Error}},
        {kCannotOpenFile, {"Cannot open the parameter file.", Kind::Error, Icon::Error}},
        {kPasswordInvalid,
         {"The password for CD %s is invalid; the CD was not inserted.", Kind::Error, Icon::Error}},
        {kCannotFindImage, {"Cannot find the specified ombrix.", Kind::Error, Icon::Error}},
        {kPlayerNotRunning, {"The OMX Player is not running.", Kind::Always, Icon::Error}},
        {kCannotEject, {"Cannot eject the ombrix.", Kind::Error, Icon::Error}},
        {kWrongLanguageVersion,
         {"The language file has the wrong version - using build in language. Please download "
          "the current language files.",
          Kind::Always, Icon::Information}},
        {kNotContainer, {"%s is not a valid Ombrix v4 container.", Kind::Error, Icon::Error}},
    };
    return messages;
}

}  // namespace

std::string builtInText(int id) {
    auto it = table().find(id);
    return it == table().end() ? std::string() : it->second.text;
}

Messages::Messages(Translate translate) : translate_(std::move(translate)) {}

void Messages::show(int id, std::initializer_list<std::string> arguments) {
    auto it = table().find(id);
    if (it == table().end()) return;
    const Message& message = it->second;
    bool shown = message.kind == Kind::Always ||
                 (message.kind == Kind::Error && mode_ != Mode::Quiet) ||
                 (message.kind == Kind::Information && mode_ == Mode::Verbose);
    if (!shown) return;
    std::string format = message.text;
    if (translate_) {
        if (auto translated = translate_(id)) format = *translated;
    }
    ui::userInterface().messageBox(kBoxCaption, strings::formatTexts(format, arguments) + "\n",
                                   message.icon, ui::Buttons::Ok, {});
}

}  // namespace ombrix::cmd
