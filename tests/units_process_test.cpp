// The driver stand-in and the management service as separate processes in a temporary machine
// root: discovery, inserts and ejects, sharing, log-off clean-up, the consistency check and the
// access notices, driven as the clients drive them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <thread>

#include "common/names.h"
#include "outside/env/oxtenv.h"
#include "pipes/mountrequest.h"
#include "platform/device_io.h"
#include "platform/event_log.h"
#include "platform/named_pipe.h"
#include "platform/object_manager.h"
#include "platform/registry.h"
#include "platform/scsi_miniport.h"
#include "platform/terminal_sessions.h"
#include "service/miniport_client.h"
#include "support/echo_pipe.h"
#include "support/global_value.h"
#include "support/pipe_records.h"
#include "support/program.h"
#include "support/temp_root.h"
#include "support/wait_for.h"

namespace {

using namespace std::chrono_literals;
using ombrix::test::call;
using ombrix::test::EchoPipe;
using ombrix::test::globalValue;
using ombrix::test::Program;
using ombrix::test::record;
using ombrix::test::waitFor;
namespace scsi = ombrix::scsi;
const char* kEventSource = "Ombrix TS Management";

bool serviceAnswers() {
    return call(record(7, 0)).m_request == 7;
}

// Events whose text holds `text` (the service is not registered as an event source here, so
// each text follows the log's notice of a missing description).
int countEvents(const std::string& text) {
    int n = 0;
    for (const auto& e : ombrix::eventlog::read(kEventSource))
        n += e.text.find(text) != std::string::npos ? 1 : 0;
    return n;
}

class Units : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {"a.om4", "b.om4", "c.om4", "d.om4"})
            ombrix::test::writeFile(root / name, "image");
        // Both ports are registered once all their devices answer.
        ASSERT_TRUE(waitFor([] {
            std::string driver;
            return CMiniport::FindPort() == 3 &&
                   ombrix::registry::getString(
                       std::string(CMiniport::kDeviceMapKey) + "\\Scsi Port 1", "Driver", driver) ==
                       0;
        }));
        service = std::make_unique<Program>("Oxtserv", std::vector<std::string>{"-d"},
                                            root / "service.txt");
        ASSERT_TRUE(waitFor(serviceAnswers));
        for (uint32_t sid : {2u, 3u}) {
            ASSERT_EQ(ombrix::wts::logOn(sid, "user" + std::to_string(sid)), 0);
            ASSERT_EQ(call(record(17, sid, "user" + std::to_string(sid))).m_request, 17);
        }
    }
    void TearDown() override {
        if (service) service->stop(SIGINT);
    }
    std::string image(const char* name) { return (root / name).string(); }

    ombrix::test::TempRoot root;
    Program physical{"oxtmpdrv",
                     {"--port", "1", "--units", "1", "--first-device", "6", "--driver", "atapi"},
                     root / "physical.txt"};
    Program driver{"oxtmpdrv", {"--port", "3", "--units", "4"}, root / "driver.txt"};
    std::unique_ptr<Program> service;
};

TEST_F(Units, DiscoveryFindsTheUnitsAndTheEmptyDeviceNeverGetsAnImage) {
    EXPECT_EQ(globalValue("OMXUnits"), "4");
    EXPECT_EQ(globalValue("OMXAdapter"), "3");
    EXPECT_EQ(globalValue("OMXDeviceMap"), "1111");
    EXPECT_EQ(globalValue("OXTEmptyDevice"), "\\Device\\CdRom0");
    std::string target;
    EXPECT_EQ(ombrix::objmgr::queryDosDevice("OMX_0", target, 0), 2);  // temporary names gone

    CMountRequest r;
    for (const char* name : {"a.om4", "b.om4", "c.om4"}) {
        r = call(record(1, 2, image(name)));
        EXPECT_EQ(r.m_request, 1) << name;
    }
    EXPECT_EQ(r.text(), "\\Device\\CdRom3");
    EXPECT_EQ(globalValue("Device_1"), image("a.om4"));
    r = call(record(1, 2, image("d.om4")));
    EXPECT_EQ(r.m_request, -4);
    // An image the driver cannot read is refused with its status; the unit stays free.
    EXPECT_EQ(call(record(2, 2, "", 3)).m_request, 2);
    r = call(record(1, 2, image("missing.om4")));
    EXPECT_EQ(r.m_request, -19);
    EXPECT_EQ(r.m_dwData, 2u);
    EXPECT_EQ(call(record(1, 2, image("d.om4"))).text(), "\\Device\\CdRom3");
    EXPECT_EQ(call(record(1, 9, image("d.om4"))).m_request, -16);  // not logged on

    // At its end the service empties every unit through the driver.
    service->stop(SIGINT);
    service.reset();
    CMiniport port;
    ASSERT_TRUE(port.Open(3));
    CDriveInfo one;
    one.targetId = 1;
    std::string held = "?";
    ASSERT_TRUE(port.QueryImage(one, held));
    EXPECT_EQ(held, "");
}

TEST_F(Units, SharingNeedsThePasswordCheckAndEveryInsertNeedsItsEject) {
    CMountRequest r = call(record(1, 2, image("a.om4")));
    ASSERT_EQ(r.text(), "\\Device\\CdRom1");
    std::string other = image("a.om4");
    for (char& c : other)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    // No network access service: the share is refused as a wrong password.
    r = call(record(1, 3, other));
    EXPECT_EQ(r.m_request, -19);
    EXPECT_EQ(r.m_dwData, 8u);
    {
        EchoPipe net(ombrix::names::kNetPipe);
        r = call(record(1, 3, other));
        EXPECT_EQ(r.m_request, 1);
        EXPECT_EQ(r.text(), "\\Device\\CdRom1");
        ASSERT_EQ(net.received().size(), 1u);
        EXPECT_EQ(net.received()[0].m_request, 33);
        r = call(record(1, 2, image("a.om4")));  // the same session a second time
        EXPECT_EQ(r.text(), "\\Device\\CdRom1");
    }
    EXPECT_EQ(call(record(4, 0, "", 1)).m_dwData, 3u);

    // Ejects: the session's link is opened to it; a missing link is reported.
    ASSERT_EQ(ombrix::objmgr::defineDosDevice(ombrix::objmgr::kRawTargetPath,
                                              "E:", "\\Device\\CdRom1", 2),
              0);
    r = call(record(2, 2, "E:", 1));
    EXPECT_EQ(r.m_request, 2);
    EXPECT_EQ(r.text(), "\\Device\\CdRom0");
    EXPECT_EQ(countEvents("Failed to set security"), 0);
    call(record(2, 2, "Q:", 1));
    EXPECT_EQ(countEvents("Failed to set security for symbolic link 'Q:': 6"), 1);
    r = call(record(4, 0, "", 1));
    EXPECT_EQ(r.m_dwData, 1u);
    EXPECT_EQ(r.text(), image("a.om4"));
    call(record(2, 3, "E:", 1));
    r = call(record(4, 0, "", 1));
    EXPECT_EQ(r.m_dwData, 0u);
    EXPECT_EQ(r.text(), "");
    EXPECT_EQ(globalValue("Device_1"), "");
}

TEST_F(Units, OneSessionInsertingTwiceNeedsTwoEjects) {
    EchoPipe net(ombrix::names::kNetPipe);
    ASSERT_EQ(call(record(1, 2, image("b.om4"))).text(), "\\Device\\CdRom1");
    ASSERT_EQ(call(record(1, 2, image("b.om4"))).text(), "\\Device\\CdRom1");
    EXPECT_EQ(call(record(4, 0, "", 1)).m_dwData, 2u);
    call(record(2, 2, "", 1));
    CMountRequest r = call(record(4, 0, "", 1));
    EXPECT_EQ(r.m_dwData, 1u);
    EXPECT_EQ(r.text(), image("b.om4"));
    call(record(2, 2, "", 1));
    r = call(record(4, 0, "", 1));
    EXPECT_EQ(r.m_dwData, 0u);
    EXPECT_EQ(r.text(), "");
}

TEST_F(Units, ASessionThatLogsOffLosesItsUnits) {
    ASSERT_EQ(call(record(1, 2, image("a.om4"))).text(), "\\Device\\CdRom1");
    ASSERT_EQ(call(record(1, 3, image("b.om4"))).text(), "\\Device\\CdRom2");
    {
        EchoPipe net(ombrix::names::kNetPipe);
        ASSERT_EQ(call(record(1, 3, image("a.om4"))).text(), "\\Device\\CdRom1");
    }
    // The services' own session is never logged off.
    ASSERT_EQ(call(record(17, 0, "root")).m_request, 17);
    std::string tool = (ombrix::test::systemDir() / "oxtsession").string();
    ASSERT_EQ(std::system(("'" + tool + "' logoff 3").c_str()), 0);
    ASSERT_TRUE(waitFor([] { return call(record(4, 0, "", 2)).text().empty(); }));
    CMountRequest r = call(record(4, 0, "", 1));
    EXPECT_EQ(r.m_dwData, 1u);  // session 2 stays
    EXPECT_EQ(r.text(), image("a.om4"));
    EXPECT_EQ(globalValue("Sid_3"), "");
    EXPECT_EQ(globalValue("OMXLogons"), "2|0|");
}

TEST_F(Units, ConsistencyCheckStaysQuietForARefusedEmptyAndReportsAChange) {
    ASSERT_EQ(call(record(1, 2, image("a.om4"))).text(), "\\Device\\CdRom1");
    ASSERT_EQ(call(record(1, 2, image("b.om4"))).text(), "\\Device\\CdRom2");
    // The medium of unit 1 is locked in place: the driver refuses to empty it.
    int error = 0;
    auto unit = ombrix::platform::DeviceHandle::open("\\Device\\CdRom1", 0, error);
    ASSERT_TRUE(unit.valid());
    unsigned char prevent = 1;
    size_t returned = 0;
    ASSERT_EQ(unit.ioControl(scsi::kIoctlMediaRemoval, &prevent, 1, nullptr, 0, returned), 0);
    call(record(2, 2, "", 1));
    EXPECT_EQ(call(record(4, 0, "", 1)).text(), image("a.om4"));
    EXPECT_EQ(globalValue("Device_1"), image("a.om4"));

    // Unit 2 gets another image behind the service's back.
    CMiniport port;
    ASSERT_TRUE(port.Open(3));
    CDriveInfo two;
    two.number = 2;
    two.targetId = 2;
    ASSERT_EQ(port.Insert(two, image("c.om4"), ""), 0u);
    ASSERT_TRUE(waitFor([] { return countEvents("A consistency error") > 0; }, 15s));
    auto events = ombrix::eventlog::read(kEventSource);
    int found = 0;
    for (const auto& e : events) {
        size_t at = e.text.find("Consistency:");
        if (at == std::string::npos) continue;
        ++found;
        EXPECT_EQ(e.text.substr(at), "Consistency: expected '" + image("b.om4") + "', achieved '" +
                                         image("c.om4") + "'");
    }
    EXPECT_EQ(found, 1);
}

TEST_F(Units, AProcessTouchingAUnitIsAnnouncedToItsSession) {
    EchoPipe session(ombrix::names::sessionPipe(7));
    Program touch("oxtmpdrv", {"--touch", "1", "--hold", "3"}, root / "touch.txt", "7");
    ASSERT_TRUE(waitFor([&] { return !session.received().empty(); }));
    CMountRequest notice = session.received()[0];
    EXPECT_EQ(notice.m_request, 10);
    EXPECT_EQ(notice.m_sessionId, 7u);
    EXPECT_EQ(notice.text(), "\\Device\\CdRom0");
}

TEST_F(Units, TheDriverRefusesMalformedRequestsAndKeepsServing) {
    int error = 0;
    auto port = ombrix::platform::DeviceHandle::open("\\\\.\\Scsi3:", 0, error);
    ASSERT_TRUE(port.valid());
    unsigned char junk[64];
    std::memset(junk, 0xA5, sizeof junk);
    size_t returned = 0;
    EXPECT_NE(port.ioControl(scsi::kIoctlMiniport, junk, 10, junk, sizeof junk, returned), 0);
    EXPECT_NE(port.ioControl(0x1234, junk, sizeof junk, junk, sizeof junk, returned), 0);
    CMiniport client;
    ASSERT_TRUE(client.Open(3));
    unsigned char none[4] = {};
    EXPECT_FALSE(client.Send(55, none, 0, 5));
    EXPECT_TRUE(client.Send(scsi::kAttach, none, 0, 5, static_cast<uint32_t>(getpid())));
    EXPECT_TRUE(client.Send(scsi::kDetach, none, 0, 5));
    EXPECT_TRUE(serviceAnswers());
    EXPECT_EQ(call(record(1, 2, image("a.om4"))).text(), "\\Device\\CdRom1");
}

}  // namespace
