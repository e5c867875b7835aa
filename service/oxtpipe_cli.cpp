// oxtpipe: sends one request on the management service's pipe, as the helper library does, and
// prints the reply. For administrators and scripts (log sessions on, look at units).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/names.h"
#include "pipes/mountrequest.h"
#include "platform/named_pipe.h"

namespace {

const char* kUsage =
    "usage: oxtpipe REQUEST [--session N] [--data N] [--text TEXT] [--password TEXT] [--net]\n"
    "Sends the record on the pipe OMX_TS_Pipe of $OMBRIX_ROOT (with --net on the network\n"
    "access service's pipe OMX_TS_Net_Pipe) and prints the reply:\n"
    "request, session, data and text; for the lists (8 unit users, 19 logons) the entries\n"
    "from position --session (default 0).\n"
    "Examples: oxtpipe 17 --session 2 --text alice (log on), oxtpipe 19 (logons),\n"
    "          oxtpipe 4 --data 1 (unit 1: image and user count), oxtpipe 7 (unit count),\n"
    "          oxtpipe 35 --net (re-read the network catalogue).\n";

bool parseLong(const char* text, long low, long high, long& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = value;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    long code = 0;
    if (argc < 2 || !parseLong(argv[1], -0x7FFFFFFFL, 0x7FFFFFFFL, code)) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    CMountRequest record;
    record.m_request = static_cast<int32_t>(code);
    // The lists start at the position in the session field: from the first entry unless asked.
    bool net = false;
    for (int i = 2; i < argc; ++i)
        net |= std::strcmp(argv[i], "--net") == 0;
    if (!net && (code == CMountRequest::kUnitUsers || code == CMountRequest::kListLogons)) {
        record.m_sessionId = 0;
    }
    const char* pipe = ombrix::names::kServicePipe;
    for (int i = 2; i < argc; i += 2) {
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long number = 0;
        if (std::strcmp(argv[i], "--net") == 0) {
            pipe = ombrix::names::kNetPipe;
            --i;  // takes no value
        } else if (std::strcmp(argv[i], "--session") == 0 &&
                   parseLong(value, 0, 0xFFFFFFFFL, number)) {
            record.m_sessionId = static_cast<uint32_t>(number);
        } else if (std::strcmp(argv[i], "--data") == 0 &&
                   parseLong(value, 0, 0xFFFFFFFFL, number)) {
            record.m_dwData = static_cast<uint32_t>(number);
        } else if (std::strcmp(argv[i], "--text") == 0 && value != nullptr) {
            record.setText(value);
        } else if (std::strcmp(argv[i], "--password") == 0 && value != nullptr) {
            record.setPassword(value);
        } else {
            std::fprintf(stderr, "oxtpipe: bad argument '%s'\n", argv[i]);
            return 1;
        }
    }
    CMountRequest reply;
    size_t read = 0;
    int rc = ombrix::platform::callNamedPipe(".", pipe, record.bytes(), sizeof record,
                                             reply.bytes(), sizeof reply, read, 3000);
    if (rc != 0 || read != sizeof reply) {
        std::fprintf(stderr, "oxtpipe: the service did not answer (error %d)\n", rc);
        return 1;
    }
    std::printf("request %d\nsession %u\ndata %u\n", reply.m_request, reply.m_sessionId,
                reply.m_dwData);
    bool list = !net && (code == CMountRequest::kUnitUsers || code == CMountRequest::kListLogons) &&
                reply.m_request == code;
    if (list) {
        std::printf("entries");
        for (uint32_t i = 0; i < reply.m_dwData && i < CMountRequest::kMaxListEntries; ++i)
            std::printf(" %u", reply.listEntry(static_cast<int>(i)));
        std::printf("\n");
    } else {
        std::printf("text %s\n", std::string(reply.text()).c_str());
    }
    return reply.m_request < 0 ? 2 : 0;
}
