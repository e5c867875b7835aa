#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The control requests between the management service and the miniport: the SCSI address of a
// device, and the miniport control block (a 28-byte header followed by the request's data, the
// same buffer going in and out). Multi-byte fields are little-endian, as on the wire.
namespace ombrix::scsi {

constexpr uint32_t kIoctlGetAddress = 0x41018;
constexpr uint32_t kIoctlMiniport = 0x4D008;
constexpr uint32_t kIoctlCheckVerify = 0x2D4800;   // a program looks at the medium
constexpr uint32_t kIoctlMediaRemoval = 0x2D4804;  // data byte 0: 1 prevent, 0 allow
constexpr uint32_t kIoctlEjectMedia = 0x2D4808;    // the medium leaves the drive
constexpr uint32_t kFsctlLockVolume = 0x90018;
constexpr uint32_t kFsctlDismountVolume = 0x90020;

// SCSI address reply: length, port, path id, target id, logical unit number.
struct Address {
    uint32_t length = 8;
    uint8_t port = 0;
    uint8_t pathId = 0;
    uint8_t targetId = 0;
    uint8_t lun = 0;
};
static_assert(sizeof(Address) == 8);

constexpr size_t kHeaderSize = 28;
constexpr char kSignature[8] = {'N', 'R', 'V', 0, 0, 0, 0, 0};

// Header field offsets.
constexpr size_t kOffHeaderLength = 0;
constexpr size_t kOffSignature = 4;
constexpr size_t kOffTimeout = 12;
constexpr size_t kOffControlCode = 16;
constexpr size_t kOffReturnCode = 20;
constexpr size_t kOffLength = 24;

// Control codes.
constexpr uint32_t kInsert = 1;
constexpr uint32_t kMapNotifications = 2;
constexpr uint32_t kAttach = 4;
constexpr uint32_t kQueryImage = 9;
constexpr uint32_t kDetach = 12;
// The accounts whose processes may read a unit's disc (besides root). Data: bytes 0-2 the unit's
// address, bytes 4-7 the count n (at most kMaxReaders), then n user ids. An insert gives the
// unit the inserting account as its one reader.
constexpr uint32_t kSetReaders = 20;
constexpr size_t kMaxReaders = 64;
constexpr size_t kReadersHead = 8;

// Data of request 1.
constexpr size_t kInsertLength = 282;
constexpr size_t kInsertPath = 3;
constexpr size_t kInsertPathSize = 260;
constexpr size_t kInsertPassword = 263;
constexpr size_t kInsertPasswordSize = 15;
constexpr size_t kInsertStatus = 278;
// Data of request 9.
constexpr size_t kQueryLength = 263;

// The notification buffer: a 16-byte head, then 59 slots of 273 bytes.
constexpr size_t kNotifyHead = 16;
constexpr size_t kNotifySlots = 59;
constexpr size_t kNotifySlotSize = 273;
constexpr size_t kNotifyBufferSize = kNotifyHead + kNotifySlots * kNotifySlotSize;  // 16123
constexpr uint32_t kSlotAccess = 100;
constexpr size_t kSlotPid = 269;

inline uint32_t readU32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

inline void writeU32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

}  // namespace ombrix::scsi
