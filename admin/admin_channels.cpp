#include "admin/admin_channels.h"

#include "platform/text_printf.h"

namespace ombrix::admin {
namespace {

using Request = CMountRequest;

constexpr uint32_t kListLetters = 10;
constexpr uint32_t kSetDrives = 11;
constexpr uint32_t kListSessions = 13;
constexpr uint32_t kInsert = 15;
constexpr uint32_t kEject = 16;
constexpr uint32_t kSetSharedPath = 17;

}  // namespace

bool AdminChannels::own(const SessionTarget& target) const {
    return target.server.local && ports_.ownSession && target.session == ports_.ownSession();
}

bool AdminChannels::callSession(uint32_t session, CMountRequest& record) {
    const int32_t code = record.m_request;
    record.m_sessionId = session;
    for (int attempt = 0; attempt < kPipeAttempts; ++attempt) {
        CMountRequest call = record;
        if (ports_.callSessionPipe && ports_.callSessionPipe(session, call)) {
            record = call;
            if (record.m_request == code) return true;
            // An answer with another code is the session's refusal; asking again changes nothing.
            if (record.m_request != Request::kSessionPipeFailed) break;
        }
    }
    if (record.m_request == code) record.m_request = Request::kSessionPipeFailed;
    return false;
}

std::string AdminChannels::reasonOf(const CIPData& reply) const {
    std::string text;
    if (reply.Text(text) && !text.empty()) return text;
    const int code = static_cast<int>(reply.Data());
    return ports_.errorText ? ports_.errorText(code) : platform::format("error %d", code);
}

std::optional<std::vector<SessionNode>> AdminChannels::sessions(const ServerEntry& server) {
    if (!server.local) {
        CIPData reply;
        if (!ports_.sendRecord || !ports_.sendRecord(server, CIPData(kListSessions), reply) ||
            reply.Type() != kListSessions) {
            return std::nullopt;
        }
        return sessionsFromList(reply.Texts());
    }
    std::vector<SessionNode> sessions;
    for (const auto& [id, user] : ports_.localSessions
                                      ? ports_.localSessions()
                                      : std::vector<std::pair<uint32_t, std::string>>{}) {
        SessionNode node{id, user, {}};
        CMountRequest request;
        request.m_request = Request::kListDrives;
        // A session whose helper does not answer is shown without its drives.
        if (callSession(id, request)) {
            // "letter|unit|" pairs; the unit's image is the service's global "Device_<unit>".
            const std::string pairs(request.text());
            size_t at = 0;
            while (at < pairs.size()) {
                const size_t letterEnd = pairs.find('|', at);
                if (letterEnd == std::string::npos || letterEnd != at + 1) break;
                size_t unitEnd = pairs.find('|', letterEnd + 1);
                if (unitEnd == std::string::npos) unitEnd = pairs.size();
                const std::string unit = pairs.substr(letterEnd + 1, unitEnd - letterEnd - 1);
                const std::string image =
                    ports_.global
                        ? ports_.global("Device_" + std::to_string(std::atoi(unit.c_str())))
                        : std::string();
                node.drives.push_back({pairs[at], image});
                at = unitEnd + 1;
            }
        }
        sessions.push_back(std::move(node));
    }
    return sessions;
}

int AdminChannels::insert(const SessionTarget& target, char letter, const std::string& image,
                          const std::string& password, std::string& reason) {
    int code = 0;
    if (own(target)) {
        code = ports_.insertOwn ? ports_.insertOwn(letter, image, password) : -1;
    } else if (target.server.local) {
        CMountRequest request;
        request.m_request = Request::kInsert;
        request.m_dwData = static_cast<uint32_t>(static_cast<unsigned char>(letter));
        request.setText(image);
        request.setPassword(password);
        if (!callSession(target.session, request)) {
            code = request.m_request == Request::kSessionPipeFailed
                       ? Request::kSessionPipeFailed
                       : static_cast<int>(request.m_dwData);
        }
    } else {
        CIPData record(kInsert, target.session);
        std::string payload = std::string(1, letter) + ":" + image;
        if (!password.empty()) payload += "|" + password;
        record.SetText(payload);
        CIPData reply;
        if (!ports_.sendRecord || !ports_.sendRecord(target.server, record, reply)) {
            reason = "The server '" + target.server.name + "' does not answer.";
            return -1;
        }
        if (reply.Type() != kInsert) {
            reason = reasonOf(reply);
            return reply.Data() != 0 ? static_cast<int>(reply.Data()) : -1;
        }
        return 0;
    }
    if (code != 0) reason = ports_.errorText ? ports_.errorText(code) : std::to_string(code);
    return code;
}

int AdminChannels::eject(const SessionTarget& target, char letter, std::string& reason) {
    int code = 0;
    if (own(target)) {
        code = ports_.ejectOwn ? ports_.ejectOwn(letter) : -1;
    } else if (target.server.local) {
        CMountRequest request;
        request.m_request = Request::kEject;
        request.m_dwData = static_cast<uint32_t>(static_cast<unsigned char>(letter));
        if (!callSession(target.session, request)) {
            code = request.m_request == Request::kSessionPipeFailed
                       ? Request::kSessionPipeFailed
                       : static_cast<int>(request.m_dwData);
        }
    } else {
        CIPData record(kEject, target.session);
        record.SetText(std::string(1, letter));
        CIPData reply;
        if (!ports_.sendRecord || !ports_.sendRecord(target.server, record, reply)) {
            reason = "The server '" + target.server.name + "' does not answer.";
            return -1;
        }
        if (reply.Type() != kEject) {
            reason = reasonOf(reply);
            return reply.Data() != 0 ? static_cast<int>(reply.Data()) : -1;
        }
        return 0;
    }
    if (code != 0) reason = ports_.errorText ? ports_.errorText(code) : std::to_string(code);
    return code;
}

std::optional<std::vector<DriveLetterRow>> AdminChannels::driveLetters(
    const SessionTarget& target) {
    std::vector<DriveLetterRow> rows;
    if (target.server.local) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            CMountRequest request;
            request.m_request = Request::kDescribeDrive;
            request.m_dwData = static_cast<uint32_t>(letter);
            if (!callSession(target.session, request)) return std::nullopt;
            rows.push_back({letter, request.m_dwData != 0, std::string(request.text())});
        }
        return rows;
    }
    CIPData reply;
    if (!ports_.sendRecord ||
        !ports_.sendRecord(target.server, CIPData(kListLetters, target.session), reply) ||
        reply.Type() != kListLetters) {
        return std::nullopt;
    }
    for (const std::string& text : reply.Texts()) {
        if (auto row = parseDriveLetterRow(text)) rows.push_back(std::move(*row));
    }
    if (rows.size() != 26) return std::nullopt;
    return rows;
}

int AdminChannels::setDriveLetters(const SessionTarget& target, const std::string& letters,
                                   bool allSessions) {
    // On this server the letters of every session are set by the service (the sessions'
    // helpers run as their users), then the session's own.
    if (target.server.local && allSessions) {
        CMountRequest standard;
        standard.m_request = Request::kSetStandardDrives;
        standard.setText(letters);
        if (!ports_.callServicePipe || !ports_.callServicePipe(standard) ||
            standard.m_request != Request::kSetStandardDrives)
            return standard.m_request == Request::kRefused ? static_cast<int>(standard.m_dwData)
                                                           : Request::kSessionPipeFailed;
        allSessions = false;
    }
    if (own(target)) {
        return ports_.setOwnDriveLetters ? ports_.setOwnDriveLetters(letters, allSessions) : -1;
    }
    if (target.server.local) {
        CMountRequest request;
        request.m_request = Request::kSetDrives;
        request.m_dwData = allSessions ? 1 : 0;
        request.setText(letters);
        if (callSession(target.session, request)) return 0;
        return request.m_request == Request::kSessionPipeFailed
                   ? Request::kSessionPipeFailed
                   : static_cast<int>(request.m_dwData);
    }
    CIPData record(kSetDrives, target.session);
    record.SetText(platform::format("%d|%s", allSessions ? 1 : 0, letters.c_str()));
    CIPData reply;
    if (!ports_.sendRecord || !ports_.sendRecord(target.server, record, reply)) return -1;
    return reply.Type() == kSetDrives && reply.Data() == 0
               ? 0
               : static_cast<int>(reply.Data() != 0 ? reply.Data() : 1);
}

int AdminChannels::setSharedPath(const ServerEntry& server, const std::string& folder, bool own,
                                 std::string& reason) {
    CIPData record(kSetSharedPath, own ? 1 : 0);
    if (!own) record.SetText(folder);
    CIPData reply;
    if (!ports_.sendRecord || !ports_.sendRecord(server, record, reply)) {
        reason.clear();
        return -1;
    }
    if (reply.Type() != kSetSharedPath) {
        reason = reasonOf(reply);
        return reply.Data() != 0 ? static_cast<int>(reply.Data()) : -1;
    }
    return 0;
}

}  // namespace ombrix::admin
