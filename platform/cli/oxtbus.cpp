// oxtbus: posts to and listens on the session bus, the messages the programs of one session
// send each other ("WM_OXT_SETTINGS_CHANGED", "WM_OXT_TRAY_STOP", ...).
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/message_bus.h"

namespace {

const char* kUsage =
    "usage: oxtbus post NAME [WPARAM [LPARAM]]    sends a message to every program of the\n"
    "                                             caller's session\n"
    "       oxtbus listen [--count N] [--timeout SECONDS]\n"
    "                                             prints each message as 'NAME WPARAM LPARAM'\n"
    "                                             until N arrived or the time is up\n"
    "The session is $OMBRIX_SESSION, else the caller's audit session; the machine root is\n"
    "$OMBRIX_ROOT (default /var/lib/ombrix). Exits 1 when listening ended without a message.\n";

bool parseNumber(const char* text, long long& out) {
    if (text == nullptr || *text == '\0') return false;
    errno = 0;
    char* end = nullptr;
    out = std::strtoll(text, &end, 10);
    return errno == 0 && *end == '\0';
}

int post(int argc, char** argv) {
    if (argc < 3 || argc > 5) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    long long wParam = 0, lParam = 0;
    if ((argc > 3 && !parseNumber(argv[3], wParam)) ||
        (argc > 4 && !parseNumber(argv[4], lParam))) {
        std::fprintf(stderr, "oxtbus: WPARAM and LPARAM are decimal numbers\n");
        return 2;
    }
    const int reached = ombrix::platform::postToSession(
        {argv[2], static_cast<uint64_t>(wParam), static_cast<int64_t>(lParam)});
    std::printf("%d\n", reached);
    return 0;
}

int listen(int argc, char** argv) {
    long long count = 0, timeout = 0;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc &&
            parseNumber(argv[i + 1], count) && count > 0) {
            ++i;
        } else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc &&
                   parseNumber(argv[i + 1], timeout) && timeout > 0) {
            ++i;
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }
    ombrix::platform::BusListener bus;
    if (!bus.ok()) {
        std::fprintf(stderr, "oxtbus: cannot listen on the session's bus\n");
        return 1;
    }
    // Scripts wait for this line before they make the programs post.
    std::printf("listening\n");
    std::fflush(stdout);
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::seconds(timeout);
    long long received = 0;
    while (count == 0 || received < count) {
        int wait = -1;
        if (timeout > 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() <= 0) break;
            wait = static_cast<int>(left.count());
        }
        const auto message = bus.receive(wait);
        if (!message) continue;
        std::printf("%s %" PRIu64 " %" PRId64 "\n", message->name.c_str(), message->wParam,
                    message->lParam);
        std::fflush(stdout);
        ++received;
    }
    return received > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (std::strcmp(argv[1], "post") == 0) return post(argc, argv);
    if (std::strcmp(argv[1], "listen") == 0) return listen(argc, argv);
    std::fputs(kUsage, stderr);
    return 2;
}
