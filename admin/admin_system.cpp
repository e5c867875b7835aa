#include "admin/admin_system.h"

#include <vector>

#include "common/names.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "pipes/pipe_call.h"
#include "platform/blocking_socket.h"
#include "platform/session_id.h"
#include "platform/terminal_sessions.h"

namespace ombrix::admin {
namespace {

std::string globalValue(const std::string& key) {
    std::vector<char> buffer(8000);
    if (EnvGetGlobalValue(key.c_str(), buffer.data(), static_cast<int>(buffer.size())) != 1)
        return {};
    return buffer.data();
}

}  // namespace

AdminChannels::Ports systemChannelPorts() {
    AdminChannels::Ports p;
    p.ownSession = [] { return platform::currentSessionId(); };
    p.callSessionPipe = [](uint32_t session, CMountRequest& record) {
        // One attempt per call: the channels count the attempts.
        return CallPipe(names::sessionPipe(session), record, AdminChannels::kPipeTimeoutMs, 1);
    };
    p.sendRecord = [](const ServerEntry& server, const CIPData& request, CIPData& reply) {
        try {
            CBlockingSocket socket;
            socket.Create();
            const int timeout = static_cast<int>(CIPData::kDefaultTimeout);
            socket.Connect(CBlockingSocket::GetHostByName(server.name, server.port), timeout);
            WriteIPData(socket, request, timeout);
            return ReadIPData(socket, reply, timeout) == IPHeaderCheck::kGood;
        } catch (...) {
            return false;
        }
    };
    p.insertOwn = [](char letter, const std::string& image, const std::string& password) {
        return OMXInsertPlayer(letter, image.c_str(), password.c_str());
    };
    p.ejectOwn = [](char letter) { return OMXEjectPlayer(letter); };
    p.setOwnDriveLetters = [](const std::string& letters, bool all) {
        return OMXTSSetDriveLetters(letters.c_str(), all ? 1 : 0);
    };
    p.errorText = [](int code) {
        char text[512] = "";
        OMXMapErrorCode(code, text, sizeof text);
        return std::string(text);
    };
    p.localSessions = [] {
        std::vector<std::pair<uint32_t, std::string>> out;
        std::vector<wts::SessionInfo> sessions;
        if (wts::enumerateSessions(sessions) != 0) return out;
        for (const auto& s : sessions) {
            // The services' session holds no user's drives.
            if (s.id == 0 && s.user.empty()) continue;
            out.emplace_back(s.id, s.user);
        }
        return out;
    };
    p.callServicePipe = [](CMountRequest& record) {
        return CallPipe(names::kServicePipe, record, 1500, 3);
    };
    p.global = globalValue;
    return p;
}

}  // namespace ombrix::admin
