#include "service/ntservice.h"

#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>
#include <algorithm>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <thread>
#include <vector>

#include "log/oxtlog.h"
#include "platform/event_log.h"
#include "platform/registry.h"

CNTService* CNTService::s_instance = nullptr;

namespace {

thread_local uint32_t t_lastError = 0;

constexpr size_t kErrorTextBuffer = 256;
constexpr size_t kErrorTextSpare = 14;

struct ErrorMessage {
    uint32_t code;
    const char* text;
};

constexpr ErrorMessage kErrorMessages[] = {
    {0, "The operation completed successfully."},
    {2, "The system cannot find the file specified."},
    {3, "The system cannot find the path specified."},
    {5, "Access is denied."},
    {6, "The handle is invalid."},
    {13, "The data is invalid."},
    {32, "The process cannot access the file because it is being used by another process."},
    {53, "The network path was not found."},
    {87, "The parameter is incorrect."},
    {109, "The pipe has been ended."},
    {112, "There is not enough space on the disk."},
    {121, "The semaphore timeout period has expired."},
    {206, "The filename or extension is too long."},
    {231, "All pipe instances are busy."},
    {1052, "The requested control is not valid for this service."},
    {1053, "The service did not respond to the start or control request in a timely fashion."},
    {1056, "An instance of the service is already running."},
    {1060, "The specified service does not exist as an installed service."},
    {1061, "The service cannot accept control messages at this time."},
    {1062, "The service has not been started."},
    {1063, "The service process could not connect to the service controller."},
    {1066, "The service has returned a service-specific error code."},
    {1067, "The process terminated unexpectedly."},
    {1072, "The specified service has been marked for deletion."},
    {1073, "The specified service already exists."},
};

constexpr const char* kEventLogApplication =
    "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";

std::string programPath() {
    char path[1024];
    ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        CNTService::SetLastError(2);
        return {};
    }
    path[n] = '\0';
    return path;
}

void sleepSeconds(int seconds) {
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
}

std::vector<std::string> splitMulti(const std::string& data) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < data.size()) {
        size_t end = data.find('\0', start);
        if (end == std::string::npos) end = data.size();
        if (end > start) out.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return out;
}

std::string joinMulti(const std::vector<std::string>& entries) {
    std::string out;
    for (const std::string& entry : entries)
        out += entry + '\0';
    return out;
}

// The conversions of a printf format in order ("%%" skipped); '?' marks anything but a plain
// %s, %d or %c, so a translated text with widths, %n or other surprises never matches.
std::string conversions(const std::string& format) {
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%') continue;
        char next = i + 1 < format.size() ? format[i + 1] : '\0';
        ++i;
        if (next == '%') continue;
        out += (next == 's' || next == 'd' || next == 'c') ? next : '?';
    }
    return out;
}

}  // namespace

CNTService::CNTService(const char* serviceName, const char* displayName, const char* description,
                       std::span<const ServiceString> strings)
    : m_serviceName(serviceName ? serviceName : ""), m_strings(strings) {
    s_instance = this;
    m_displayName = displayName ? displayName : m_serviceName;
    if (description) m_description = description;
    for (const ServiceString& entry : strings) {
        if (entry.id == 2) {
            std::snprintf(m_displayNameBuffer, sizeof m_displayNameBuffer, "%s", entry.text);
            m_displayName = m_displayNameBuffer;
        } else if (entry.id == 3) {
            std::snprintf(m_descriptionBuffer, sizeof m_descriptionBuffer, "%s", entry.text);
            m_description = m_descriptionBuffer;
        }
    }
    m_userSid = ombrix::registry::currentUserSid();
}

CNTService::~CNTService() {
    if (s_instance == this) s_instance = nullptr;
    SetResourceModule(nullptr, nullptr);
    if (m_languageModule != nullptr) dlclose(m_languageModule);
}

void CNTService::Pause() {}
void CNTService::Continue() {}
void CNTService::Shutdown() {}

void CNTService::SetLastError(uint32_t code) {
    t_lastError = code;
}

uint32_t CNTService::GetLastError() {
    return t_lastError;
}

std::string CNTService::ErrorText(uint32_t code) {
    for (const ErrorMessage& message : kErrorMessages) {
        if (message.code != code) continue;
        std::string text = message.text;
        return text.size() + 2 + kErrorTextSpare > kErrorTextBuffer ? std::string() : text;
    }
    return {};
}

std::string CNTService::LoadString(int id) const {
    if (m_moduleString != nullptr) {
        char buffer[1024];
        if (m_moduleString(id, buffer, sizeof buffer) > 0) return buffer;
    }
    for (const ServiceString& entry : m_strings) {
        if (entry.id == id) return entry.text;
    }
    return {};
}

void CNTService::SetResourceModule(void* module, int (*getString)(int, char*, int)) {
    m_module = module;
    m_moduleString = getString;
}

void CNTService::LoadLanguageModule(const std::string& language, const std::string& homePath,
                                    int expectedVersion) {
    // A language is three letters: nothing else becomes part of a path of a module to load.
    if (language.size() != 3 || !std::all_of(language.begin(), language.end(), [](char c) {
            return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        })) {
        return;
    }
    char self[1024];
    ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return;
    self[n] = '\0';
    std::string base = std::filesystem::path(self).stem().string();
    std::string path = homePath + "Language/" + language + "/Res/" + base + "." + language;
    if (!std::filesystem::exists(path)) return;
    void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) return;
    auto version = reinterpret_cast<int (*)()>(dlsym(module, "GetLGVersion"));
    auto text = reinterpret_cast<int (*)(int, char*, int)>(dlsym(module, "GetLGString"));
    if (version == nullptr || version() != expectedVersion) {
        dlclose(module);
        return;
    }
    SetResourceModule(module, text);
    if (m_languageModule != nullptr) dlclose(m_languageModule);
    m_languageModule = module;
}

namespace {

std::string formatWith(const std::string& format, va_list args) {
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format.c_str(), copy);
    va_end(copy);
    if (length <= 0) return {};
    std::string out(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(out.data(), out.size(), format.c_str(), args);
    out.resize(static_cast<size_t>(length));
    return out;
}

}  // namespace

std::string CNTService::FormatString(int id, const char* builtIn, ...) const {
    std::string format = builtIn != nullptr ? builtIn : std::string();
    for (const ServiceString& entry : m_strings) {
        if (builtIn == nullptr && entry.id == id) format = entry.text;
    }
    std::string translated = LoadString(id);
    if (!translated.empty() && conversions(translated) == conversions(format)) format = translated;
    va_list args;
    va_start(args, builtIn);
    std::string out = formatWith(format, args);
    va_end(args);
    return out;
}

void CNTService::Print(int id, ...) {
    // A translated text is used only when it takes the same inserts as the built-in one.
    std::string format;
    for (const ServiceString& entry : m_strings) {
        if (entry.id == id) format = entry.text;
    }
    std::string translated = LoadString(id);
    if (conversions(translated) == conversions(format)) format = translated;
    va_list args;
    va_start(args, id);
    std::vprintf(format.c_str(), args);
    va_end(args);
    std::fflush(stdout);
}

svc::ServiceStatus CNTService::Status() const {
    std::lock_guard guard(m_statusLock);
    return m_status;
}

void CNTService::PrintUsage() const {
    std::printf(
        "usage: %s [-i [-l ACCOUNT] [-p PASSWORD]] | -u | -s | -e | -d | -f\n"
        "%s, a service of this server.\n"
        "  -i  registers the service with the service controller (starts at boot)\n"
        "  -u  stops it and removes the registration\n"
        "  -s  starts the registered service      -e  stops it\n"
        "  -d  runs it in this terminal, telling what it does\n"
        "  -f  runs it in the foreground without a console; SIGINT or SIGTERM stops it\n"
        "Without a switch the process runs as the registered service, started by the service\n"
        "controller or by systemd. The machine root is $OMBRIX_ROOT (default /var/lib/ombrix).\n",
        m_serviceName.c_str(), DisplayName());
}

int CNTService::ProcessCommandLine(int argc, char** argv) {
    char action = 0;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (arg == nullptr || (arg[0] != '-' && arg[0] != '/')) continue;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0 ||
            std::strcmp(arg, "/?") == 0) {
            PrintUsage();
            return 0;
        }
        switch (arg[1]) {
            case 'i':
            case 'I': action = 'i'; break;
            case 'u':
            case 'U': action = 'u'; break;
            case 's':
            case 'S': action = 's'; break;
            case 'e':
            case 'E': action = 'e'; break;
            case 'l':
            case 'L':
            case 'p':
            case 'P': {
                std::optional<std::string>& target =
                    (arg[1] == 'l' || arg[1] == 'L') ? m_account : m_password;
                if (arg[2] != '\0') {
                    target = arg + 2;
                } else if (i + 1 < argc) {
                    target = argv[++i];
                } else {
                    i = argc;  // nothing follows: the scan ends here
                }
                break;
            }
            case 'd':
            case 'D': return RunInteractive(argc, argv, false);
            case 'f': return RunInteractive(argc, argv, true);
            default: break;
        }
    }
    switch (action) {
        case 'i': return InstallSelf() ? 0 : 1;
        case 'u': return RemoveSelf() ? 0 : 1;
        case 's': return StartInstalled() ? 0 : 1;
        case 'e': return StopInstalled() ? 0 : 1;
        default: break;
    }
    if (m_isNT) return RunDispatcher() ? 0 : 1;
    return RunInteractive(argc, argv, true);
}

bool CNTService::RunDispatcher() {
    int rc = svc::runServiceDispatcher(m_serviceName, ServiceMainEntry);
    if (rc == 0) return true;
    SetLastError(static_cast<uint32_t>(rc));
    LogEvent(ErrorText(static_cast<uint32_t>(rc)).c_str(), kEventError, kEventIdFromType);
    return false;
}

void CNTService::ServiceMainEntry(int argc, char** argv) {
    CNTService* self = s_instance;
    if (self == nullptr) return;
    svc::StatusHandle handle =
        svc::registerServiceCtrlHandler(self->m_serviceName, ControlHandlerEntry);
    if (handle == 0) return;
    {
        std::lock_guard guard(self->m_statusLock);
        self->m_statusHandle = handle;
    }
    if (self->SetStatus(svc::kStartPending, 3000)) self->Run(argc, argv);
    self->SetStatus(svc::kStopped, 3000);
}

void CNTService::ControlHandlerEntry(uint32_t code) {
    CNTService* self = s_instance;
    if (self == nullptr) return;
    auto enter = [self](uint32_t state) {
        std::lock_guard guard(self->m_statusLock);
        self->m_status.currentState = state;
    };
    switch (code) {
        case svc::kControlStop:
            enter(svc::kStopPending);
            self->Stop();
            break;
        case svc::kControlPause:
            enter(svc::kPausePending);
            self->Pause();
            break;
        case svc::kControlContinue:
            enter(svc::kContinuePending);
            self->Continue();
            break;
        case svc::kControlInterrogate: self->SetStatus(self->Status().currentState, 3000); break;
        case svc::kControlShutdown: self->Shutdown(); break;
        default: break;
    }
}

bool CNTService::SetStatus(uint32_t state, uint32_t waitHint, uint32_t serviceExitCode) {
    if (m_debug) return true;
    svc::ServiceStatus report;
    svc::StatusHandle handle;
    {
        std::lock_guard guard(m_statusLock);
        m_status.serviceType = m_serviceType;
        m_status.currentState = state;
        m_status.controlsAccepted = state == svc::kStartPending ? 0 : m_controlsAcceptedRunning;
        m_status.win32ExitCode = serviceExitCode != 0 ? 1066 : 0;
        m_status.serviceSpecificExitCode = serviceExitCode;
        if (state == svc::kRunning || state == svc::kStopped) {
            m_status.checkPoint = 0;
        } else {
            ++m_status.checkPoint;
        }
        m_status.waitHint = waitHint;
        report = m_status;
        handle = m_statusHandle;
    }
    int rc = svc::setServiceStatus(handle, report);
    if (rc == 0) return true;
    SetLastError(static_cast<uint32_t>(rc));
    LogEventById(20, kEventError, kEventIdFromType);
    return false;
}

bool CNTService::InstallSelf() {
    m_started = true;
    std::string path = programPath();
    if (path.empty()) {
        Print(4, DisplayName(), ErrorText(GetLastError()).c_str());
        return false;
    }
    svc::ServiceConfig config;
    config.name = m_serviceName;
    config.displayName = m_displayName;
    config.binaryPath = path;
    config.account = m_account.value_or("");
    config.serviceType = m_serviceType;
    config.startType = m_startType;
    config.errorControl = m_errorControl;
    // A double-zero-terminated list of service names.
    for (const char* name = m_dependencies; name != nullptr && *name != '\0';
         name += std::strlen(name) + 1) {
        config.dependencies.emplace_back(name);
    }
    if (int rc = svc::createService(config); rc != 0) {
        SetLastError(static_cast<uint32_t>(rc));
        Print(6, ErrorText(static_cast<uint32_t>(rc)).c_str());
        return false;
    }
    if (m_isNT5 && m_description) svc::setServiceDescription(m_serviceName, *m_description);
    Print(5, DisplayName());
    RegisterEventLogSource(path.c_str(), 7);
    LogEventById(19, kEventInformation, kEventIdFromType);
    return true;
}

// Sends the stop control and watches the service wind down, printing a dot per second.
// False when the service could not be opened or did not take the control.
bool CNTService::StopPhase(bool& stopped) {
    stopped = false;
    if (int rc = svc::serviceExists(m_serviceName); rc != 0) {
        SetLastError(static_cast<uint32_t>(rc));
        Print(14, ErrorText(static_cast<uint32_t>(rc)).c_str());
        return false;
    }
    svc::ServiceStatus status;
    if (svc::controlService(m_serviceName, svc::kControlStop, status) != 0) return true;
    Print(9, DisplayName());
    sleepSeconds(1);
    while (svc::queryServiceStatus(m_serviceName, status) == 0 &&
           status.currentState == svc::kStopPending) {
        std::printf(".");
        std::fflush(stdout);
        sleepSeconds(1);
    }
    stopped = status.currentState == svc::kStopped;
    Print(stopped ? 10 : 11, DisplayName());
    return true;
}

bool CNTService::RemoveSelf() {
    m_started = true;
    bool stopped = false;
    if (!StopPhase(stopped)) return false;
    if (int rc = svc::deleteService(m_serviceName); rc != 0) {
        SetLastError(static_cast<uint32_t>(rc));
        Print(13, ErrorText(static_cast<uint32_t>(rc)).c_str());
        return false;
    }
    Print(12, DisplayName());
    DeregisterEventLogSource();
    return true;
}

bool CNTService::StopInstalled() {
    bool stopped = false;
    return StopPhase(stopped) && stopped;
}

bool CNTService::StartInstalled() {
    if (int rc = svc::serviceExists(m_serviceName); rc != 0) {
        SetLastError(static_cast<uint32_t>(rc));
        Print(14, ErrorText(static_cast<uint32_t>(rc)).c_str());
        return false;
    }
    Print(15, DisplayName());
    if (int rc = svc::startService(m_serviceName); rc != 0) {
        SetLastError(static_cast<uint32_t>(rc));
        Print(18, DisplayName(), ErrorText(static_cast<uint32_t>(rc)).c_str());
        return false;
    }
    sleepSeconds(1);
    svc::ServiceStatus status;
    while (svc::queryServiceStatus(m_serviceName, status) == 0 &&
           status.currentState == svc::kStartPending) {
        std::printf(".");
        std::fflush(stdout);
        sleepSeconds(1);
    }
    bool running = status.currentState == svc::kRunning;
    Print(running ? 16 : 17, DisplayName());
    return running;
}

int CNTService::RunInteractive(int argc, char** argv, bool faceless) {
    m_debug = true;
    if (!faceless) {
        m_started = true;
        std::printf("Debugging %s.\n", DisplayName());
        std::fflush(stdout);
    }
    // Ctrl-C and Ctrl-\ stop a console run; the end-of-session signals stop a faceless one.
    // The signals are taken by a watcher thread, so Stop() runs on an ordinary thread.
    sigset_t set;
    sigemptyset(&set);
    if (faceless) {
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
    } else {
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGQUIT);
    }
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &set, &previous);
    // A program started in the background may inherit these signals ignored; ignored signals
    // never reach the watcher. Blocked, their default action cannot end the process.
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    std::vector<std::pair<int, struct sigaction>> saved;
    for (int signal : {SIGINT, SIGQUIT, SIGTERM, SIGHUP}) {
        if (sigismember(&set, signal) != 1) continue;
        struct sigaction old {};
        sigaction(signal, &standard, &old);
        saved.emplace_back(signal, old);
    }
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        timespec pause{0, 100 * 1000 * 1000};
        while (!done) {
            if (sigtimedwait(&set, nullptr, &pause) <= 0) continue;
            if (!faceless) {
                std::printf("Stopping %s.\n", DisplayName());
                std::fflush(stdout);
            }
            Stop();
        }
    });
    Run(argc, argv);
    done = true;
    watcher.join();
    for (const auto& [signal, old] : saved)
        sigaction(signal, &old, nullptr);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return 0;
}

bool CNTService::RegisterEventLogSource(const char* path, uint32_t types) {
    namespace reg = ombrix::registry;
    std::string key = std::string(kEventLogApplication) + "\\" + m_displayName;
    if (reg::createKey(key) != 0) return false;
    reg::setValue(key, "EventMessageFile", {reg::kExpandString, path});
    reg::setDword(key, "TypesSupported", types);
    reg::Value sources;
    if (reg::getValue(kEventLogApplication, "Sources", sources) != 0)
        sources = {reg::kMultiString, ""};
    std::vector<std::string> entries = splitMulti(sources.data);
    for (const std::string& entry : entries) {
        if (entry == m_displayName) return true;
    }
    entries.push_back(m_displayName);
    return reg::setValue(kEventLogApplication, "Sources",
                         {reg::kMultiString, joinMulti(entries)}) == 0;
}

bool CNTService::DeregisterEventLogSource() {
    namespace reg = ombrix::registry;
    reg::deleteKey(std::string(kEventLogApplication) + "\\" + m_displayName);
    reg::Value sources;
    if (reg::getValue(kEventLogApplication, "Sources", sources) != 0) return true;
    std::vector<std::string> entries = splitMulti(sources.data);
    if (std::erase(entries, m_displayName) == 0) return true;
    return reg::setValue(kEventLogApplication, "Sources",
                         {reg::kMultiString, joinMulti(entries)}) == 0;
}

void CNTService::LogEventById(int stringId, uint16_t type, uint32_t eventId) {
    LogEvent(LoadString(stringId).c_str(), type, eventId);
}

void CNTService::LogEvent(const char* text, uint16_t type, uint32_t eventId) {
    m_lastError = GetLastError();
    OXTLog(3, "%s", text);
    if (eventId == kEventIdFromType) {
        eventId = type == kEventError     ? 0xC0000002u
                  : type == kEventWarning ? 0x80000001u
                                          : 0x40000000u;
    }
    ombrix::eventlog::report(m_displayName, type, eventId, {text});
}
