#include "platform/service_control.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "support/temp_root.h"

namespace svc = ombrix::svc;

namespace {

svc::ServiceConfig config(const std::string& name, const std::string& binary = "/bin/true") {
    svc::ServiceConfig c;
    c.name = name;
    c.displayName = name + " display";
    c.binaryPath = binary;
    return c;
}

TEST(ServiceControl, RegistersUnderTheServicesKey) {
    ombrix::test::TempRoot root;
    EXPECT_EQ(svc::createService(config("Alpha")), 0);
    EXPECT_EQ(svc::createService(config("ALPHA")), 1073);  // names ignore case
    EXPECT_EQ(svc::createService(config("bad\\name")), 87);
    std::string image;
    ombrix::registry::Value value;
    ASSERT_EQ(
        ombrix::registry::getValue(std::string(svc::kServicesKey) + "\\Alpha", "ImagePath", value),
        0);
    EXPECT_EQ(value.type, ombrix::registry::kExpandString);
    EXPECT_EQ(value.data, "/bin/true");
    // The event log's key below Services is no service.
    ombrix::registry::createKey(std::string(svc::kServicesKey) + "\\EventLog\\Application");
    EXPECT_EQ(svc::listServices(), std::vector<std::string>{"Alpha"});

    svc::ServiceStatus status;
    EXPECT_EQ(svc::queryServiceStatus("alpha", status), 0);
    EXPECT_EQ(status.currentState, svc::kStopped);
    EXPECT_EQ(svc::controlService("Alpha", svc::kControlStop, status), 1062);
    EXPECT_EQ(svc::deleteService("Alpha"), 0);
    EXPECT_EQ(svc::serviceExists("Alpha"), 1060);
    EXPECT_EQ(svc::queryServiceStatus("Alpha", status), 1060);
    EXPECT_EQ(svc::startService("Alpha"), 1060);
}

TEST(ServiceControl, AProcessThatNeverConnectsIsNoRunningService) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(svc::createService(config("Quick", "/bin/true")), 0);
    EXPECT_EQ(svc::startService("Quick"), 1067);  // ended without connecting its dispatcher
    svc::ServiceStatus status;
    EXPECT_EQ(svc::queryServiceStatus("Quick", status), 0);
    EXPECT_EQ(status.currentState, svc::kStopped);
    EXPECT_EQ(status.win32ExitCode, 1067u);
    ASSERT_EQ(svc::createService(config("Missing", "/no/such/program")), 0);
    EXPECT_EQ(svc::startService("Missing"), 3);
}

TEST(ServiceControl, DispatcherRefusesProcessesTheControllerDidNotStart) {
    ombrix::test::TempRoot root;
    unsetenv("OMBRIX_SERVICE_NAME");
    EXPECT_EQ(svc::runServiceDispatcher("Any", [](int, char**) {}), 1063);
    EXPECT_EQ(svc::registerServiceCtrlHandler("Any", [](uint32_t) {}), 0u);
    EXPECT_NE(svc::setServiceStatus(1, svc::ServiceStatus{}), 0);
}

}  // namespace
