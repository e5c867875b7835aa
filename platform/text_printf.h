#pragma once

#include <cstdarg>
#include <string>

namespace ombrix::platform {

// printf-style formatting into a string of whatever length the text needs.
std::string formatV(const char* format, va_list args);
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace ombrix::platform
