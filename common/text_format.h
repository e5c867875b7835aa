#pragma once

#include <initializer_list>
#include <string>

namespace ombrix::strings {

// Puts the arguments, in order, in place of the "%s" and "%d" of `format` and turns "%%" into
// "%". Nothing else is interpreted, so a text from a language file can never read past its
// arguments; a place without an argument left stays as it is.
inline std::string formatTexts(const std::string& format,
                               std::initializer_list<std::string> arguments) {
    std::string out;
    auto next = arguments.begin();
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == '%' && i + 1 < format.size()) {
            char kind = format[i + 1];
            if (kind == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (next != arguments.end() && (kind == 's' || kind == 'd')) {
                out += *next++;
                ++i;
                continue;
            }
        }
        out += format[i];
    }
    return out;
}

// The same with one argument.
inline std::string formatText(const std::string& format, const std::string& argument) {
    return formatTexts(format, {argument});
}

}  // namespace ombrix::strings
