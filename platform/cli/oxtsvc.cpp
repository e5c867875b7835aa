// oxtsvc: lists, starts, stops and queries the machine's services.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "platform/service_control.h"

namespace svc = ombrix::svc;

namespace {

const char* kUsage =
    "usage: oxtsvc list                 (name, state, display name of every service)\n"
    "       oxtsvc start SERVICE        (waits until it runs or gives up starting)\n"
    "       oxtsvc stop SERVICE         (waits until it has stopped)\n"
    "       oxtsvc query SERVICE        (the seven status words)\n"
    "The machine root is $OMBRIX_ROOT (default /var/lib/ombrix).\n";

constexpr int kWaitLimitS = 30;

int fail(const std::string& what, int code) {
    std::fprintf(stderr, "oxtsvc: %s (error %d)\n", what.c_str(), code);
    return 1;
}

// Polls while the service stays in `pending`; returns the last state seen.
uint32_t waitWhile(const char* name, uint32_t pending) {
    svc::ServiceStatus status;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kWaitLimitS);
    while (svc::queryServiceStatus(name, status) == 0 && status.currentState == pending &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return status.currentState;
}

void printStatus(const char* name, const svc::ServiceStatus& s) {
    std::printf("SERVICE_NAME: %s\n", name);
    std::printf(
        "TYPE: %u\nSTATE: %u %s\nCONTROLS_ACCEPTED: %u\nWIN32_EXIT_CODE: %u\n"
        "SERVICE_EXIT_CODE: %u\nCHECKPOINT: %u\nWAIT_HINT: %u\n",
        s.serviceType, s.currentState, svc::stateName(s.currentState).c_str(), s.controlsAccepted,
        s.win32ExitCode, s.serviceSpecificExitCode, s.checkPoint, s.waitHint);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 1 : 0;
    }
    std::string command = argv[1];
    if (command == "list" && argc == 2) {
        for (const std::string& name : svc::listServices()) {
            svc::ServiceStatus status;
            svc::ServiceConfig config;
            svc::queryServiceStatus(name, status);
            svc::getServiceConfig(name, config);
            std::printf("%s\t%s\t%s\n", name.c_str(), svc::stateName(status.currentState).c_str(),
                        config.displayName.c_str());
        }
        return 0;
    }
    if (argc != 3 || (command != "start" && command != "stop" && command != "query")) {
        std::fputs(kUsage, stderr);
        return 1;
    }
    const char* name = argv[2];
    svc::ServiceStatus status;
    if (command == "query") {
        if (int rc = svc::queryServiceStatus(name, status); rc != 0) {
            return fail(std::string("cannot query ") + name, rc);
        }
        printStatus(name, status);
        return 0;
    }
    if (command == "start") {
        if (int rc = svc::startService(name); rc != 0) {
            return fail(std::string("cannot start ") + name, rc);
        }
        uint32_t state = waitWhile(name, svc::kStartPending);
        std::printf("%s: %s\n", name, svc::stateName(state).c_str());
        return state == svc::kRunning ? 0 : 1;
    }
    if (int rc = svc::controlService(name, svc::kControlStop, status); rc != 0) {
        return fail(std::string("cannot stop ") + name, rc);
    }
    uint32_t state = waitWhile(name, svc::kStopPending);
    std::printf("%s: %s\n", name, svc::stateName(state).c_str());
    return state == svc::kStopped ? 0 : 1;
}
