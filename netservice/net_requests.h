#pragma once

#include <sys/types.h>
#include <cstdint>
#include <functional>
#include <mutex>

#include "netservice/shared_files.h"
#include "pipes/mountrequest.h"

// The request table of the network pipe and the change check of the shared files.
class CNetRequests {
  public:
    // The network pipe's requests and results, and the notices it sends to the management
    // service (request_codes.h).
    using enum ombrix::pipes::Request;
    using enum ombrix::pipes::Result;

    // `push` queues a record for the management service.
    CNetRequests(CSharedFiles& files, CSharedFiles::Push push);

    // Handles one record in place; false when the pipe thread should end after the reply.
    bool Handle(CMountRequest& record);

    // Whether account `uid` may send request `code`: root anything; whoever holds the
    // administration right (`rightEight`) the re-reads and the pool's settings; nobody else
    // the end request or the image passwords.
    static bool MayAsk(int32_t code, uid_t uid, const std::function<bool(uid_t)>& rightEight);

    // Looks at each shared file's write time and has the changed ones read: the settings file
    // at once, the others through `request` (a request code for the network pipe). Missing
    // default files are created. One check runs at a time; a check asked for while another
    // runs is left to that one (false).
    bool ChangeCheck(const std::function<void(int32_t)>& request);

  private:
    CSharedFiles& files_;
    CSharedFiles::Push push_;
    std::mutex checking_;
};
