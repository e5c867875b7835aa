#include "platform/session_id.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace ombrix::platform {
namespace {

constexpr uint32_t kUnsetAuditSession = 0xFFFFFFFFu;

bool parseSession(const std::string& text, uint32_t& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (end == text.c_str() || *end != '\0' || value > 0xFFFFFFFFul) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

uint32_t auditSession(const std::string& procDir) {
    std::ifstream in(procDir + "/sessionid");
    std::string text;
    uint32_t id = 0;
    if (in >> text && parseSession(text, id) && id != kUnsetAuditSession) return id;
    return 0;
}

}  // namespace

uint32_t currentSessionId() {
    uint32_t id = 0;
    const char* env = std::getenv("OMBRIX_SESSION");
    if (env != nullptr && parseSession(env, id)) return id;
    return auditSession("/proc/self");
}

uint32_t sessionIdOfProcess(int pid) {
    std::string dir = "/proc/" + std::to_string(pid);
    std::ifstream environ(dir + "/environ", std::ios::binary);
    std::string entry;
    const std::string prefix = "OMBRIX_SESSION=";
    while (std::getline(environ, entry, '\0')) {
        uint32_t id = 0;
        if (entry.rfind(prefix, 0) == 0 && parseSession(entry.substr(prefix.size()), id)) return id;
    }
    return auditSession(dir);
}

}  // namespace ombrix::platform
