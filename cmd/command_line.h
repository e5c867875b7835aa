#pragma once

#include <string>
#include <vector>

// Splitting a command line of the program into tokens, mode flags and arguments.
namespace ombrix::cmd {

struct Token {
    std::string text;     // without enclosing quotes
    bool quoted = false;  // it was enclosed in double quotes: always a value, never an option
};

// Tokens are separated by blanks (spaces and tabs). A token that begins with a double quote runs
// to its matching closing quote: a quote followed by a blank, another quote or the end closes one
// level, any other quote opens one, so a quoted program path inside a quoted value stays whole.
// A token enclosed in quotes loses them; an unmatched quote runs to the end of the line.
std::vector<Token> tokenize(const std::string& line);

struct SplitLine {
    std::string
        modes;  // the mode flags' letters in order, upper case ("Q", "N", "V", "T", "H", "?")
    int attempts = 0;              // the number after /T, 0 when none was given
    std::vector<Token> arguments;  // all other tokens, in order
};

// Mode flags are two-character tokens "/x", "-x" or "?x" whose x is one of Q N V T H ? (any
// case); only whole two-character tokens count, so that absolute paths such as "/var/x.om4" stay
// arguments. A positive decimal number right after /T is consumed as its attempt count.
SplitLine splitLine(const std::string& line);

// The option letter (upper case) of an argument "/x" or "-x", or 0 for a value.
char optionLetter(const Token& token);

// One command line from a program's arguments: arguments holding blanks are put in quotes, so
// that the line splits into the same arguments again.
std::string joinArguments(const std::vector<std::string>& arguments);

}  // namespace ombrix::cmd
