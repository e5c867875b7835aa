#pragma once

#include <cstdint>
#include <string>

#include "pipes/mountrequest.h"

// The helper's calls of the management service for one session, and how the service's answers
// become the result codes the client library shows.
namespace ombrix::helper {

// Result codes of the client library that the helper library returns.
enum ResultCode : int {
    kOk = 0,
    kFileNotFound = 1,
    kPathNotFound = 2,
    kCannotOpenFile = 4,
    kAccessDenied = 5,
    kWrongPassword = 8,
    kCorruptImage = 10,
    kNoResources = 13,
    kInvalidDrive = 14,
    kInvalidDevice = 15,
    kCommunicationFailed = 17,
    kEmptyPath = 18,
    kInvalidArgument = 18,
    kNoFreeDevice = 504,
    kNoRight = 600,
};

// A record of `request` for `session`, carrying the caller's logon id.
CMountRequest sessionRecord(int32_t request, uint32_t session);

// Calls "OMX_TS_Pipe" ordered by its mutex (1500 ms, 3 attempts); false when no reply came.
bool callService(CMountRequest& record);

// The result code of a reply: 0 when the request field is still `sent`, else the code the
// negative pipe result stands for.
int resultOfReply(const CMountRequest& reply, int32_t sent);

// Logs `session` on at the service with its user's name; true when it is logged on afterwards.
bool logOnSession(uint32_t session);

}  // namespace ombrix::helper
