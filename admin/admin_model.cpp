#include "admin/admin_model.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii.h"
#include "platform/text_printf.h"

namespace ombrix::admin {
namespace {

std::vector<std::string_view> split(std::string_view text, size_t most) {
    std::vector<std::string_view> parts;
    while (parts.size() + 1 < most) {
        const size_t bar = text.find('|');
        if (bar == std::string_view::npos) break;
        parts.push_back(text.substr(0, bar));
        text.remove_prefix(bar + 1);
    }
    parts.push_back(text);
    return parts;
}

std::optional<uint32_t> number(std::string_view text) {
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(value);
}

}  // namespace

std::optional<ServerEntry> parseServerEntry(std::string_view text) {
    const auto parts = split(text, 3);
    if (parts.size() != 3 || parts[0].empty()) return std::nullopt;
    const auto flags = number(parts[1]);
    const auto port = number(parts[2]);
    if (!flags || !port || *port > 0xFFFF) return std::nullopt;
    return ServerEntry{std::string(parts[0]), *flags, static_cast<int>(*port), false};
}

std::vector<ServerEntry> readServerList(
    const std::function<std::string(const std::string& key)>& global, const std::string& ownName,
    const std::vector<std::string>& ownAddresses,
    const std::function<std::string(const std::string& name)>& addressOf) {
    std::vector<ServerEntry> servers;
    const std::string countText = global("OMXServer").substr(0, 99);
    const long count = std::min(std::atol(countText.c_str()), 999L);
    for (long n = 1; n <= count; ++n) {
        auto entry = parseServerEntry(global(platform::format("Server_%ld", n)));
        if (!entry) continue;
        entry->local = ascii::equalsIgnoreCase(entry->name, ownName);
        if (!entry->local && addressOf) {
            const std::string address = addressOf(entry->name);
            entry->local = !address.empty() && std::find(ownAddresses.begin(), ownAddresses.end(),
                                                         address) != ownAddresses.end();
        }
        servers.push_back(std::move(*entry));
    }
    return servers;
}

std::string sessionText(const SessionNode& session) {
    return session.id == 0 ? platform::format("%s - Console: %d", session.user.c_str(), session.id)
                           : platform::format("%s - SessionID: %d", session.user.c_str(),
                                              static_cast<int>(session.id));
}

std::optional<uint32_t> sessionIdOfText(std::string_view text) {
    const size_t blank = text.rfind(' ');
    return number(blank == std::string_view::npos ? text : text.substr(blank + 1));
}

std::string driveText(const DriveNode& drive) {
    std::string text = std::string(1, drive.letter) + ":";
    if (!drive.image.empty()) text += " - " + drive.image;
    return text;
}

std::vector<SessionNode> sessionsFromList(const std::vector<std::string>& texts) {
    std::vector<SessionNode> sessions;
    for (const std::string& text : texts) {
        const auto parts = split(text, 4);
        if (parts.size() < 2) continue;
        const auto id = number(parts[0]);
        if (!id) continue;
        if (sessions.empty() || sessions.back().id != *id)
            sessions.push_back({*id, std::string(parts[1]), {}});
        if (parts.size() == 4 && parts[2].size() == 1) {
            const char letter = ascii::upper(parts[2][0]);
            if (letter >= 'A' && letter <= 'Z')
                sessions.back().drives.push_back({letter, std::string(parts[3])});
        }
    }
    return sessions;
}

std::optional<DriveLetterRow> parseDriveLetterRow(std::string_view text) {
    const auto parts = split(text, 4);
    if (parts.size() != 4 || parts[0].size() != 1) return std::nullopt;
    const char letter = ascii::upper(parts[0][0]);
    if (letter < 'A' || letter > 'Z' || !number(parts[1]) || !number(parts[2])) return std::nullopt;
    DriveLetterRow row;
    row.letter = letter;
    row.virtualDrive = *number(parts[2]) != 0;
    const std::string empty = platform::format("(%c:)", letter);
    if (parts[3] != empty) row.image = std::string(parts[3]);
    return row;
}

std::string chosenLetters(const std::vector<DriveLetterRow>& rows) {
    std::string letters;
    for (const DriveLetterRow& row : rows) {
        if (row.virtualDrive) letters += row.letter;
    }
    return letters;
}

}  // namespace ombrix::admin
