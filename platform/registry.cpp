#include "platform/registry.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "platform/ascii.h"
#include "platform/machine_root.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::registry {
namespace {

constexpr std::string_view kHeader = "OMBRIX-REGISTRY 1";
// A writer waits this long for another one before it gives up with a sharing violation.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPauseMs = 5;

struct StoredValue {
    std::string name;
    Value value;
};

struct Key {
    std::string path;                           // as first written, below the hive
    std::map<std::string, StoredValue> values;  // by upper-cased name
};

// One hive in memory: keys by upper-cased path.
using Hive = std::map<std::string, Key>;

struct KeyPath {
    std::string hiveFile;  // below the machine root
    std::string subkey;    // without the hive, no leading or trailing backslash
};

std::string normalizeSubkey(std::string_view path) {
    std::string out;
    for (char c : path) {
        if (c == '\\' && (out.empty() || out.back() == '\\')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == '\\')
        out.pop_back();
    return out;
}

bool splitKeyPath(std::string_view key, KeyPath& out) {
    size_t cut = key.find('\\');
    std::string_view hive = key.substr(0, cut);
    std::string_view rest =
        cut == std::string_view::npos ? std::string_view{} : key.substr(cut + 1);
    using ascii::equalsIgnoreCase;
    if (equalsIgnoreCase(hive, "HKLM") || equalsIgnoreCase(hive, "HKEY_LOCAL_MACHINE")) {
        out.hiveFile = "registry/HKLM.reg";
    } else if (equalsIgnoreCase(hive, "HKCU") || equalsIgnoreCase(hive, "HKEY_CURRENT_USER")) {
        out.hiveFile = "registry/HKU/" + currentUserSid() + ".reg";
    } else if (equalsIgnoreCase(hive, "HKU") || equalsIgnoreCase(hive, "HKEY_USERS")) {
        size_t sidEnd = rest.find('\\');
        std::string_view sid = rest.substr(0, sidEnd);
        if (sid.empty() || sid.find('/') != std::string_view::npos || sid == "." || sid == "..") {
            return false;
        }
        out.hiveFile = "registry/HKU/" + std::string(sid) + ".reg";
        rest = sidEnd == std::string_view::npos ? std::string_view{} : rest.substr(sidEnd + 1);
    } else {
        return false;
    }
    out.subkey = normalizeSubkey(rest);
    return true;
}

bool isTextType(uint32_t type) {
    return type == kString || type == kExpandString || type == kMultiString;
}

std::string escape(std::string_view text) {
    std::string out;
    for (unsigned char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '"': out += "\\\""; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            case '\0': out += "\\0"; break;
            default:
                if (c < 0x20) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", c);
                    out += hex;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads an escaped text up to an unescaped `stop` (or the end); `pos` moves past the stop.
bool unescape(std::string_view line, size_t& pos, char stop, std::string& out) {
    out.clear();
    while (pos < line.size()) {
        char c = line[pos++];
        if (c == stop) return true;
        if (c != '\\') {
            out += c;
            continue;
        }
        if (pos >= line.size()) return false;
        char e = line[pos++];
        switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case '0': out += '\0'; break;
            case 'x': {
                if (pos + 2 > line.size()) return false;
                int hi = hexDigit(line[pos]), lo = hexDigit(line[pos + 1]);
                if (hi < 0 || lo < 0) return false;
                out += static_cast<char>(hi * 16 + lo);
                pos += 2;
                break;
            }
            default: out += e;
        }
    }
    return stop == '\0';
}

std::string toHex(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

bool fromHex(std::string_view text, std::string& out) {
    if (text.size() % 2 != 0) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        int hi = hexDigit(text[i]), lo = hexDigit(text[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

// Lines: "[key path]" opens a key; "\"name\"=TYPE:data" adds a value to it, data escaped for
// text types and hexadecimal for all others. Lines that do not parse are skipped.
Hive parseHive(const std::string& text) {
    Hive hive;
    Key* current = nullptr;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            std::string path = normalizeSubkey(line.substr(1, line.size() - 2));
            Key& key = hive[ascii::toUpper(path)];
            if (key.path.empty()) key.path = path;
            current = &key;
            continue;
        }
        if (current == nullptr || line.empty() || line.front() != '"') continue;
        size_t pos = 1;
        std::string name, typeText, data;
        if (!unescape(line, pos, '"', name) || pos >= line.size() || line[pos] != '=') continue;
        size_t colon = line.find(':', ++pos);
        if (colon == std::string::npos) continue;
        uint32_t type = 0;
        if (!typeFromName(std::string_view(line).substr(pos, colon - pos), type)) continue;
        pos = colon + 1;
        bool ok = isTextType(type) ? unescape(line, pos, '\0', data)
                                   : fromHex(std::string_view(line).substr(pos), data);
        if (!ok) continue;
        current->values[ascii::toUpper(name)] = StoredValue{name, Value{type, data}};
    }
    return hive;
}

std::string formatHive(const Hive& hive) {
    std::string out(kHeader);
    out += '\n';
    for (const auto& [upper, key] : hive) {
        out += '[' + key.path + "]\n";
        for (const auto& [valueUpper, stored] : key.values) {
            out += '"' + escape(stored.name) + "\"=" + typeName(stored.value.type) + ':';
            out += isTextType(stored.value.type) ? escape(stored.value.data)
                                                 : toHex(stored.value.data);
            out += '\n';
        }
    }
    return out;
}

// The account whose own settings a hive file holds: the user id of its SID, or root's for the
// machine's hive.
uid_t hiveAccount(const std::string& hiveFile) {
    constexpr std::string_view kUserHive = "registry/HKU/S-1-22-1-";
    if (hiveFile.compare(0, kUserHive.size(), kUserHive) != 0) return 0;
    return static_cast<uid_t>(std::strtoul(hiveFile.c_str() + kUserHive.size(), nullptr, 10));
}

// A hive counts only when it is a plain file of root, of its own account or of this process:
// a file somebody else put in a user's place, or a link, reads as empty.
Hive loadHive(const std::filesystem::path& file, uid_t account) {
    platform::UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid()) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    if (st.st_uid != 0 && st.st_uid != account && st.st_uid != ::geteuid()) return {};
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    return parseHive(text);
}

// Takes the writers' lock of a hive, waiting a bounded time for another writer.
int lockHive(int fd) {
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    for (int waited = 0;; waited += kLockPauseMs) {
        if (::fcntl(fd, F_OFD_SETLK, &lock) == 0) return win::kSuccess;
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return win::fromErrno(errno);
        if (waited >= kLockWaitMs) return win::kSharingViolation;
        ::usleep(kLockPauseMs * 1000);
    }
}

int readHive(std::string_view keyText, KeyPath& path, Hive& hive) {
    if (!splitKeyPath(keyText, path)) return win::kInvalidParameter;
    hive = loadHive(platform::rootPath(path.hiveFile, false), hiveAccount(path.hiveFile));
    return win::kSuccess;
}

// Runs `change` on the hive under its writers' lock and replaces the file when `change`
// returns 0 and says the hive changed.
template <typename Change>
int updateHive(std::string_view keyText, Change change) {
    KeyPath path;
    if (!splitKeyPath(keyText, path)) return win::kInvalidParameter;
    std::filesystem::path file = platform::rootPath(path.hiveFile);
    const uid_t account = hiveAccount(path.hiveFile);
    // A user's own settings are that user's only; the machine's are readable by everybody.
    const mode_t mode = account != 0 ? 0600 : 0644;
    std::string lockName = file.string() + ".lock";
    platform::UniqueFd lockFd(
        ::open(lockName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!lockFd.valid()) return win::fromErrno(errno, lockName.c_str());
    if (int err = lockHive(lockFd.get())) return err;

    Hive hive = loadHive(file, account);
    bool changed = false;
    if (int err = change(hive, path.subkey, changed)) return err;
    if (!changed) return win::kSuccess;

    std::string text = formatHive(hive);
    static std::atomic<unsigned> counter{0};
    std::string temp =
        file.string() + ".tmp" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    platform::UniqueFd out(
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode));
    if (!out.valid()) return win::fromErrno(errno, temp.c_str());
    struct TempFile {
        const std::string& path;
        bool keep = false;
        ~TempFile() {
            if (!keep) ::unlink(path.c_str());
        }
    } cleanup{temp};
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(out.get(), text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return win::fromErrno(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fdatasync(out.get()) != 0) return win::fromErrno(errno);
    out.reset();
    if (::rename(temp.c_str(), file.c_str()) != 0) return win::fromErrno(errno);
    cleanup.keep = true;
    return win::kSuccess;
}

// Makes sure the key and every parent key exist, as creating a key does.
Key& ensureKey(Hive& hive, const std::string& subkey, bool& changed) {
    size_t pos = 0;
    while (true) {
        size_t cut = subkey.find('\\', pos);
        std::string part = subkey.substr(0, cut);
        Key& key = hive[ascii::toUpper(part)];
        if (key.path.empty() && !part.empty()) {
            key.path = part;
            changed = true;
        }
        if (cut == std::string::npos) return key;
        pos = cut + 1;
    }
}

bool isBelow(const std::string& upperPath, const std::string& upperParent) {
    if (upperParent.empty()) return !upperPath.empty();
    return upperPath.size() > upperParent.size() &&
           upperPath.compare(0, upperParent.size(), upperParent) == 0 &&
           upperPath[upperParent.size()] == '\\';
}

}  // namespace

std::string currentUserSid() {
    return "S-1-22-1-" + std::to_string(::getuid());
}

bool typeFromName(std::string_view name, uint32_t& out) {
    static const std::pair<std::string_view, uint32_t> kNames[] = {
        {"REG_NONE", kNone},     {"REG_SZ", kString},   {"REG_EXPAND_SZ", kExpandString},
        {"REG_BINARY", kBinary}, {"REG_DWORD", kDword}, {"REG_MULTI_SZ", kMultiString},
        {"REG_QWORD", kQword},
    };
    for (const auto& [text, type] : kNames) {
        if (ascii::equalsIgnoreCase(name, text)) {
            out = type;
            return true;
        }
    }
    return false;
}

std::string typeName(uint32_t type) {
    switch (type) {
        case kNone: return "REG_NONE";
        case kString: return "REG_SZ";
        case kExpandString: return "REG_EXPAND_SZ";
        case kBinary: return "REG_BINARY";
        case kDword: return "REG_DWORD";
        case kMultiString: return "REG_MULTI_SZ";
        case kQword: return "REG_QWORD";
        default: return "REG_NONE";
    }
}

int getValue(std::string_view key, std::string_view name, Value& out) {
    KeyPath path;
    Hive hive;
    if (int err = readHive(key, path, hive)) return err;
    auto k = hive.find(ascii::toUpper(path.subkey));
    if (k == hive.end()) return win::kFileNotFound;
    auto v = k->second.values.find(ascii::toUpper(name));
    if (v == k->second.values.end()) return win::kFileNotFound;
    out = v->second.value;
    return win::kSuccess;
}

int setValue(std::string_view key, std::string_view name, const Value& value) {
    return updateHive(key, [&](Hive& hive, const std::string& subkey, bool& changed) {
        Key& k = ensureKey(hive, subkey, changed);
        StoredValue& stored = k.values[ascii::toUpper(name)];
        if (stored.name.empty()) stored.name = std::string(name);
        if (stored.value.type != value.type || stored.value.data != value.data) {
            stored.value = value;
            changed = true;
        }
        return 0;
    });
}

int deleteValue(std::string_view key, std::string_view name) {
    return updateHive(key, [&](Hive& hive, const std::string& subkey, bool& changed) {
        auto k = hive.find(ascii::toUpper(subkey));
        if (k == hive.end() || k->second.values.erase(ascii::toUpper(name)) == 0) {
            return win::kFileNotFound;
        }
        changed = true;
        return 0;
    });
}

int createKey(std::string_view key) {
    return updateHive(key, [&](Hive& hive, const std::string& subkey, bool& changed) {
        ensureKey(hive, subkey, changed);
        return 0;
    });
}

int deleteKey(std::string_view key) {
    return updateHive(key, [&](Hive& hive, const std::string& subkey, bool& changed) {
        std::string upper = ascii::toUpper(subkey);
        if (upper.empty()) return win::kAccessDenied;  // a hive itself is not deleted
        if (hive.erase(upper) == 0) return win::kFileNotFound;
        for (auto it = hive.begin(); it != hive.end();) {
            it = isBelow(it->first, upper) ? hive.erase(it) : std::next(it);
        }
        changed = true;
        return 0;
    });
}

int listValues(std::string_view key, std::vector<std::pair<std::string, Value>>& out) {
    out.clear();
    KeyPath path;
    Hive hive;
    if (int err = readHive(key, path, hive)) return err;
    auto k = hive.find(ascii::toUpper(path.subkey));
    if (k == hive.end()) return win::kFileNotFound;
    for (const auto& [upper, stored] : k->second.values)
        out.emplace_back(stored.name, stored.value);
    return win::kSuccess;
}

int listSubkeys(std::string_view key, std::vector<std::string>& out) {
    out.clear();
    KeyPath path;
    Hive hive;
    if (int err = readHive(key, path, hive)) return err;
    std::string upper = ascii::toUpper(path.subkey);
    if (!upper.empty() && hive.find(upper) == hive.end()) return win::kFileNotFound;
    for (const auto& [childUpper, child] : hive) {
        if (!isBelow(childUpper, upper)) continue;
        std::string rest = child.path.substr(upper.empty() ? 0 : upper.size() + 1);
        if (rest.find('\\') == std::string::npos) out.push_back(rest);
    }
    return win::kSuccess;
}

int getString(std::string_view key, std::string_view name, std::string& out) {
    Value value;
    if (int err = getValue(key, name, value)) return err;
    if (value.type != kString && value.type != kExpandString) return win::kInvalidData;
    out = value.data;
    return win::kSuccess;
}

int setString(std::string_view key, std::string_view name, std::string_view text) {
    return setValue(key, name, Value{kString, std::string(text)});
}

int getDword(std::string_view key, std::string_view name, uint32_t& out) {
    Value value;
    if (int err = getValue(key, name, value)) return err;
    if (value.type != kDword || value.data.size() != 4) return win::kInvalidData;
    out = 0;
    for (int i = 3; i >= 0; --i)
        out = out << 8 | static_cast<unsigned char>(value.data[i]);
    return win::kSuccess;
}

int setDword(std::string_view key, std::string_view name, uint32_t number) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>(number >> (8 * i) & 0xFF);
    return setValue(key, name, Value{kDword, bytes});
}

}  // namespace ombrix::registry
