#include "common/catalogue_entry.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "oxtenv.h"
#include "platform/ascii.h"

namespace ombrix::catalogue {
namespace {

constexpr size_t kPathField = 259;
constexpr size_t kDescriptionField = 128;

void copyField(std::string_view field, char* target, size_t limit) {
    size_t n = field.size() < limit ? field.size() : limit;
    std::memcpy(target, field.data(), n);
    target[n] = '\0';
}

// The leading decimal number of a field, as strtol reads it; 0 when there is none.
long decimal(std::string_view field) {
    field = ascii::trim(field);
    if (!field.empty() && field.front() == '+') field.remove_prefix(1);
    long value = 0;
    std::from_chars(field.data(), field.data() + field.size(), value);
    return value;
}

}  // namespace

std::string imageKey(int index) {
    std::string key = "OMXImage_";
    if (index < 0) {
        key += '-';
        index = -index;
    }
    std::string digits = std::to_string(index);
    if (digits.size() < 4) key.append(4 - digits.size(), '0');
    return key + digits;
}

int indexOfKey(std::string_view key) {
    constexpr std::string_view kPrefix = "OMXIMAGE_";
    if (!ascii::startsWithIgnoreCase(key, kPrefix) || key.size() == kPrefix.size()) return -1;
    int index = 0;
    for (char c : key.substr(kPrefix.size())) {
        if (c < '0' || c > '9' || index > 100000000) return -1;
        index = index * 10 + (c - '0');
    }
    return index;
}

// Every "|" separates two fields, so an empty field keeps its place; the description, last,
// takes the rest of the text.
void parseEntry(std::string_view text, OmxImageInfo& info) {
    std::memset(&info, 0, sizeof info);
    std::string_view fields[8];
    size_t count = 0;
    while (count < 7) {
        size_t cut = text.find('|');
        if (cut == std::string_view::npos) break;
        fields[count++] = text.substr(0, cut);
        text.remove_prefix(cut + 1);
    }
    fields[count++] = text;

    auto field = [&](size_t n) { return n < count ? fields[n] : std::string_view{}; };
    copyField(field(0), info.path, kPathField);
    copyField(field(1), info.program, kPathField);
    copyField(field(2), info.parameters, kPathField);
    info.driveLetter = field(3).empty() ? 0 : field(3).front();
    info.firstNumber = static_cast<int16_t>(decimal(field(4)));
    info.secondNumber = static_cast<int16_t>(decimal(field(5)));
    info.flag = static_cast<int32_t>(decimal(field(6)));
    copyField(field(7), info.description, kDescriptionField);
}

std::string formatEntry(const OmxImageInfo& info) {
    auto bounded = [](const char* text, size_t size) {
        return std::string(text, strnlen(text, size));
    };
    std::string out = bounded(info.path, sizeof info.path);
    out += '|' + bounded(info.program, sizeof info.program);
    out += '|' + bounded(info.parameters, sizeof info.parameters);
    out += '|';
    out += info.driveLetter != 0 ? info.driveLetter : '0';
    out += '|' + std::to_string(info.firstNumber);
    out += '|' + std::to_string(info.secondNumber);
    out += info.flag != 0 ? "|1|" : "|0|";
    out += bounded(info.description, kDescriptionField);
    return out;
}

std::string_view entryPath(std::string_view text) {
    return text.substr(0, text.find('|'));
}

std::optional<std::string> globalValue(const std::string& key) {
    char buffer[8192];
    if (!EnvGetGlobalValue(key.c_str(), buffer, sizeof buffer)) return std::nullopt;
    return std::string(buffer);
}

std::optional<std::string> entryText(int index) {
    return globalValue(imageKey(index));
}

}  // namespace ombrix::catalogue
