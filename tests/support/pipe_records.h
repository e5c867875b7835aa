#pragma once

#include <cstdint>
#include <string>

#include "common/names.h"
#include "pipes/mountrequest.h"
#include "platform/named_pipe.h"

namespace ombrix::test {

// A pipe record with the fields tests set.
inline CMountRequest record(int32_t code, uint32_t session = 0, const std::string& text = "",
                            uint32_t data = 0, const std::string& password = "") {
    CMountRequest r;
    r.m_request = code;
    r.m_sessionId = session;
    r.m_dwData = data;
    r.setText(text);
    r.setPassword(password);
    return r;
}

// One call of a pipe with the record's raw bytes; a failed call answers request 9999.
inline CMountRequest callPipe(const std::string& pipe, const CMountRequest& sent,
                              int timeoutMs = 3000) {
    CMountRequest reply;
    size_t read = 0;
    int rc = ombrix::platform::callNamedPipe(".", pipe, sent.bytes(), sizeof sent, reply.bytes(),
                                             sizeof reply, read, timeoutMs);
    if (rc != 0 || read != sizeof reply) reply.m_request = 9999;
    return reply;
}

// The same on the management service's pipe.
inline CMountRequest call(const CMountRequest& sent) {
    return callPipe(ombrix::names::kServicePipe, sent);
}

}  // namespace ombrix::test
