// Feeds arbitrary bytes, as a TCP client would send them, to the record reader and hands every
// record it accepts to the administration and peer handlers (with sessions whose pipes answer
// with text taken from the input). Checks that a reply keeps the record's framing rules.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_work_folder.h"
#include "outside/env/oxtenv.h"
#include "platform/blocking_socket.h"
#include "service/ip_requests.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

const bool rooted = [] {
    ::setenv("OMBRIX_ROOT", ombrix::fuzz::workFolder().c_str(), 1);
    EnvSetGlobalValue("Sid_1", "alice");
    EnvSetGlobalValue("Device_1", "/img/one.om4");
    return true;
}();

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    (void)rooted;
    if (size > 60000) return 0;  // stays within one socket buffer
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) std::abort();
    CBlockingSocket reader{ombrix::platform::UniqueFd(fds[0])};
    ombrix::platform::UniqueFd writer(fds[1]);
    if (size > 0 && ::send(writer.get(), data, size, MSG_NOSIGNAL) != static_cast<ssize_t>(size)) {
        std::abort();
    }
    writer.reset();

    CIPData record;
    try {
        if (ReadIPData(reader, record, 50) != IPHeaderCheck::kGood) return 0;
    } catch (const CBlockingSocketException&) {
        return 0;
    }
    check(record.Payload().size() + CIPData::kHeaderSize == record.m_header.length);

    // The bytes after the header, as a session's answer text.
    std::string answer(reinterpret_cast<const char*>(data) + (size > 36 ? 36 : size),
                       size > 36 ? size - 36 : 0);
    CIPRequests::Hooks hooks;
    hooks.callNetPipe = [](CMountRequest&) { return true; };
    hooks.callServicePipe = [](CMountRequest&) { return true; };
    hooks.callSessionPipe = [&](uint32_t session, CMountRequest& r) {
        if (session % 3 == 2) return false;
        r.setText(answer);
        r.m_dwData = static_cast<uint32_t>(answer.size());
        return true;
    };
    hooks.sessions = [] { return std::vector<uint32_t>{1, 2, 3}; };
    hooks.notifySessions = [](const CMountRequest&, std::vector<uint32_t>) {};
    hooks.announcePath = [](const std::string&) {};
    CIPRequests requests(std::move(hooks), "HKLM\\SOFTWARE\\Fuzz");
    CIPData reply;
    if (requests.Handle(record, reply)) {
        auto bytes = reply.Bytes();
        CIPHeader header;
        check(ParseIPHeader(bytes.data(), header) == IPHeaderCheck::kGood);
        check(header.length == bytes.size());
    }
    return 0;
}
