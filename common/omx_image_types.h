#pragma once

#include <cstddef>
#include <cstdint>

// Records handed across the client library's interface. Callers allocate them.

// One catalogue entry (920 bytes).
struct OmxImageInfo {
    char path[260];
    char program[260];
    char parameters[260];
    char description[129];
    int16_t firstNumber;
    int16_t secondNumber;
    char driveLetter;  // 0 or '0' for none
    int32_t flag;
};
static_assert(sizeof(OmxImageInfo) == 920);
static_assert(offsetof(OmxImageInfo, program) == 260);
static_assert(offsetof(OmxImageInfo, parameters) == 520);
static_assert(offsetof(OmxImageInfo, description) == 780);
static_assert(offsetof(OmxImageInfo, firstNumber) == 910);
static_assert(offsetof(OmxImageInfo, secondNumber) == 912);
static_assert(offsetof(OmxImageInfo, driveLetter) == 914);
static_assert(offsetof(OmxImageInfo, flag) == 916);

// The first 1069 bytes of every image container. Numbers are little-endian and unaligned.
#pragma pack(push, 1)
struct OmxImageHeader {
    uint32_t discType;  // low byte 0..8 or 32; with 32, bits 0x100/0x200/0x400 are further flags
    uint8_t reserved4[2];
    uint8_t trackCount;
    uint8_t reserved7[2];
    uint32_t sectorsPerPartFile;  // the older format's 128-byte description starts at byte 12
    uint32_t formatMark;          // kOmxFormatMark in the current format
    uint8_t reserved17[12];
    uint8_t trackList[804];  // the disc's READ TOC (format 0) response
    uint32_t contentSize;
    char containerMark[14];  // "OMXContainer"
    char description[128];
    uint8_t reserved979[4];
    uint32_t trailingBlockOffset;  // block that follows the comment
    uint32_t commentLength;
    uint32_t commentOffset;
    uint32_t sessionBlockOffset;
    char passwordDigest[33];  // 32 lower-case hex digits and a zero byte; all zero: no password
    uint8_t reserved1032[2];
    char checksum[33];  // MD5 of bytes 0..1033 as hex, zero-terminated
    uint8_t reserved1067[2];
};
#pragma pack(pop)

constexpr uint32_t kOmxFormatMark = 4000000;
constexpr size_t kOmxChecksummedBytes = 1034;
constexpr size_t kOmxOldDescriptionOffset = 12;
constexpr size_t kOmxOldSignatureOffset = 140;

static_assert(sizeof(OmxImageHeader) == 1069);
static_assert(offsetof(OmxImageHeader, trackCount) == 6);
static_assert(offsetof(OmxImageHeader, sectorsPerPartFile) == 9);
static_assert(offsetof(OmxImageHeader, formatMark) == 13);
static_assert(offsetof(OmxImageHeader, trackList) == 29);
static_assert(offsetof(OmxImageHeader, contentSize) == 833);
static_assert(offsetof(OmxImageHeader, containerMark) == 837);
static_assert(offsetof(OmxImageHeader, description) == 851);
static_assert(offsetof(OmxImageHeader, trailingBlockOffset) == 983);
static_assert(offsetof(OmxImageHeader, commentLength) == 987);
static_assert(offsetof(OmxImageHeader, commentOffset) == 991);
static_assert(offsetof(OmxImageHeader, sessionBlockOffset) == 995);
static_assert(offsetof(OmxImageHeader, passwordDigest) == 999);
static_assert(offsetof(OmxImageHeader, checksum) == 1034);
