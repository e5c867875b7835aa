#include "service/ntservice.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/event_log.h"
#include "platform/registry.h"
#include "support/temp_root.h"

namespace {

constexpr ServiceString kStrings[] = {{2, "Test Display"},
                                      {3, "Test description"},
                                      {5, "%s installed.\n"},
                                      {6, "CreateService failed - %s\n"},
                                      {20, "SetServiceStatus() failed"}};

// A language library's texts: one good translation, one with a dangerous format.
int translated(int id, char* buffer, int size) {
    const char* text = id == 5 ? "%s installiert.\n" : id == 6 ? "%n%s %s\n" : nullptr;
    if (text == nullptr) return 0;
    std::snprintf(buffer, static_cast<size_t>(size), "%s", text);
    return static_cast<int>(std::strlen(buffer));
}

// Records which action the command line chose instead of doing it.
class Recorder : public CNTService {
  public:
    Recorder() : CNTService("TestSvc", "Fallback", nullptr, kStrings) {}
    void Run(int, char**) override {}
    void Stop() override {}
    bool InstallSelf() override { return note("install"); }
    bool RemoveSelf() override { return note("remove"); }
    bool StartInstalled() override { return note("start"); }
    bool StopInstalled() override { return note("stop"); }
    bool RunDispatcher() override { return note("dispatch"); }
    int RunInteractive(int, char**, bool faceless) override {
        note(faceless ? "faceless" : "console");
        return 0;
    }
    bool note(const std::string& what) {
        calls.push_back(what);
        return true;
    }
    std::vector<std::string> calls;

    int parse(std::vector<std::string> args) {
        args.insert(args.begin(), "Oxtserv");
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        return ProcessCommandLine(static_cast<int>(argv.size()), argv.data());
    }
    using CNTService::m_debug;
    using CNTService::Print;
    using CNTService::SetResourceModule;
};

TEST(CNTService, SwitchesPickTheLastActionAndDebugActsAtOnce) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {{}, {"dispatch"}},
        {{"-i"}, {"install"}},
        {{"/I", "-u"}, {"remove"}},
        {{"-s", "x", "-E"}, {"stop"}},
        {{"-S"}, {"start"}},
        {{"-F"}, {"dispatch"}},  // upper-case F is no switch
        {{"-f"}, {"faceless"}},
        {{"-d", "-i"}, {"console"}},
        {{"-D"}, {"console"}},
        {{"-i", "-d"}, {"console"}},
        {{"plain", "--nothing"}, {"dispatch"}},
        {{"-i", "--help"}, {}},  // the usage, and nothing done
    };
    for (const Case& c : cases) {
        Recorder service;
        EXPECT_EQ(service.parse(c.args), 0);
        EXPECT_EQ(service.calls, c.calls) << ::testing::PrintToString(c.args);
    }
}

TEST(CNTService, AccountAndPasswordTakeTheRestOrTheNextArgument) {
    Recorder attached;
    attached.parse({"-lDOMAIN\\svc", "-psecret", "-i"});
    EXPECT_EQ(attached.Account(), "DOMAIN\\svc");
    EXPECT_EQ(attached.Password(), "secret");

    Recorder next;
    next.parse({"-L", "admin", "-P", "pw"});
    EXPECT_EQ(next.Account(), "admin");
    EXPECT_EQ(next.Password(), "pw");

    // Last on the line: unset, and the scan ends (the -i before still counts).
    Recorder last;
    last.parse({"-i", "-l"});
    EXPECT_FALSE(last.Account().has_value());
    EXPECT_EQ(last.calls, std::vector<std::string>{"install"});
    Recorder lastPassword;
    lastPassword.parse({"-p"});
    EXPECT_FALSE(lastPassword.Password().has_value());
}

TEST(CNTService, StringResourcesReplaceDisplayNameAndDescription) {
    Recorder service;
    EXPECT_STREQ(service.DisplayName(), "Test Display");
    EXPECT_EQ(CNTService::Instance(), &service);
    EXPECT_EQ(service.LoadString(3), "Test description");
    EXPECT_EQ(service.LoadString(99), "");
}

TEST(CNTService, TranslatedTextsAreUsedOnlyWithTheSameInserts) {
    Recorder service;
    service.SetResourceModule(nullptr, translated);
    ::testing::internal::CaptureStdout();
    service.Print(5, "X");
    service.Print(6, "Y");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "X installiert.\nCreateService failed - Y\n");
    // Texts for the event log follow the same rule.
    EXPECT_EQ(service.FormatString(5, nullptr, "X"), "X installiert.\n");
    EXPECT_EQ(service.FormatString(6, nullptr, "Y"), "CreateService failed - Y\n");
    EXPECT_EQ(service.FormatString(6, "%s broke\n", "Y"), "Y broke\n");
    service.SetResourceModule(nullptr, nullptr);
}

TEST(CNTService, EventIdsFollowTheTypeAndEveryEventIsAlsoLogged) {
    ombrix::test::TempRoot root;
    Recorder service;
    ASSERT_TRUE(service.RegisterEventLogSource("/usr/bin/oxtserv", 7));
    service.LogEvent("bad", CNTService::kEventError, CNTService::kEventIdFromType);
    service.LogEvent("careful", CNTService::kEventWarning, CNTService::kEventIdFromType);
    service.LogEvent("note", CNTService::kEventInformation, CNTService::kEventIdFromType);
    service.LogEvent("explicit", CNTService::kEventInformation, 3);
    auto entries = ombrix::eventlog::read("Test Display");
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].id, 0xC0000002u);
    EXPECT_EQ(entries[0].type, "Error");
    EXPECT_EQ(entries[1].id, 0x80000001u);
    EXPECT_EQ(entries[2].id, 0x40000000u);
    EXPECT_EQ(entries[3].id, 3u);
    EXPECT_EQ(entries[3].text, "explicit");
}

TEST(CNTService, EventSourceRegistrationKeepsOtherSources) {
    ombrix::test::TempRoot root;
    namespace reg = ombrix::registry;
    const std::string app = "HKLM\\SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application";
    reg::setValue(app, "Sources", {reg::kMultiString, std::string("Other\0", 6)});
    Recorder service;
    ASSERT_TRUE(service.RegisterEventLogSource("/bin/x", 7));
    ASSERT_TRUE(service.RegisterEventLogSource("/bin/x", 7));  // not listed twice
    reg::Value sources;
    reg::getValue(app, "Sources", sources);
    EXPECT_EQ(sources.data, std::string("Other\0Test Display\0", 19));
    uint32_t types = 0;
    EXPECT_EQ(reg::getDword(app + "\\Test Display", "TypesSupported", types), 0);
    EXPECT_EQ(types, 7u);

    ASSERT_TRUE(service.DeregisterEventLogSource());
    reg::getValue(app, "Sources", sources);
    EXPECT_EQ(sources.data, std::string("Other\0", 6));
    EXPECT_EQ(reg::getDword(app + "\\Test Display", "TypesSupported", types), 2);
}

TEST(CNTService, StatusReportsAreSkippedWhileDebuggingAndFailuresAreReported) {
    ombrix::test::TempRoot root;
    Recorder service;
    service.m_debug = true;
    EXPECT_TRUE(service.SetStatus(svc::kRunning, 3000));
    EXPECT_EQ(service.Status().currentState, svc::kStopped);  // nothing recorded
    service.m_debug = false;
    // Outside a dispatcher the report fails and says so in the event log.
    EXPECT_FALSE(service.SetStatus(svc::kStartPending, 3000, 7));
    svc::ServiceStatus status = service.Status();
    EXPECT_EQ(status.win32ExitCode, 1066u);
    EXPECT_EQ(status.serviceSpecificExitCode, 7u);
    EXPECT_EQ(status.controlsAccepted, 0u);
    EXPECT_EQ(status.checkPoint, 1u);
    service.SetStatus(svc::kStartPending, 3000);
    EXPECT_EQ(service.Status().checkPoint, 2u);
    service.SetStatus(svc::kRunning, 3000);
    EXPECT_EQ(service.Status().checkPoint, 0u);
    EXPECT_EQ(service.Status().controlsAccepted, svc::kAcceptStop);
    EXPECT_EQ(service.Status().win32ExitCode, 0u);
    auto entries = ombrix::eventlog::read("Test Display");
    ASSERT_FALSE(entries.empty());
    EXPECT_NE(entries[0].text.find("SetServiceStatus() failed"), std::string::npos);
}

}  // namespace
