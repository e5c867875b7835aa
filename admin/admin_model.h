#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the administration program shows: the servers of the pool as the global store lists
// them, their sessions with their users, and each session's drives with the image held there.
namespace ombrix::admin {

// A server of the pool: "name|flags|port" in the global values "Server_1" … "Server_<OMXServer>".
struct ServerEntry {
    std::string name;
    uint32_t flags = 0;
    int port = 0;
    bool local = false;  // this computer

    friend bool operator==(const ServerEntry&, const ServerEntry&) = default;
};

std::optional<ServerEntry> parseServerEntry(std::string_view text);

// The servers of "OMXServer"/"Server_%d" (`global` reads a global value). A server is the local
// one when its name is `ownName` (ignoring case) or `addressOf` gives one of `ownAddresses`.
std::vector<ServerEntry> readServerList(
    const std::function<std::string(const std::string& key)>& global, const std::string& ownName,
    const std::vector<std::string>& ownAddresses,
    const std::function<std::string(const std::string& name)>& addressOf);

struct DriveNode {
    char letter = 0;
    std::string image;  // empty when the drive holds nothing

    friend bool operator==(const DriveNode&, const DriveNode&) = default;
};

struct SessionNode {
    uint32_t id = 0;
    std::string user;
    std::vector<DriveNode> drives;

    friend bool operator==(const SessionNode&, const SessionNode&) = default;
};

struct ServerNode {
    ServerEntry server;
    bool answered = false;  // its sessions are known (a remote server that did not answer: no)
    std::vector<SessionNode> sessions;
};

// "%s - SessionID: %d", or "%s - Console: %d" for session 0.
std::string sessionText(const SessionNode& session);
// The session id a session node's text ends with; nothing when it ends otherwise.
std::optional<uint32_t> sessionIdOfText(std::string_view text);
// "E:", and " - " and the image when the drive holds one.
std::string driveText(const DriveNode& drive);

// The sessions of a reply to "list sessions" (type 13): one text per session ("id|user") or per
// drive ("id|user|letter|image"), in order. Malformed texts are passed over.
std::vector<SessionNode> sessionsFromList(const std::vector<std::string>& texts);

// One row of a session's drive letters (type 10, or a session pipe's describe-drive answer):
// "%C|%d|%d|%s" — letter, session, whether the letter is one of the session's virtual drives,
// and the image it holds ("(E:)" when none).
struct DriveLetterRow {
    char letter = 0;
    bool virtualDrive = false;
    std::string image;

    friend bool operator==(const DriveLetterRow&, const DriveLetterRow&) = default;
};
std::optional<DriveLetterRow> parseDriveLetterRow(std::string_view text);

// The session's virtual drive letters as the text the sessions take ("EFG").
std::string chosenLetters(const std::vector<DriveLetterRow>& rows);

}  // namespace ombrix::admin
