// oxtsession: logs terminal sessions on and off and lists them. Fit for pam_exec: "oxtsession
// pam" takes the session from the process and the user and the step from PAM_USER and PAM_TYPE.
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/session_id.h"
#include "platform/terminal_sessions.h"

namespace wts = ombrix::wts;

namespace {

const char* kUsage =
    "usage: oxtsession logon SID USER   log session SID on for USER\n"
    "       oxtsession logoff SID       log session SID off (its drive letters go with it)\n"
    "       oxtsession list             the logged-on sessions: id, state, user\n"
    "       oxtsession pam              for pam_exec: PAM_TYPE open_session logs on, "
    "close_session\n"
    "                                   logs off the caller's session ($OMBRIX_SESSION, else the\n"
    "                                   audit session) for PAM_USER\n"
    "The machine root is $OMBRIX_ROOT (default /var/lib/ombrix).\n";

int fail(const std::string& what, int code) {
    std::fprintf(stderr, "oxtsession: %s (error %d)\n", what.c_str(), code);
    return 1;
}

bool parseSid(const char* text, uint32_t& out) {
    if (text == nullptr || *text == '\0' || *text == '-') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long value = std::strtoul(text, &end, 10);
    if (errno != 0 || *end != '\0' || value > 0xFFFFFFFFul) return false;
    out = static_cast<uint32_t>(value);
    return true;
}

const char* stateName(int state) {
    static const char* names[] = {"active", "connected", "connectquery", "shadow", "disconnected",
                                  "idle",   "listen",    "reset",        "down",   "init"};
    return state >= 0 && state <= 9 ? names[state] : "unknown";
}

int logOn(uint32_t sid, const char* user) {
    // Who a session belongs to is root's word alone.
    if (::geteuid() != 0) return fail("only root logs sessions on", 5);
    int rc = wts::logOn(sid, user);
    return rc == 0 ? 0 : fail("cannot log on session " + std::to_string(sid), rc);
}

int logOff(uint32_t sid) {
    if (::geteuid() != 0) return fail("only root logs sessions off", 5);
    int rc = wts::logOff(sid);
    return rc == 0 ? 0 : fail("cannot log off session " + std::to_string(sid), rc);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    uint32_t sid = 0;
    if (args[0] == "logon" && args.size() == 3) {
        if (!parseSid(argv[2], sid)) return fail("bad session id '" + args[1] + "'", 87);
        return logOn(sid, argv[3]);
    }
    if (args[0] == "logoff" && args.size() == 2) {
        if (!parseSid(argv[2], sid)) return fail("bad session id '" + args[1] + "'", 87);
        return logOff(sid);
    }
    if (args[0] == "list" && args.size() == 1) {
        std::vector<wts::SessionInfo> sessions;
        int rc = wts::enumerateSessions(sessions);
        if (rc != 0) return fail("cannot list sessions", rc);
        for (const auto& s : sessions)
            std::printf("%u\t%s\t%s\n", s.id, stateName(s.state), s.user.c_str());
        return 0;
    }
    if (args[0] == "pam" && args.size() == 1) {
        const char* type = std::getenv("PAM_TYPE");
        const char* user = std::getenv("PAM_USER");
        sid = ombrix::platform::currentSessionId();
        if (type != nullptr && std::strcmp(type, "open_session") == 0 && user != nullptr) {
            return logOn(sid, user);
        }
        if (type != nullptr && std::strcmp(type, "close_session") == 0) {
            // A session that was never logged on is already off: no reason to fail the log-out.
            int rc = wts::logOff(sid);
            return rc == 0 || rc == 2 ? 0
                                      : fail("cannot log off session " + std::to_string(sid), rc);
        }
        return 0;  // other PAM steps concern no session
    }
    std::fputs(kUsage, stderr);
    return 1;
}
