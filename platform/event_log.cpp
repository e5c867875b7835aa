#include "platform/event_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "platform/machine_root.h"
#include "platform/registry.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

namespace ombrix::eventlog {
namespace {

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

std::string unescape(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        out += c == 'n' ? '\n' : c == 'r' ? '\r' : c == 't' ? '\t' : c;
    }
    return out;
}

bool inTable(uint32_t id) {
    for (uint32_t known : kMessageIds) {
        if (known == id) return true;
    }
    return false;
}

// Fills %1, %2, … of `pattern` with the inserts; a message's closing line break is dropped.
std::string render(std::string_view pattern, const std::vector<std::string>& inserts) {
    std::string out;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' &&
            pattern[i + 1] <= '9') {
            size_t n = static_cast<size_t>(pattern[++i] - '1');
            if (n < inserts.size()) out += inserts[n];
        } else {
            out += pattern[i];
        }
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

}  // namespace

std::filesystem::path logPath(std::string_view source, bool createFolder) {
    std::string name;
    for (char c : source)
        name += (c == '/' || c == '\0') ? '_' : c;
    return platform::rootPath("eventlog/" + name + ".log", createFolder);
}

bool isRegistered(std::string_view source) {
    std::string key = std::string(kApplicationKey) + "\\" + std::string(source);
    registry::Value value;
    return registry::getValue(key, "EventMessageFile", value) == 0;
}

std::string typeName(uint16_t type) {
    switch (type) {
        case kError: return "Error";
        case kWarning: return "Warning";
        case kInformation: return "Information";
        case kAuditSuccess: return "AuditSuccess";
        case kAuditFailure: return "AuditFailure";
        default: return "Success";
    }
}

// Under systemd a service's standard error is the journal (it says so in JOURNAL_STREAM): each
// event goes there too, with its syslog priority in front, so `journalctl -u` shows what the
// event log holds.
static void toJournal(std::string_view source, uint16_t type, const std::string& text) {
    if (std::getenv("JOURNAL_STREAM") == nullptr) return;
    const char* priority = type == kError ? "<3>" : type == kWarning ? "<4>" : "<6>";
    std::string line = priority + std::string(source) + ": " + text;
    std::replace(line.begin(), line.end(), '\n', ' ');
    line += '\n';
    (void)!::write(STDERR_FILENO, line.data(), line.size());
}

int report(std::string_view source, uint16_t type, uint32_t eventId,
           const std::vector<std::string>& inserts) {
    std::string text;
    if (isRegistered(source) && inTable(eventId)) {
        text = render(kMessageText, inserts);
    } else {
        char head[160];
        std::snprintf(head, sizeof head, "The description for Event ID %u from source ",
                      eventId & 0xFFFFu);
        text = head + std::string(source) + " cannot be found.";
        for (const std::string& insert : inserts)
            text += " " + insert;
    }
    char stamp[32];
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &utc);
    char id[16];
    std::snprintf(id, sizeof id, "0x%08X", eventId);
    std::string line =
        std::string(stamp) + "\t" + typeName(type) + "\t" + id + "\t" + escape(text) + "\n";

    toJournal(source, type, text);
    std::filesystem::path path = logPath(source);
    platform::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644));
    if (!fd.valid()) return win::fromErrno(errno, path.c_str());
    // One write per line: appends of several processes never interleave within a line.
    ssize_t n = ::write(fd.get(), line.data(), line.size());
    if (n != static_cast<ssize_t>(line.size())) return win::kDiskFull;
    return 0;
}

std::vector<Entry> read(std::string_view source) {
    std::vector<Entry> out;
    std::ifstream in(logPath(source, false));
    std::string line;
    while (std::getline(in, line)) {
        Entry entry;
        size_t a = line.find('\t');
        size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
        size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
        if (c == std::string::npos) continue;
        entry.time = line.substr(0, a);
        entry.type = line.substr(a + 1, b - a - 1);
        entry.id =
            static_cast<uint32_t>(std::strtoul(line.substr(b + 1, c - b - 1).c_str(), nullptr, 16));
        entry.text = unescape(std::string_view(line).substr(c + 1));
        out.push_back(std::move(entry));
    }
    return out;
}

}  // namespace ombrix::eventlog
