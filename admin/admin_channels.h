#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "admin/admin_model.h"
#include "pipes/mountrequest.h"
#include "service/ip_data.h"

// The three ways the administration program reaches a session: its own session through the
// client library, another session of this server through that session's pipe, a session of
// another server through that server's management service over TCP. Each operation picks the
// way from its target; failures come back as a reason to show.
namespace ombrix::admin {

// A session of a server: the own session, another local one, or one of a remote server.
struct SessionTarget {
    ServerEntry server;
    uint32_t session = 0;
};

class AdminChannels {
  public:
    struct Ports {
        // This program's session.
        std::function<uint32_t()> ownSession;
        // One call of a session pipe ("OMX_TS_SESSION%d"): true when a whole reply came back.
        std::function<bool(uint32_t session, CMountRequest& record)> callSessionPipe;
        // One TCP record to a server's management service; false when nothing came back.
        std::function<bool(const ServerEntry& server, const CIPData& request, CIPData& reply)>
            sendRecord;
        // The client library in the own session: 0 or the error code.
        std::function<int(char letter, const std::string& image, const std::string& password)>
            insertOwn;
        std::function<int(char letter)> ejectOwn;
        std::function<int(const std::string& letters, bool allSessions)> setOwnDriveLetters;
        // A request of this server's management service pipe: true when it answered.
        std::function<bool(CMountRequest& record)> callServicePipe;
        // The text of an error code (OMXMapErrorCode).
        std::function<std::string(int code)> errorText;
        // This server's logged-on sessions with their users, and a global value.
        std::function<std::vector<std::pair<uint32_t, std::string>>()> localSessions;
        std::function<std::string(const std::string& key)> global;
    };

    static constexpr int kPipeTimeoutMs = 250;
    static constexpr int kPipeAttempts = 3;

    explicit AdminChannels(Ports ports) : ports_(std::move(ports)) {}

    // The sessions of a server with their drives: this server's from its sessions' pipes, a
    // remote one's by "list sessions" (type 13); nothing when the server did not answer.
    std::optional<std::vector<SessionNode>> sessions(const ServerEntry& server);

    // 0, or a failure with `reason` set.
    int insert(const SessionTarget& target, char letter, const std::string& image,
               const std::string& password, std::string& reason);
    int eject(const SessionTarget& target, char letter, std::string& reason);
    // The session's 26 drive letter rows; nothing when they could not be read.
    std::optional<std::vector<DriveLetterRow>> driveLetters(const SessionTarget& target);
    // 0, or a failure.
    int setDriveLetters(const SessionTarget& target, const std::string& letters, bool allSessions);
    // Points a whole server at a pool's folder ("set shared path", type 17), or with `own`
    // back at its own folder. 0, or a failure with `reason` set (empty when it did not answer).
    int setSharedPath(const ServerEntry& server, const std::string& folder, bool own,
                      std::string& reason);

    // Calls a session's pipe with its attempts; true when the reply carries the request's code
    // (else the record's request is -7).
    bool callSession(uint32_t session, CMountRequest& record);

  private:
    bool own(const SessionTarget& target) const;
    std::string reasonOf(const CIPData& reply) const;

    Ports ports_;
};

}  // namespace ombrix::admin
