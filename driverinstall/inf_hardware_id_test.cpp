#include "driverinstall/inf_hardware_id.h"

#include <gtest/gtest.h>

#include "support/temp_root.h"

namespace drv = ombrix::drvinst;

namespace {

std::optional<std::string> idOf(const std::string& text) {
    ombrix::inf::InfFile inf;
    inf.parse(text);
    return drv::hardwareIdFromInf(inf);
}

std::optional<std::string> serviceOf(const std::string& services) {
    ombrix::inf::InfFile inf;
    inf.parse("[NRVOmx.NTx86.Services]\n" + services);
    return drv::serviceNameFromInf(inf);
}

TEST(InfHardwareId, TheShippedInfNamesDeviceAndService) {
    ombrix::inf::InfFile inf;
    ASSERT_TRUE(inf.load((ombrix::test::systemDir() / "config/nrvoxt.inf").string()));
    EXPECT_EQ(drv::hardwareIdFromInf(inf), "root\\nrvoxt");
    EXPECT_EQ(drv::serviceNameFromInf(inf), "oxtmpdrv");
}

TEST(InfHardwareId, FirstEntriesSecondFieldTrimmed) {
    EXPECT_EQ(idOf("[Manufacturer]\n%M% = First\nOther = Second\n"
                   "[first]\n%D% = Inst,   ROOT\\Dev one  , compat\nd2 = I, root\\two\n"
                   "[Second]\nd = I, root\\second\n"),
              "ROOT\\Dev one");
    const std::string head = "[Manufacturer]\nm = Models\n[Models]\nd = I, ";
    EXPECT_EQ(idOf(head + std::string(127, 'i')), std::string(127, 'i'));
    EXPECT_EQ(idOf(head + std::string(128, 'i')), std::nullopt);
}

TEST(InfHardwareId, BrokenFilesGiveNoId) {
    const std::string longLine(10000, 'x');
    const std::string models = "\n[Models]\nd = I, root\\x\n";
    const std::string cases[] = {
        "",
        "[Models]\nd = I, root\\x\n",
        "[Manufacturer]" + models,
        "[Manufacturer]\n%M% =" + models,
        "[Manufacturer]\nModels" + models,
        "[Manufacturer]\nm = Models\n",
        "[Manufacturer]\nm = Models\n[Models]\nd = I root\\x\n",
        "[Manufacturer]\nm = Models\n[Models]\nI, root\\x\n",
        "[Manufacturer]\nm = Models\n[Models]\nd = I,   , root\\x\n",
        "[Manufacturer]\nm = " + longLine + models,
        "[Manufacturer]\nm = Models\n[Models]\nd = I, " + longLine + "\n",
        "[Manufacturer]\nm = Models\n[Models]\n" + longLine + "\n",
    };
    for (const std::string& text : cases)
        EXPECT_EQ(idOf(text), std::nullopt) << text.substr(0, 80);
}

TEST(InfHardwareId, ServiceNameIsTheFirstWordOfAddService) {
    EXPECT_EQ(serviceOf("AddService = oxtmpdrv, 0x00000002, Inst\n"), "oxtmpdrv");
    EXPECT_EQ(serviceOf("addservice =\t drv two, 2\n"), "drv");
    EXPECT_EQ(serviceOf("Other = x\nAddService = first\nAddService = second\n"), "first");
    EXPECT_EQ(serviceOf("AddService = , 2\n"), std::nullopt);
    EXPECT_EQ(serviceOf("AddService\n"), std::nullopt);
}

}  // namespace
