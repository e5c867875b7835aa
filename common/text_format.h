#pragma once

#include <string>

namespace ombrix::strings {

// Puts `argument` in place of the first "%s" or "%d" of `format` and turns "%%" into "%". Nothing
// else is interpreted, so a text from a language file can never read past its argument.
inline std::string formatText(const std::string& format, const std::string& argument) {
    std::string out;
    bool used = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char next = format[i + 1];
            if (next == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (!used && (next == 's' || next == 'd')) {
                out += argument;
                used = true;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

}  // namespace ombrix::strings
