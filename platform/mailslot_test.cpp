#include "platform/mailslot.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "platform/network_config.h"
#include "platform/registry.h"
#include "support/free_port.h"
#include "support/temp_root.h"

namespace {

namespace net = ombrix::platform::network;
using ombrix::platform::MailslotServer;

// A slot of the server whose address is `ip` (as a server of that root would create it).
std::unique_ptr<MailslotServer> slotAt(const char* ip, const char* name) {
    ::setenv("OMBRIX_IP", ip, 1);
    int error = 0;
    auto slot = MailslotServer::create(name, error);
    ::unsetenv("OMBRIX_IP");
    EXPECT_EQ(error, 0);
    return slot;
}

std::string take(MailslotServer& slot, int timeoutMs = 2000) {
    char buffer[512];
    size_t size = 0;
    if (slot.read(buffer, sizeof buffer, size, timeoutMs) != 0) return "<none>";
    return std::string(buffer, size);
}

TEST(Mailslot, DomainsMachinesAndSlotNames) {
    ombrix::test::TempRoot root;
    int port = ombrix::test::freePort("127.0.0.2", SOCK_DGRAM);
    ombrix::registry::setString(net::kNetworkKey, "MailslotPort", std::to_string(port));
    ombrix::registry::setString(net::kDomainsKey, "POOL", "127.0.0.2, SRV-C");
    ombrix::registry::setString(net::kHostsKey, "SRV-C", "127.0.0.3");
    EXPECT_EQ(net::mailslotPort(), port);
    EXPECT_EQ(ombrix::platform::enumerateDomains(), (std::vector<std::string>{"POOL"}));
    EXPECT_EQ(ombrix::platform::enumerateServers("pool"),
              (std::vector<std::string>{"127.0.0.2", "SRV-C"}));

    auto b = slotAt("127.0.0.2", "SLOT");
    auto c = slotAt("127.0.0.3", "SLOT");
    auto other = slotAt("127.0.0.4", "OTHER");
    ASSERT_TRUE(b && c && other);

    // A domain write reaches every host of the domain.
    EXPECT_EQ(ombrix::platform::writeMailslot("POOL", "slot", "hello", 5), 0);
    EXPECT_EQ(take(*b), "hello");
    EXPECT_EQ(take(*c), "hello");
    // A machine by its configured name; a slot of another name hears nothing.
    EXPECT_EQ(ombrix::platform::writeMailslot("SRV-C", "SLOT", "to c", 4), 0);
    EXPECT_EQ(ombrix::platform::writeMailslot("127.0.0.4", "SLOT", "wrong slot", 10), 0);
    EXPECT_EQ(take(*c), "to c");
    EXPECT_EQ(take(*other, 200), "<none>");
    EXPECT_EQ(take(*b, 100), "<none>");
    EXPECT_NE(ombrix::platform::writeMailslot("no-such-host.invalid", "SLOT", "x", 1), 0);

    // Two slots on one address and port cannot both exist.
    ::setenv("OMBRIX_IP", "127.0.0.2", 1);
    int error = 0;
    EXPECT_FALSE(MailslotServer::create("SLOT", error));
    EXPECT_NE(error, 0);
    ::unsetenv("OMBRIX_IP");
}

TEST(Mailslot, WithoutConfigurationTheNetworkIsOneBroadcastDomain) {
    ombrix::test::TempRoot root;
    auto domains = net::domains();
    ASSERT_EQ(domains.size(), 1u);
    EXPECT_EQ(domains[0].first, "WORKGROUP");
    EXPECT_FALSE(domains[0].second.empty());
}

}  // namespace
