#include "service/ip_requests.h"

#include <cstdio>
#include <cstdlib>

#include "common/names.h"
#include "log/oxtlog.h"
#include "outside/env/oxtenv.h"
#include "pipes/request_codes.h"
#include "platform/registry.h"
#include "platform/text_printf.h"

namespace {

namespace codes = ombrix::pipes;

std::string global(const std::string& key) {
    char buffer[1024] = {};
    if (EnvGetGlobalValue(key.c_str(), buffer, sizeof buffer) <= 0) return {};
    return buffer;
}

// The network pipe request that a peer's change notice of `type` becomes.
int32_t netRequestFor(uint32_t type) {
    switch (type) {
        case CIPRequests::kTreeChanged: return codes::kReadTree;
        case CIPRequests::kCatalogueChanged: return codes::kReadCatalogue;
        case CIPRequests::kProfilesChanged: return codes::kReadProfiles;
        case CIPRequests::kAdminFileChanged: return codes::kReadAdminFile;
        case CIPRequests::kServersChanged: return codes::kReadServerList;
        default: return 0;
    }
}

}  // namespace

bool CIPRequests::Handle(const CIPData& record, CIPData& reply) {
    reply = record;
    uint32_t type = record.Type();
    if (int32_t net = netRequestFor(type)) {
        CMountRequest request;
        request.m_request = net;
        if (hooks_.callNetPipe) hooks_.callNetPipe(request);
        return false;
    }
    switch (type) {
        case kListLetters: ListLetters(record, reply); return true;
        case kSetDrives: SetDrives(record, reply); return true;
        case kStandardDrives: StandardDrives(record, reply); return true;
        case kListSessions: ListSessions(reply); return true;
        case kMessage: Message(record); return true;
        case kInsert: InsertOrEject(record, reply, CMountRequest::kInsert); return true;
        case kEject: InsertOrEject(record, reply, CMountRequest::kEject); return true;
        case kSetSharedPath: SetSharedPath(record, reply); return true;
        default: return false;
    }
}

bool CIPRequests::CallSession(uint32_t session, CMountRequest& request) {
    int32_t code = request.m_request;
    request.m_sessionId = session;
    if (!hooks_.callSessionPipe || !hooks_.callSessionPipe(session, request)) {
        OXTLog(3, "Calling session pipe for Sid %d failed (%s)", static_cast<int>(session),
               ombrix::names::sessionPipe(session).c_str());
        request.m_request = codes::kSessionPipeFailed;
        return false;
    }
    return request.m_request == code;
}

// The drive letters of a session: one text per letter A to Z.
void CIPRequests::ListLetters(const CIPData& record, CIPData& reply) {
    uint32_t session = record.Data();
    std::vector<std::string> texts;
    // A session whose pipe did not answer is not asked again for the other letters: a hung
    // helper would otherwise hold the connection for 26 time-outs.
    bool reachable = static_cast<bool>(hooks_.callSessionPipe);
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        CMountRequest request;
        request.m_request = codes::kDescribeDrive;
        request.m_sessionId = session;
        request.m_dwData = static_cast<uint32_t>(letter);
        bool ok = reachable && hooks_.callSessionPipe(session, request);
        reachable = ok;
        std::string text(request.text());
        if (!ok) text.clear();
        if (text.empty()) text = ombrix::platform::format("(%c:)", letter);
        texts.push_back(ombrix::platform::format(
            "%c|%d|%d|%s", letter, ok ? static_cast<int>(request.m_sessionId) : 0,
            ok && request.m_dwData != 0 ? 1 : 0, text.c_str()));
    }
    reply.SetTexts(texts);
}

void CIPRequests::SetDrives(const CIPData& record, CIPData& reply) {
    uint32_t session = record.Data();
    std::string payload;
    record.Text(payload);
    CMountRequest request;
    request.m_request = codes::kSetDrives;
    size_t bar = payload.find('|');
    request.m_dwData = static_cast<uint32_t>(std::atoi(payload.substr(0, bar).c_str()));
    request.setText(bar == std::string::npos ? std::string() : payload.substr(bar + 1));
    OXTLog(0, "Setting drives: %s for Sid %d", std::string(request.text()).c_str(),
           static_cast<int>(session));
    // The letters of every session are the service's to set: the session's helper runs as its
    // user, who may not write them.
    if (request.m_dwData != 0) {
        CMountRequest standard;
        standard.m_request = codes::kSetStandardDrives;
        standard.setText(request.text());
        if (!hooks_.callServicePipe || !hooks_.callServicePipe(standard) ||
            standard.m_request != codes::kSetStandardDrives) {
            reply.SetData(kSessionFailure);
            return;
        }
        request.m_dwData = 0;
    }
    reply.SetData(CallSession(session, request) ? 0 : kSessionFailure);
}

void CIPRequests::StandardDrives(const CIPData& record, CIPData& reply) {
    uint32_t session = record.Data();
    OXTLog(0, "Querying STD drives for Sid %d", static_cast<int>(session));
    CMountRequest request;
    request.m_request = codes::kStandardDrives;
    if (CallSession(session, request)) {
        std::string text(request.text());
        OXTLog(0, "Querying STD drives for Sid %d returned '%s'", static_cast<int>(session),
               text.c_str());
        reply.SetData(0);
        reply.SetText(text);
    } else {
        reply.SetData(kSessionFailure);
        reply.ClearPayload();
    }
}

// Every logged-on session with its user, or with each of its drives and the image held there.
void CIPRequests::ListSessions(CIPData& reply) {
    std::vector<std::string> texts;
    std::vector<uint32_t> sessions = hooks_.sessions ? hooks_.sessions() : std::vector<uint32_t>{};
    for (uint32_t session : sessions) {
        CMountRequest request;
        request.m_request = codes::kListDrives;
        if (!CallSession(session, request)) continue;
        std::string pairs(request.text());
        OXTLog(0, "Got result: %s", pairs.c_str());
        std::string user = global(ombrix::platform::format("Sid_%d", static_cast<int>(session)));
        std::string prefix = std::to_string(session) + "|";
        if (pairs.empty()) {
            texts.push_back(prefix + user);
            continue;
        }
        size_t at = 0;
        while (at < pairs.size()) {
            size_t letterEnd = pairs.find('|', at);
            if (letterEnd == std::string::npos) break;
            size_t numberEnd = pairs.find('|', letterEnd + 1);
            if (numberEnd == std::string::npos) numberEnd = pairs.size();
            std::string letter = pairs.substr(at, letterEnd - at);
            int device = std::atoi(pairs.substr(letterEnd + 1, numberEnd - letterEnd - 1).c_str());
            texts.push_back(prefix + user + "|" + letter + "|" +
                            global(ombrix::platform::format("Device_%d", device)));
            at = numberEnd + 1;
        }
    }
    reply.SetTexts(texts);
}

void CIPRequests::Message(const CIPData& record) {
    std::string text;
    if (!record.Text(text) || text.empty()) return;
    CMountRequest request;
    request.m_request = codes::kUserMessage;
    request.setText(text);
    if (hooks_.notifySessions && hooks_.sessions) hooks_.notifySessions(request, hooks_.sessions());
}

void CIPRequests::InsertOrEject(const CIPData& record, CIPData& reply, int32_t code) {
    uint32_t session = record.Data();
    std::string payload;
    bool readable = record.Text(payload) && !payload.empty();
    if (code == CMountRequest::kInsert) readable = readable && payload.size() > 2;
    if (!readable) {
        reply.SetType(record.Type() + CIPData::kFailed);
        reply.SetData(kBadPayload);
        return;
    }
    CMountRequest request;
    request.m_request = code;
    request.m_dwData = static_cast<uint32_t>(static_cast<unsigned char>(payload[0]));
    if (code == CMountRequest::kInsert) {
        std::string rest = payload.substr(2);
        size_t bar = rest.find('|');
        request.setText(rest.substr(0, bar));
        if (bar != std::string::npos) request.setPassword(rest.substr(bar + 1));
    }
    if (!CallSession(session, request)) {
        reply.SetType(record.Type() + CIPData::kFailed);
        // A pipe that did not answer has no result of its own to report.
        reply.SetData(request.m_request == codes::kSessionPipeFailed ? kSessionFailure
                                                                     : request.m_dwData);
        return;
    }
    reply.SetData(request.m_dwData);
}

// Points this server at a pool's shared files (or, with data word non-zero, back at its own).
void CIPRequests::SetSharedPath(const CIPData& record, CIPData& reply) {
    std::string path;
    if (record.Data() != 0) {
        path = global("OMXHomePath") + "system/config/";
    } else if (!record.Text(path) || path.empty()) {
        // An empty path would point every shared file at the working folder.
        reply.SetType(record.Type() + CIPData::kFailed);
        reply.SetData(kBadPayload);
        return;
    }
    if (path.back() != '/') path += '/';
    // A folder a peer names must be fit to hold a pool; the server's own is its own.
    uint32_t why =
        record.Data() == 0 && hooks_.sharedFolderRefusal ? hooks_.sharedFolderRefusal(path) : 0;
    if (why != 0) {
        OXTLog(3, "Refused the shared data path %s (%u)", path.c_str(), why);
        reply.SetType(record.Type() + CIPData::kFailed);
        reply.SetData(why);
        return;
    }
    for (const char* key : {"OmxConfigPathNet", "OMXServerPathNet", "OmxTreePathNet",
                            "OmxAdmPathNet", "OMXSecurityPathNet"}) {
        EnvSetGlobalValue(key, path.c_str());
        ombrix::registry::setString(settingsKey_, key, path);
    }
    EnvSetGlobalValue("OMXTreeFileNet", (path + "OMXTree.dat").c_str());
    EnvSetGlobalValue("OmxConfigFileNet", (path + "OMXimg.dat").c_str());
    if (hooks_.announcePath) hooks_.announcePath(path);
    CMountRequest notice;
    notice.m_request = codes::kConfigPathChanged;
    if (hooks_.callServicePipe) hooks_.callServicePipe(notice);
}
