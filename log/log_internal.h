#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Pieces of the log library that tests check on their own.
namespace ombrix::logging {

// Room for the level, date and time at the start of a line, and for everything after them.
constexpr size_t kDateArea = 256;
constexpr size_t kTextArea = 4096;

// The machine-wide mutex that keeps the lines of all processes loading the library file at
// `libraryPath` apart: the path upper-cased, blanks and path marks turned into '_'.
std::string mutexNameForLibrary(std::string_view libraryPath);

// The canonical path of the loaded file that contains `address`; empty when unknown.
std::string loadedFileOf(const void* address);

// The length of the longest prefix of `text` that does not end inside a UTF-8 sequence, so a
// line cut at a buffer's end does not end in a broken character.
size_t completeUtf8Prefix(const char* text, size_t length);

}  // namespace ombrix::logging
