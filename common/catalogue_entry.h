#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "common/omx_image_types.h"

// The catalogue entry text: eight fields joined by "|" (path, program, parameters, drive letter,
// two numbers, flag, description), and where entries live in the global store.
namespace ombrix::catalogue {

constexpr int kFirstSharedIndex = 5001;
constexpr int kSharedBase = 5000;
constexpr int kLastLookupIndex = 10000;
constexpr const char* kImagesSection = "Images";

// "OMXImage_%.4d": the store key and file key of an index.
std::string imageKey(int index);
// The number in a key of that form, or -1.
int indexOfKey(std::string_view key);

// Clears `info` and fills it from an entry text; missing trailing fields stay zero.
void parseEntry(std::string_view text, OmxImageInfo& info);
std::string formatEntry(const OmxImageInfo& info);
// Field 1 of an entry text.
std::string_view entryPath(std::string_view text);

// A value of the global store, whole.
std::optional<std::string> globalValue(const std::string& key);
// The entry text published under an index.
std::optional<std::string> entryText(int index);

}  // namespace ombrix::catalogue
