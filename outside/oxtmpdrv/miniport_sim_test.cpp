#include "outside/oxtmpdrv/miniport_sim.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstring>

#include "platform/scsi_miniport.h"
#include "support/temp_root.h"

namespace {

namespace scsi = ombrix::scsi;

// A device request carrying a miniport block with `code` and `length` data bytes.
std::vector<unsigned char> block(uint32_t code, uint32_t length, uint32_t caller = 0) {
    std::vector<unsigned char> m(8 + scsi::kHeaderSize + length, 0);
    scsi::writeU32(m.data(), scsi::kIoctlMiniport);
    scsi::writeU32(m.data() + 4, static_cast<uint32_t>(scsi::kHeaderSize + length));
    unsigned char* h = m.data() + 8;
    scsi::writeU32(h + scsi::kOffHeaderLength, 28);
    std::memcpy(h + scsi::kOffSignature, scsi::kSignature, 8);
    scsi::writeU32(h + scsi::kOffTimeout, 5000);
    scsi::writeU32(h + scsi::kOffControlCode, code);
    scsi::writeU32(h + scsi::kOffReturnCode, caller);
    scsi::writeU32(h + scsi::kOffLength, length);
    return m;
}

unsigned char* data(std::vector<unsigned char>& m) {
    return m.data() + 8 + scsi::kHeaderSize;
}

std::vector<unsigned char> insertBlock(uint8_t target, const std::string& path) {
    auto m = block(scsi::kInsert, scsi::kInsertLength);
    data(m)[1] = target;
    std::memcpy(data(m) + scsi::kInsertPath, path.data(), path.size());
    scsi::writeU32(data(m) + scsi::kInsertStatus, 1);
    return m;
}

struct Reply {
    uint32_t device = 0xFFFFFFFF;
    uint32_t returnCode = 0xFFFFFFFF;
    std::vector<unsigned char> data;
};

Reply send(oxtmpdrv::Miniport& driver, const std::vector<unsigned char>& m) {
    auto raw = driver.handlePort(m.data(), m.size(), 1234);
    Reply r;
    r.device = scsi::readU32(raw.data());
    if (raw.size() >= 4 + scsi::kHeaderSize) {
        r.returnCode = scsi::readU32(raw.data() + 4 + scsi::kOffReturnCode);
        r.data.assign(raw.begin() + 4 + scsi::kHeaderSize, raw.end());
    }
    return r;
}

class MiniportTest : public ::testing::Test {
  protected:
    ombrix::test::TempRoot root;
    oxtmpdrv::Miniport driver{oxtmpdrv::Config{3, 4, 10, "OXTMPDRV"}};
    std::string image = (root / "disc.om4").string();
    void SetUp() override { ombrix::test::writeFile(image, "x"); }
};

TEST_F(MiniportTest, InsertQueryAndEmptyByteForByte) {
    Reply r = send(driver, insertBlock(2, image));
    ASSERT_EQ(r.device, 0u);
    ASSERT_EQ(r.returnCode, 0u);
    ASSERT_EQ(r.data.size(), scsi::kInsertLength);
    EXPECT_EQ(scsi::readU32(r.data.data() + scsi::kInsertStatus), 0u);
    EXPECT_EQ(driver.units()[2].imagePath, image);
    EXPECT_EQ(driver.units()[2].number, 12);

    auto query = block(scsi::kQueryImage, scsi::kQueryLength);
    data(query)[1] = 2;
    r = send(driver, query);
    ASSERT_EQ(r.returnCode, 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(r.data.data() + 3)), image);

    r = send(driver, insertBlock(2, ""));
    EXPECT_EQ(scsi::readU32(r.data.data() + scsi::kInsertStatus), 0u);
    EXPECT_TRUE(driver.units()[2].imagePath.empty());

    // An image the driver cannot read is refused with a status; the unit stays empty.
    r = send(driver, insertBlock(1, (root / "missing.om4").string()));
    EXPECT_EQ(r.returnCode, 0u);
    EXPECT_EQ(scsi::readU32(r.data.data() + scsi::kInsertStatus), 2u);
    EXPECT_TRUE(driver.units()[1].imagePath.empty());
}

TEST_F(MiniportTest, ALockedMediumIsNotEmptied) {
    ASSERT_EQ(send(driver, insertBlock(0, image)).returnCode, 0u);
    std::vector<unsigned char> lock(9, 0);
    scsi::writeU32(lock.data(), scsi::kIoctlMediaRemoval);
    lock[8] = 1;
    auto reply = driver.handleUnit(0, lock.data(), lock.size(), 99);
    ASSERT_EQ(scsi::readU32(reply.data()), 0u);
    Reply r = send(driver, insertBlock(0, ""));
    EXPECT_EQ(scsi::readU32(r.data.data() + scsi::kInsertStatus), oxtmpdrv::kStatusBusy);
    EXPECT_EQ(driver.units()[0].imagePath, image);
}

TEST_F(MiniportTest, MalformedBlocksAndUnknownCodesAreRefused) {
    auto m = block(77, 0);
    EXPECT_EQ(send(driver, m).returnCode, oxtmpdrv::kReturnUnknownCode);
    m = insertBlock(0, image);
    m[8 + scsi::kOffSignature] = 'X';
    EXPECT_EQ(send(driver, m).returnCode, oxtmpdrv::kReturnBadSignature);
    EXPECT_TRUE(driver.units()[0].imagePath.empty());
    // Too short for its code, too short for its header, a length beyond the message.
    EXPECT_EQ(send(driver, block(scsi::kInsert, 100)).returnCode, oxtmpdrv::kReturnBadData);
    m = block(scsi::kQueryImage, 0);
    m.resize(20);
    EXPECT_NE(send(driver, m).device, 0u);
    m = block(scsi::kQueryImage, 263);
    scsi::writeU32(m.data() + 8 + scsi::kOffLength, 100000);
    EXPECT_NE(send(driver, m).device, 0u);
    // An unterminated image path and an unknown unit address.
    m = insertBlock(0, std::string(260, 'a'));
    EXPECT_EQ(send(driver, m).returnCode, oxtmpdrv::kReturnBadData);
    EXPECT_EQ(send(driver, insertBlock(9, image)).returnCode, oxtmpdrv::kReturnNoUnit);
    // Request 2 without a buffer to hand out.
    EXPECT_NE(send(driver, block(scsi::kMapNotifications, 4)).returnCode, 0u);
}

TEST_F(MiniportTest, UnitsAnswerTheirAddressAndReportAccessesInSlots) {
    std::vector<unsigned char> ask(8, 0);
    scsi::writeU32(ask.data(), scsi::kIoctlGetAddress);
    scsi::writeU32(ask.data() + 4, 8);
    auto reply = driver.handleUnit(3, ask.data(), ask.size(), 1);
    ASSERT_EQ(reply.size(), 12u);
    EXPECT_EQ(scsi::readU32(reply.data() + 4), 8u);
    EXPECT_EQ(reply[8], 3);   // port
    EXPECT_EQ(reply[10], 3);  // target id

    std::string path = (root / "Device/Scsi3.notify").string();
    ASSERT_TRUE(driver.mapNotifications(path));
    Reply r = send(driver, block(scsi::kMapNotifications, 4, 55));
    ASSERT_EQ(r.returnCode, 0u);
    EXPECT_NE(scsi::readU32(r.data.data()), 0u);

    std::vector<unsigned char> verify(8, 0);
    scsi::writeU32(verify.data(), scsi::kIoctlCheckVerify);
    for (pid_t pid = 1000; pid < 1000 + 60; ++pid)
        driver.handleUnit(0, verify.data(), verify.size(), pid);
    std::string buffer = ombrix::test::readFile(path);
    ASSERT_EQ(buffer.size(), scsi::kNotifyBufferSize);
    auto slot = [&](size_t k) {
        return reinterpret_cast<const unsigned char*>(buffer.data()) + 16 + 273 * k;
    };
    // 60 accesses: slot 0 was written twice (the last one), slot 1 is cleared as the next one.
    EXPECT_EQ(scsi::readU32(slot(0)), 100u);
    EXPECT_EQ(scsi::readU32(slot(0) + 269), 1059u);
    EXPECT_EQ(scsi::readU32(slot(1)), 0u);
    EXPECT_EQ(scsi::readU32(slot(58) + 269), 1058u);
}

}  // namespace
