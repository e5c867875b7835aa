#include "cmd/command_line.h"

#include <cstring>

#include "platform/ascii.h"

namespace ombrix::cmd {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// A positive decimal number that fits an int, else 0.
int positiveNumber(const Token& token) {
    if (token.quoted || token.text.empty() || token.text.size() > 9) return 0;
    int value = 0;
    for (char c : token.text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::vector<Token> tokenize(const std::string& line) {
    std::vector<Token> tokens;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i]))
            ++i;
        if (i >= line.size()) break;
        size_t start = i;
        if (line[i] == '"') {
            int depth = 1;
            ++i;
            while (i < line.size() && depth > 0) {
                if (line[i] == '"') {
                    bool closes =
                        i + 1 >= line.size() || isBlank(line[i + 1]) || line[i + 1] == '"';
                    depth += closes ? -1 : 1;
                }
                ++i;
            }
        }
        while (i < line.size() && !isBlank(line[i]))
            ++i;
        std::string text = line.substr(start, i - start);
        Token token;
        if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
            token.text = text.substr(1, text.size() - 2);
            token.quoted = true;
        } else if (text.size() == 1 && text == "\"") {
            token.quoted = true;
        } else {
            token.text = std::move(text);
        }
        tokens.push_back(std::move(token));
    }
    return tokens;
}

SplitLine splitLine(const std::string& line) {
    SplitLine split;
    std::vector<Token> tokens = tokenize(line);
    for (size_t i = 0; i < tokens.size(); ++i) {
        const Token& token = tokens[i];
        const std::string& t = token.text;
        bool flag = !token.quoted && t.size() == 2 && std::strchr("/-?", t[0]) != nullptr &&
                    std::strchr("QNVTH?", ascii::upper(t[1])) != nullptr;
        if (!flag) {
            split.arguments.push_back(token);
            continue;
        }
        char letter = ascii::upper(t[1]);
        split.modes += letter;
        if (letter == 'T' && i + 1 < tokens.size()) {
            if (int n = positiveNumber(tokens[i + 1]); n > 0) {
                split.attempts = n;
                ++i;
            }
        }
    }
    return split;
}

char optionLetter(const Token& token) {
    const std::string& t = token.text;
    if (token.quoted || t.size() != 2 || (t[0] != '/' && t[0] != '-')) return 0;
    return ascii::upper(t[1]);
}

std::string joinArguments(const std::vector<std::string>& arguments) {
    std::string line;
    for (const std::string& argument : arguments) {
        if (argument.empty()) continue;
        if (!line.empty()) line += ' ';
        bool blank = argument.find_first_of(" \t") != std::string::npos;
        line += blank ? '"' + argument + '"' : argument;
    }
    return line;
}

}  // namespace ombrix::cmd
