#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

// The event log: one file per source, eventlog/<source>.log in the machine root, one line per
// event: "<UTC time>\t<type>\t<id as 0x%08X>\t<text>" with line breaks, tabs and backslashes of
// the text written as \n, \t and \\. A source is registered when the key
// HKLM\SYSTEM\CurrentControlSet\Services\EventLog\Application\<source> names its message file;
// the text of an event of a registered source comes from the services' message table below,
// otherwise the line says that the description was not found, followed by the inserts.
namespace ombrix::eventlog {

enum Type : uint16_t {
    kError = 1,
    kWarning = 2,
    kInformation = 4,
    kAuditSuccess = 8,
    kAuditFailure = 16,
};

// The message table the services carry: four messages whose text is the first insert.
constexpr uint32_t kMessageIds[] = {0x00000003u, 0x40000000u, 0x80000001u, 0xC0000002u};
constexpr const char* kMessageText = "%1\r\n";

inline constexpr const char* kApplicationKey =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

std::filesystem::path logPath(std::string_view source, bool createFolder = true);

// True when the source's key exists with an "EventMessageFile" value.
bool isRegistered(std::string_view source);

// Appends one event; returns 0 or a Win32-style code.
int report(std::string_view source, uint16_t type, uint32_t eventId,
           const std::vector<std::string>& inserts);

// The events of a source as written, oldest first (texts unescaped).
struct Entry {
    std::string time;
    std::string type;
    uint32_t id = 0;
    std::string text;
};
std::vector<Entry> read(std::string_view source);

std::string typeName(uint16_t type);

}  // namespace ombrix::eventlog
