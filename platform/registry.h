#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The machine's registry: hives kept as text files under registry/ in the machine root, keys and
// value names compared without regard to case and stored as first written. Every change rewrites
// its hive file atomically under a lock, so readers see either the old or the new hive.
//
// Key paths begin with the hive: "HKLM\\…" (or "HKEY_LOCAL_MACHINE\\…"), "HKCU\\…" (the calling
// user, "HKEY_CURRENT_USER"), "HKU\\<sid>\\…" ("HKEY_USERS"). Results are Win32-style codes:
// 0 success, 2 key or value missing, 13 the value has another type, 87 a bad key path.
namespace ombrix::registry {

enum ValueType : uint32_t {
    kNone = 0,
    kString = 1,
    kExpandString = 2,
    kBinary = 3,
    kDword = 4,
    kMultiString = 7,
    kQword = 11,
};

struct Value {
    uint32_t type = kNone;
    std::string data;  // raw bytes; strings without their terminator, multi-strings '\0'-separated
};

int getValue(std::string_view key, std::string_view name, Value& out);
int setValue(std::string_view key, std::string_view name, const Value& value);
int deleteValue(std::string_view key, std::string_view name);
int createKey(std::string_view key);
int deleteKey(std::string_view key);  // with all its subkeys
int listValues(std::string_view key, std::vector<std::pair<std::string, Value>>& out);
int listSubkeys(std::string_view key, std::vector<std::string>& out);

int getString(std::string_view key, std::string_view name, std::string& out);
int setString(std::string_view key, std::string_view name, std::string_view text);
int getDword(std::string_view key, std::string_view name, uint32_t& out);
int setDword(std::string_view key, std::string_view name, uint32_t number);

// The account id of the calling user as the registry names it ("S-1-22-1-<uid>").
std::string currentUserSid();

// Type names as administrators write them ("REG_SZ", "REG_DWORD", …); false for an unknown name.
bool typeFromName(std::string_view name, uint32_t& out);
std::string typeName(uint32_t type);

}  // namespace ombrix::registry
