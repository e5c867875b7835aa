// Feeds arbitrary bytes as one of the shared files (catalogue, tree file, server list,
// administration file, settings file) or as an image header to the network access service's
// request table, and checks that what it publishes is consistent with itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "fuzz_work_folder.h"
#include "netservice/net_requests.h"
#include "outside/env/oxtenv.h"

namespace {

struct Target {
    Target() {
        ::setenv("OMBRIX_ROOT", (ombrix::fuzz::workFolder() + "/root").c_str(), 1);
        std::string share = ombrix::fuzz::workFolder() + "/";
        for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OMXSecurityPathNet",
                                "OMXServerPathNet", "OmxAdmPathNet"}) {
            EnvSetGlobalValue(key, share.c_str());
        }
        EnvSetGlobalValue("OmxServerName", "fuzz");
    }
    CSharedFiles files{[](const CMountRequest&) {}};
    CNetRequests requests{files, [](const CMountRequest&) {}};
};

long number(const char* key) {
    char value[64] = {};
    EnvGetGlobalValue(key, value, sizeof value);
    return std::atol(value);
}

void check(bool condition) {
    if (!condition) std::abort();
}

int countKeys(const char* prefix) {
    struct Count {
        std::string prefix;
        int n = 0;
    } count{prefix, 0};
    EnvEnumGlobalValues(&count, [](void* context, const char* key, const char* value) {
        auto* c = static_cast<Count*>(context);
        if (std::string(key).rfind(c->prefix, 0) == 0 && value[0] != '\0') ++c->n;
        return 1;
    });
    return count.n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Target target;
    if (size == 0) return 0;
    static const char* kFiles[] = {"OMXimg.dat", "OMXTree.dat", "OXTServ.dat",
                                   "Oxtadm.dat", "Oxtenv.dat",  "image.om4"};
    static const int32_t kRequests[] = {35, 36, 38, 39, 51, 33};
    size_t which = data[0] % 6;
    std::string path = ombrix::fuzz::workFile(kFiles[which]);
    ombrix::fuzz::writeWorkFile(path, data + 1, size - 1);
    CMountRequest record;
    record.m_request = kRequests[which];
    if (which == 5) {
        record.setText(path);
        record.setPassword("pw");
    }
    target.requests.Handle(record);
    check(record.m_request == kRequests[which] || record.m_request == -7 || record.m_request == -8);
    if (which == 0 && record.m_request == 35) {
        long count = number("OMXImageCount");
        check(count == countKeys("OMXImage_"));
        check(count == 0 || number("OMXIndexHiNet") >= CSharedFiles::kSharedBase);
        check(number("OMXIndexHiNet") <= CSharedFiles::kMaxKeyNumber);
    }
    if (which == 1 && record.m_request == 36)
        check(number("OMXTreeLines") == countKeys("OMXTree_"));
    if (which == 2 && record.m_request == 38) check(number("OMXServer") == countKeys("Server_"));
    return 0;
}
