#include "platform/service_control.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/ascii.h"
#include "platform/machine_root.h"
#include "platform/named_pipe.h"
#include "platform/registry.h"
#include "platform/unique_fd.h"
#include "platform/win_error.h"

extern char** environ;

namespace ombrix::svc {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kNameVariable = "OMBRIX_SERVICE_NAME";
constexpr const char* kLockVariable = "OMBRIX_SERVICE_LOCK";
constexpr int kStartLimitMs = 30000;
constexpr int kControlLimitMs = 30000;

std::string keyOf(std::string_view name) {
    return std::string(kServicesKey) + "\\" + std::string(name);
}

// Service names compare without regard to case; their files use the lower-case name.
std::string fileStem(std::string_view name) {
    std::string out;
    for (char c : name) {
        char lower = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        out += (lower == '/' || lower == '\0') ? '_' : lower;
    }
    return out;
}

std::filesystem::path stateFile(std::string_view name, const char* extension) {
    return platform::rootPath("services/" + fileStem(name) + extension);
}

std::string controlPipe(std::string_view name) {
    return "svcctl_" + fileStem(name);
}

struct StatusRecord {
    ServiceStatus status;
    uint32_t pid = 0;
};

bool readRecord(std::string_view name, StatusRecord& out) {
    std::filesystem::path path = stateFile(name, ".status");
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    return ::read(fd.get(), &out, sizeof out) == static_cast<ssize_t>(sizeof out);
}

// Replaces the status file in one step, so readers never see half a record.
int writeRecord(std::string_view name, const StatusRecord& record) {
    std::filesystem::path path = stateFile(name, ".status");
    std::string temp = path.string() + "." + std::to_string(::getpid()) + "." +
                       std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()));
    platform::UniqueFd fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!fd.valid()) return win::fromErrno(errno, temp.c_str());
    if (::write(fd.get(), &record, sizeof record) != static_cast<ssize_t>(sizeof record)) {
        ::unlink(temp.c_str());
        return win::kDiskFull;
    }
    fd.reset();
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        int rc = win::fromErrno(errno, path.c_str());
        ::unlink(temp.c_str());
        return rc;
    }
    return 0;
}

// True while some process holds the service's lock, i.e. its process lives.
bool processAlive(std::string_view name) {
    std::filesystem::path path = stateFile(name, ".lock");
    platform::UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC));
    if (!fd.valid()) return false;
    struct flock probe {};
    probe.l_type = F_WRLCK;
    probe.l_whence = SEEK_SET;
    if (::fcntl(fd.get(), F_OFD_GETLK, &probe) != 0) return false;
    return probe.l_type != F_UNLCK;
}

void removeIfMarked(std::string_view name) {
    uint32_t flag = 0;
    if (registry::getDword(keyOf(name), "DeleteFlag", flag) == 0 && flag != 0) {
        registry::deleteKey(keyOf(name));
        std::error_code ec;
        std::filesystem::remove(stateFile(name, ".status"), ec);
    }
}

// --- the service process's side ---
struct Dispatcher {
    std::mutex lock;
    std::string name;
    HandlerFunction handler = nullptr;
    StatusRecord record;
    bool active = false;
};

Dispatcher& dispatcher() {
    static Dispatcher instance;
    return instance;
}

}  // namespace

std::string stateName(uint32_t state) {
    switch (state) {
        case kStopped: return "STOPPED";
        case kStartPending: return "START_PENDING";
        case kStopPending: return "STOP_PENDING";
        case kRunning: return "RUNNING";
        case kContinuePending: return "CONTINUE_PENDING";
        case kPausePending: return "PAUSE_PENDING";
        case kPaused: return "PAUSED";
        default: return std::to_string(state);
    }
}

int serviceExists(std::string_view name) {
    registry::Value value;
    if (name.empty()) return win::kServiceDoesNotExist;
    return registry::getValue(keyOf(name), "ImagePath", value) == 0 ? 0 : win::kServiceDoesNotExist;
}

int createService(const ServiceConfig& config) {
    if (config.name.empty() || config.name.find('\\') != std::string::npos ||
        config.name.find('/') != std::string::npos || config.binaryPath.empty()) {
        return win::kInvalidParameter;
    }
    if (serviceExists(config.name) == 0) {
        uint32_t flag = 0;
        if (registry::getDword(keyOf(config.name), "DeleteFlag", flag) == 0 && flag != 0) {
            return win::kServiceMarkedForDelete;
        }
        return win::kServiceExists;
    }
    std::string key = keyOf(config.name);
    int rc = registry::createKey(key);
    if (rc == 0) rc = registry::setDword(key, "Type", config.serviceType);
    if (rc == 0) rc = registry::setDword(key, "Start", config.startType);
    if (rc == 0) rc = registry::setDword(key, "ErrorControl", config.errorControl);
    if (rc == 0) {
        rc = registry::setValue(key, "ImagePath", {registry::kExpandString, config.binaryPath});
    }
    if (rc == 0) {
        rc = registry::setString(key, "DisplayName",
                                 config.displayName.empty() ? config.name : config.displayName);
    }
    if (rc == 0) {
        rc = registry::setString(key, "ObjectName",
                                 config.account.empty() ? "LocalSystem" : config.account);
    }
    if (rc == 0 && !config.description.empty()) {
        rc = registry::setString(key, "Description", config.description);
    }
    if (rc == 0 && !config.dependencies.empty()) {
        std::string list;
        for (const std::string& name : config.dependencies)
            list += name + '\0';
        rc = registry::setValue(key, "DependOnService", {registry::kMultiString, list});
    }
    if (rc != 0) registry::deleteKey(key);
    return rc;
}

int getServiceConfig(std::string_view name, ServiceConfig& out) {
    if (int rc = serviceExists(name); rc != 0) return rc;
    std::string key = keyOf(name);
    out = ServiceConfig{};
    out.name = std::string(name);
    registry::Value image;
    registry::getValue(key, "ImagePath", image);
    out.binaryPath = image.data;
    registry::getString(key, "DisplayName", out.displayName);
    registry::getString(key, "ObjectName", out.account);
    registry::getString(key, "Description", out.description);
    registry::getDword(key, "Type", out.serviceType);
    registry::getDword(key, "Start", out.startType);
    registry::getDword(key, "ErrorControl", out.errorControl);
    registry::Value dependencies;
    if (registry::getValue(key, "DependOnService", dependencies) == 0) {
        size_t start = 0;
        while (start < dependencies.data.size()) {
            size_t end = dependencies.data.find('\0', start);
            if (end == std::string::npos) end = dependencies.data.size();
            if (end > start)
                out.dependencies.push_back(dependencies.data.substr(start, end - start));
            start = end + 1;
        }
    }
    return 0;
}

int setServiceDescription(std::string_view name, std::string_view description) {
    if (int rc = serviceExists(name); rc != 0) return rc;
    return registry::setString(keyOf(name), "Description", description);
}

std::vector<std::string> listServices() {
    std::vector<std::string> keys;
    std::vector<std::string> out;
    registry::listSubkeys(kServicesKey, keys);
    for (const std::string& key : keys) {
        if (serviceExists(key) == 0) out.push_back(key);
    }
    return out;
}

int queryServiceStatus(std::string_view name, ServiceStatus& status) {
    if (int rc = serviceExists(name); rc != 0) return rc;
    StatusRecord record;
    if (!readRecord(name, record)) {
        status = ServiceStatus{};
        return 0;
    }
    if (record.status.currentState != kStopped && !processAlive(name)) {
        // The process ended without reporting "stopped".
        record.status = ServiceStatus{record.status.serviceType,
                                      kStopped,
                                      0,
                                      static_cast<uint32_t>(win::kProcessAborted),
                                      0,
                                      0,
                                      0};
        record.pid = 0;
        writeRecord(name, record);
        removeIfMarked(name);
    }
    status = record.status;
    return 0;
}

int deleteService(std::string_view name) {
    if (int rc = serviceExists(name); rc != 0) return rc;
    ServiceStatus status;
    queryServiceStatus(name, status);
    if (status.currentState != kStopped) {
        uint32_t flag = 0;
        if (registry::getDword(keyOf(name), "DeleteFlag", flag) == 0 && flag != 0) {
            return win::kServiceMarkedForDelete;
        }
        return registry::setDword(keyOf(name), "DeleteFlag", 1);
    }
    int rc = registry::deleteKey(keyOf(name));
    std::error_code ec;
    std::filesystem::remove(stateFile(name, ".status"), ec);
    return rc;
}

// Takes the lock a service process holds while it lives and records the service as starting.
static int lockForStart(std::string_view name, uint32_t serviceType, platform::UniqueFd& lock) {
    std::filesystem::path lockPath = stateFile(name, ".lock");
    lock.reset(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock.valid()) return win::fromErrno(errno, lockPath.c_str());
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    if (::fcntl(lock.get(), F_OFD_SETLK, &range) != 0) return win::kServiceAlreadyRunning;
    StatusRecord pending;
    pending.status = ServiceStatus{serviceType, kStartPending, 0, 0, 0, 0, 2000};
    return writeRecord(name, pending);
}

int startService(std::string_view name) {
    ServiceConfig config;
    if (int rc = getServiceConfig(name, config); rc != 0) return rc;
    uint32_t flag = 0;
    if (registry::getDword(keyOf(name), "DeleteFlag", flag) == 0 && flag != 0) {
        return win::kServiceMarkedForDelete;
    }
    ServiceStatus current;
    queryServiceStatus(name, current);
    if (current.currentState != kStopped) return win::kServiceAlreadyRunning;
    for (const std::string& dependency : config.dependencies) {
        ServiceStatus state;
        if (queryServiceStatus(dependency, state) != 0) return win::kServiceDependencyFail;
        if (state.currentState != kStopped) continue;
        int rc = startService(dependency);
        if (rc != 0 && rc != win::kServiceAlreadyRunning) return win::kServiceDependencyFail;
    }
    if (::access(config.binaryPath.c_str(), X_OK) != 0) {
        return win::fromErrno(errno, config.binaryPath.c_str());
    }

    // The lock taken here is inherited by the service process and held for its lifetime.
    platform::UniqueFd lock;
    if (int rc = lockForStart(name, config.serviceType, lock); rc != 0) return rc;

    // Everything the child needs is prepared before fork: only exec-safe calls follow it.
    std::string outPath = stateFile(name, ".out").string();
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string_view entry(*e);
        if (entry.starts_with("OMBRIX_SESSION=") || entry.starts_with(kNameVariable) ||
            entry.starts_with(kLockVariable)) {
            continue;
        }
        env.emplace_back(entry);
    }
    env.push_back("OMBRIX_SESSION=0");
    env.push_back(std::string(kNameVariable) + "=" + config.name);
    env.push_back(std::string(kLockVariable) + "=" + std::to_string(lock.get()));
    std::vector<char*> envp;
    for (std::string& entry : env)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string binary = config.binaryPath;
    char* argv[] = {binary.data(), nullptr};
    int lockFd = lock.get();

    pid_t first = ::fork();
    if (first < 0) return win::fromErrno(errno);
    if (first == 0) {
        ::setsid();
        pid_t second = ::fork();
        if (second != 0) ::_exit(second < 0 ? 1 : 0);
        int null = ::open("/dev/null", O_RDONLY);
        if (null >= 0) ::dup2(null, 0);
        int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (out >= 0) {
            ::dup2(out, 1);
            ::dup2(out, 2);
        }
        ::fcntl(lockFd, F_SETFD, 0);
        ::execve(binary.c_str(), argv, envp.data());
        ::_exit(127);
    }
    int wstatus = 0;
    while (::waitpid(first, &wstatus, 0) < 0 && errno == EINTR) {
    }
    lock.reset();

    // Started when the dispatcher has connected and recorded its process id.
    const auto deadline = Clock::now() + std::chrono::milliseconds(kStartLimitMs);
    for (;;) {
        StatusRecord record;
        if (readRecord(name, record) && record.pid != 0) return 0;
        if (!processAlive(name)) {
            ServiceStatus ignored;
            queryServiceStatus(name, ignored);
            return win::kProcessAborted;
        }
        if (Clock::now() >= deadline) return win::kServiceRequestTimeout;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

int controlService(std::string_view name, uint32_t control, ServiceStatus& status) {
    if (int rc = queryServiceStatus(name, status); rc != 0) return rc;
    if (status.currentState == kStopped) return win::kServiceNotActive;
    if (control != kControlInterrogate) {
        if (status.currentState == kStartPending || status.currentState == kStopPending) {
            return win::kServiceCannotAcceptControl;
        }
        uint32_t needed = 0;
        if (control == kControlStop) needed = kAcceptStop;
        if (control == kControlPause || control == kControlContinue) needed = kAcceptPauseContinue;
        if (control == kControlShutdown) needed = kAcceptShutdown;
        if (needed != 0 && (status.controlsAccepted & needed) == 0) {
            return win::kInvalidServiceControl;
        }
    }
    ServiceStatus reply;
    size_t read = 0;
    int rc = platform::callNamedPipe(".", controlPipe(name), &control, sizeof control, &reply,
                                     sizeof reply, read, kControlLimitMs);
    if (rc != 0 || read != sizeof reply) return win::kServiceRequestTimeout;
    status = reply;
    return 0;
}

StatusHandle registerServiceCtrlHandler(std::string_view name, HandlerFunction handler) {
    Dispatcher& d = dispatcher();
    std::lock_guard guard(d.lock);
    if (!d.active || !ascii::equalsIgnoreCase(d.name, name)) return 0;
    d.handler = handler;
    return 1;
}

int setServiceStatus(StatusHandle handle, const ServiceStatus& status) {
    Dispatcher& d = dispatcher();
    std::lock_guard guard(d.lock);
    if (handle != 1 || !d.active) return win::kInvalidHandle;
    d.record.status = status;
    int rc = writeRecord(d.name, d.record);
    if (rc == 0 && status.currentState == kStopped) removeIfMarked(d.name);
    return rc;
}

int runServiceDispatcher(std::string_view name, ServiceMainFunction serviceMain) {
    const char* started = std::getenv(kNameVariable);
    const char* lockText = std::getenv(kLockVariable);
    // systemd starting a registered service (it names each start in INVOCATION_ID) stands in
    // for the controller: the process takes the lock the controller would have handed down,
    // so the service's state reads the same through the controller either way.
    static platform::UniqueFd ownLock;
    const bool bySystemd = started == nullptr && std::getenv("INVOCATION_ID") != nullptr;
    if (bySystemd) {
        ServiceConfig config;
        if (int rc = getServiceConfig(name, config); rc != 0) return rc;
        if (int rc = lockForStart(name, config.serviceType, ownLock); rc != 0) return rc;
    } else if (started == nullptr || lockText == nullptr ||
               !ascii::equalsIgnoreCase(started, name)) {
        return win::kFailedServiceControllerConnect;
    }
    Dispatcher& d = dispatcher();
    {
        std::lock_guard guard(d.lock);
        if (d.active) return win::kServiceAlreadyRunning;
    }
    // The inherited lock stays open for the life of this process, but not of its children.
    int lockFd = bySystemd ? ownLock.get() : std::atoi(lockText);
    if (lockFd > 2) ::fcntl(lockFd, F_SETFD, FD_CLOEXEC);
    ::unsetenv(kNameVariable);
    ::unsetenv(kLockVariable);

    int error = 0;
    auto control = platform::NamedPipeServer::create(controlPipe(name), 1, error);
    if (!control) return error;
    {
        std::lock_guard guard(d.lock);
        d.name = std::string(name);
        d.active = true;
        d.handler = nullptr;
        readRecord(name, d.record);
        d.record.pid = static_cast<uint32_t>(::getpid());
        writeRecord(name, d.record);
    }

    std::atomic<bool> done{false};
    std::string argument(name);
    std::thread main([&] {
        char* argv[] = {argument.data(), nullptr};
        serviceMain(1, argv);
        done = true;
    });
    while (!done) {
        auto connection = control->accept(100, error);
        if (!connection) continue;
        uint32_t code = 0;
        size_t size = 0;
        if (connection->read(&code, sizeof code, size, 1000) != 0 || size != sizeof code) continue;
        HandlerFunction handler;
        {
            std::lock_guard guard(d.lock);
            handler = d.handler;
        }
        if (handler != nullptr) handler(code);
        ServiceStatus reply;
        {
            std::lock_guard guard(d.lock);
            reply = d.record.status;
        }
        connection->write(&reply, sizeof reply);
    }
    main.join();
    control.reset();
    std::lock_guard guard(d.lock);
    // A service that returned without saying so is stopped all the same.
    if (d.record.status.currentState != kStopped) {
        d.record.status.currentState = kStopped;
        d.record.status.controlsAccepted = 0;
        d.record.status.checkPoint = 0;
        d.record.status.waitHint = 0;
        writeRecord(name, d.record);
        removeIfMarked(name);
    }
    d.active = false;
    return 0;
}

}  // namespace ombrix::svc
