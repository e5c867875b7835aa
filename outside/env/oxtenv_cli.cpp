// oxtenv: reads, sets and lists the configuration stores from the command line.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "oxtenv.h"
#include "platform/account.h"
#include "platform/machine_root.h"

namespace {

const char* kUsage =
    "usage: oxtenv [--session SID] get KEY\n"
    "       oxtenv [--session SID] set KEY VALUE\n"
    "       oxtenv [--session SID] delete KEY\n"
    "       oxtenv [--session SID] list\n"
    "Without --session the machine's global store is used; with it, that session's store.\n"
    "The machine root is $OMBRIX_ROOT (default /var/lib/ombrix).\n";

int printEntry(void*, const char* key, const char* value) {
    std::printf("%s=%s\n", key, value);
    return 1;
}

bool validSession(const std::string& text) {
    if (text.empty() || text.size() > 10) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return std::strtoull(text.c_str(), nullptr, 10) <= 0xFFFFFFFFull;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    bool session = false;
    if (args.size() >= 2 && args[0] == "--session") {
        if (!validSession(args[1])) {
            std::fprintf(stderr, "oxtenv: '%s' is no session number\n", args[1].c_str());
            return 2;
        }
        // The session store of a process is the one of its session.
        ::setenv("OMBRIX_SESSION", args[1].c_str(), 1);
        // A session's store is its account's: root reads and changes it as that account, so no
        // link its owner put there leads root anywhere.
        struct stat st {};
        const auto folder = ombrix::platform::rootPath("env/session/" + args[1], false);
        if (::geteuid() == 0 && ::lstat(folder.c_str(), &st) == 0 && st.st_uid != 0) {
            auto owner = ombrix::platform::accountById(st.st_uid);
            if (!owner || ombrix::platform::becomeAccount(*owner) != 0) {
                std::fprintf(stderr, "oxtenv: cannot act as the owner of session %s\n",
                             args[1].c_str());
                return 1;
            }
        }
        session = true;
        args.erase(args.begin(), args.begin() + 2);
    }
    if (args.empty()) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    const std::string& command = args[0];
    if (command == "get" && args.size() == 2) {
        std::vector<char> buffer(1 << 20);
        int found = session ? EnvGetUserValue(args[1].c_str(), buffer.data(), buffer.size())
                            : EnvGetGlobalValue(args[1].c_str(), buffer.data(), buffer.size());
        if (!found) {
            std::fprintf(stderr, "oxtenv: no value '%s'\n", args[1].c_str());
            return 1;
        }
        std::printf("%s\n", buffer.data());
        return 0;
    }
    if (command == "set" && args.size() == 3) {
        int ok = session ? EnvSetUserValue(args[1].c_str(), args[2].c_str())
                         : EnvSetGlobalValue(args[1].c_str(), args[2].c_str());
        if (!ok) {
            std::fprintf(stderr, "oxtenv: cannot store '%s'\n", args[1].c_str());
            return 1;
        }
        return 0;
    }
    if (command == "delete" && args.size() == 2) {
        int ok =
            session ? EnvDeleteUserValue(args[1].c_str()) : EnvDeleteGlobalValue(args[1].c_str());
        if (!ok) {
            std::fprintf(stderr, "oxtenv: no value '%s'\n", args[1].c_str());
            return 1;
        }
        return 0;
    }
    if (command == "list" && args.size() == 1) {
        if (session) {
            EnvEnumUserValues(nullptr, printEntry);
        } else {
            EnvEnumGlobalValues(nullptr, printEntry);
        }
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
