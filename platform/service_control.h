#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The service control stand-in. Services are registered under
// HKLM\SYSTEM\CurrentControlSet\Services\<name> (Type, Start, ErrorControl, ImagePath,
// DisplayName, ObjectName, Description). The controller starts a registered service as a
// detached process of its ImagePath in session 0; the service process connects through
// runServiceDispatcher, which runs the service's main function on a thread of its own and
// passes control codes (sent over the pipe "svcctl_<name>") to the registered handler on the
// calling thread. Each service's seven status words live in services/<name>.status; a service
// process holds services/<name>.lock while it lives, so a service whose process died reads as
// stopped with exit code 1067.
namespace ombrix::win {

constexpr int kInvalidServiceControl = 1052;
constexpr int kServiceRequestTimeout = 1053;
constexpr int kServiceAlreadyRunning = 1056;
constexpr int kServiceDoesNotExist = 1060;
constexpr int kServiceCannotAcceptControl = 1061;
constexpr int kServiceNotActive = 1062;
constexpr int kFailedServiceControllerConnect = 1063;
constexpr int kServiceSpecificError = 1066;
constexpr int kProcessAborted = 1067;
constexpr int kServiceMarkedForDelete = 1072;
constexpr int kServiceExists = 1073;
constexpr int kServiceDependencyFail = 1068;
constexpr int kServiceNeverStarted = 1077;

}  // namespace ombrix::win

namespace ombrix::svc {

inline constexpr const char* kServicesKey = "HKLM\\SYSTEM\\CurrentControlSet\\Services";

enum State : uint32_t {
    kStopped = 1,
    kStartPending = 2,
    kStopPending = 3,
    kRunning = 4,
    kContinuePending = 5,
    kPausePending = 6,
    kPaused = 7,
};

enum Control : uint32_t {
    kControlStop = 1,
    kControlPause = 2,
    kControlContinue = 3,
    kControlInterrogate = 4,
    kControlShutdown = 5,
};

enum Accepted : uint32_t {
    kAcceptStop = 1,
    kAcceptPauseContinue = 2,
    kAcceptShutdown = 4,
};

constexpr uint32_t kOwnProcess = 16;

// The seven status words, in this order.
struct ServiceStatus {
    uint32_t serviceType = kOwnProcess;
    uint32_t currentState = kStopped;
    uint32_t controlsAccepted = 0;
    uint32_t win32ExitCode = 0;
    uint32_t serviceSpecificExitCode = 0;
    uint32_t checkPoint = 0;
    uint32_t waitHint = 0;
};
static_assert(sizeof(ServiceStatus) == 28);

struct ServiceConfig {
    std::string name;
    std::string displayName;
    std::string binaryPath;
    std::string account;  // empty: LocalSystem
    std::string description;
    std::vector<std::string> dependencies;  // services started before this one
    uint32_t serviceType = kOwnProcess;
    uint32_t startType = 2;
    uint32_t errorControl = 1;
};

std::string stateName(uint32_t state);

// --- controller side; results are 0 or Win32-style codes ---

// Registers a service. The password of the logon account is not kept.
int createService(const ServiceConfig& config);
// Removes a stopped service at once; a running one is marked and removed when it stops.
int deleteService(std::string_view name);
int serviceExists(std::string_view name);  // 0 or 1060
int getServiceConfig(std::string_view name, ServiceConfig& out);
int setServiceDescription(std::string_view name, std::string_view description);
std::vector<std::string> listServices();

// Starts the service process and returns once its dispatcher is connected (at most 30 s). The
// services it depends on are started first when they are not running; 1068 when one fails.
int startService(std::string_view name);
// Sends a control code and returns the status after the handler was called.
int controlService(std::string_view name, uint32_t control, ServiceStatus& status);
int queryServiceStatus(std::string_view name, ServiceStatus& status);

// --- service process side ---

using ServiceMainFunction = void (*)(int argc, char** argv);
using HandlerFunction = void (*)(uint32_t control);
using StatusHandle = uintptr_t;

// Runs `serviceMain` for the service `name` and dispatches control codes until it has returned.
// Fails with 1063 when the process was not started by the controller.
int runServiceDispatcher(std::string_view name, ServiceMainFunction serviceMain);
// 0 on failure (no dispatcher for that name).
StatusHandle registerServiceCtrlHandler(std::string_view name, HandlerFunction handler);
int setServiceStatus(StatusHandle handle, const ServiceStatus& status);

}  // namespace ombrix::svc
