#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// Starting programs and opening documents the way the shell's "open" verb does, without a shell:
// an executable runs directly with its arguments, any other file opens with the desktop's
// handler (xdg-open). The started program is detached: it outlives the caller and is never a
// zombie of it.
namespace ombrix::platform {

// Shell results: above 32 on success, else one of these.
constexpr long kShellOutOfResources = 0;
constexpr long kShellFileNotFound = 2;
constexpr long kShellPathNotFound = 3;
constexpr long kShellAccessDenied = 5;
constexpr long kShellOutOfMemory = 8;
constexpr long kShellBadFormat = 11;
constexpr long kShellNoAssociation = 31;
constexpr long kShellSuccess = 42;

// Opens `file` with `arguments` (one text, split as programs split their command line) in
// `workingDirectory` (empty: the caller's). A name without '/' is looked up in $PATH.
long shellOpen(const std::string& file, const std::string& arguments,
               const std::string& workingDirectory);

// Starts `program` as a daemon: its own session, its standard streams on /dev/null. 0 or the
// errno of why it could not be started.
int startDaemon(const std::string& program, const std::string& workingDirectory);

// Blanks and tabs separate arguments; double quotes group blanks into one, and \" is a quote.
std::vector<std::string> splitArguments(std::string_view arguments);
// `argument` as one argument that splitArguments reads back as it is, whatever it holds.
std::string quoteArgument(std::string_view argument);

// A program in `folder` named `name` ("OxtHelp.exe" finds "oxthelp"): the exact name first, then
// a case-insensitive match with or without ".exe". Empty when there is none.
std::filesystem::path findProgramFile(const std::filesystem::path& folder, std::string_view name);
// The regular file of `folder` named `name` (the exact name first, then ignoring case); empty
// when there is none.
std::filesystem::path findFileIgnoringCase(const std::filesystem::path& folder,
                                           std::string_view name);

}  // namespace ombrix::platform
