#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <span>
#include <string>

#include "platform/service_control.h"

namespace svc = ombrix::svc;

// One text of a program's string table.
struct ServiceString {
    int id;
    const char* text;
};

// The service frame: turns a console program into one that installs, removes, starts, stops and
// debugs itself as a service, runs under the service controller, or runs interactively (in the
// console, stopped by Ctrl-C, or faceless, stopped by SIGTERM/SIGHUP). One instance per process.
class CNTService {
  public:
    // Event types as the event log knows them.
    static constexpr uint16_t kEventError = 1;
    static constexpr uint16_t kEventWarning = 2;
    static constexpr uint16_t kEventInformation = 4;
    static constexpr uint32_t kEventIdFromType = 0xFFFFFFFFu;

    // `strings` is the program's string table: texts 2 and 3, when present, take the place of
    // the display name and the description.
    CNTService(const char* serviceName, const char* displayName = nullptr,
               const char* description = nullptr, std::span<const ServiceString> strings = {});
    virtual ~CNTService();
    CNTService(const CNTService&) = delete;
    CNTService& operator=(const CNTService&) = delete;

    virtual void Run(int argc, char** argv) = 0;
    virtual void Stop() = 0;
    virtual void Pause();
    virtual void Continue();
    virtual void Shutdown();
    // Parses the switches and does what they ask; the result is the exit code (0 success).
    virtual int ProcessCommandLine(int argc, char** argv);
    // What the switches of ProcessCommandLine do, on standard output.
    void PrintUsage() const;
    virtual bool RunDispatcher();
    virtual bool InstallSelf();
    virtual bool RemoveSelf();
    virtual bool StopInstalled();
    virtual bool StartInstalled();
    virtual int RunInteractive(int argc, char** argv, bool faceless);
    virtual bool RegisterEventLogSource(const char* path, uint32_t types);
    virtual bool DeregisterEventLogSource();
    virtual void LogEventById(int stringId, uint16_t type, uint32_t eventId);
    virtual void LogEvent(const char* text, uint16_t type, uint32_t eventId);

    bool SetStatus(uint32_t state, uint32_t waitHint, uint32_t serviceExitCode = 0);

    static void ServiceMainEntry(int argc, char** argv);
    static void ControlHandlerEntry(uint32_t code);
    static CNTService* Instance() { return s_instance; }

    // The calling thread's last error, as platform calls leave it.
    static void SetLastError(uint32_t code);
    static uint32_t GetLastError();
    // The system text of an error code, without the closing line break; empty when unknown.
    static std::string ErrorText(uint32_t code);

    // A text of the string table, from the language resource module when one is loaded.
    std::string LoadString(int id) const;
    // A text of the string table with printf-style inserts. A translated text is used only when
    // it takes the same inserts as the built-in one (`builtIn`, else the table's own), so a
    // language module cannot make the service read inserts it was not given.
    std::string FormatString(int id, const char* builtIn, ...) const;

    const std::string& ServiceName() const { return m_serviceName; }
    const char* DisplayName() const { return m_displayName.c_str(); }
    svc::ServiceStatus Status() const;
    bool IsDebugging() const { return m_debug; }
    const std::optional<std::string>& Account() const { return m_account; }
    const std::optional<std::string>& Password() const { return m_password; }

  protected:
    // Prints a text of the string table with printf-style inserts and flushes stdout.
    void Print(int id, ...);
    // The language resource module replaces texts of the string table (null: built-in texts).
    void SetResourceModule(void* module, int (*getString)(int, char*, int));
    // Loads this program's language resource module, <homePath>Language/<language>/Res/
    // <program>.<language>, when `language` has three letters and the module answers
    // `expectedVersion`; its texts then take the place of the string table's. It stays loaded
    // as long as the service.
    void LoadLanguageModule(const std::string& language, const std::string& homePath,
                            int expectedVersion);

    std::string m_serviceName;
    std::string m_displayName;
    std::optional<std::string> m_description;
    uint32_t m_lastError = 0;
    bool m_debug = false;
    svc::ServiceStatus m_status;
    svc::StatusHandle m_statusHandle = 0;
    uint32_t m_controlsAcceptedRunning = svc::kAcceptStop;
    bool m_isNT = true;
    std::string m_userSid;
    bool m_started = false;
    uint32_t m_desiredAccess = 0xF01FF;
    uint32_t m_serviceType = svc::kOwnProcess;
    uint32_t m_startType = 2;
    uint32_t m_errorControl = 1;
    const char* m_loadOrderGroup = nullptr;
    uint32_t* m_tag = nullptr;
    const char* m_dependencies = nullptr;
    std::optional<std::string> m_account;
    std::optional<std::string> m_password;
    char m_displayNameBuffer[128] = {};
    char m_descriptionBuffer[128] = {};
    void* m_module = nullptr;
    bool m_isNT5 = true;

  private:
    bool StopPhase(bool& stopped);

    std::span<const ServiceString> m_strings;
    int (*m_moduleString)(int, char*, int) = nullptr;
    void* m_languageModule = nullptr;
    mutable std::mutex m_statusLock;

    static CNTService* s_instance;
};
