#include "common/image_header.h"

#include <unistd.h>

#include <cstring>
#include <string_view>

#include "common/md5_digest.h"
#include "platform/locked_file.h"
#include "platform/win_error.h"

namespace ombrix::header {
namespace {

constexpr char kContainerMark[] = "OMXContainer";

std::string_view bytesOf(const OmxImageHeader& header, size_t offset, size_t length) {
    return std::string_view(reinterpret_cast<const char*>(&header) + offset, length);
}

std::string boundedText(std::string_view field) {
    return std::string(field.substr(0, field.find('\0')));
}

}  // namespace

int read(const std::string& path, OmxImageHeader& out) {
    platform::LockedFile file;
    if (int err = file.open(path, platform::FileAccess::Read)) return err;
    return read(file, out);
}

int read(const platform::LockedFile& file, OmxImageHeader& out) {
    size_t got = 0;
    if (int err = file.readAt(&out, sizeof out, 0, got)) return err;
    return got == sizeof out ? win::kSuccess : win::kHandleEof;
}

bool setChecksum(OmxImageHeader& header) {
    auto digest = md5Hex(bytesOf(header, 0, kOmxChecksummedBytes));
    if (!digest || digest->size() != 32) return false;
    std::memcpy(header.checksum, digest->c_str(), 33);
    return true;
}

int write(const std::string& path, OmxImageHeader& header) {
    if (!setChecksum(header)) return win::kExtendedError;
    platform::LockedFile file;
    if (int err = file.open(path, platform::FileAccess::Update)) return err;
    if (int err = file.writeAt(&header, sizeof header, 0)) return err;
    return file.sync();
}

int change(const std::string& path, const std::function<int(OmxImageHeader&)>& edit) {
    constexpr int kAttempts = 15;
    constexpr int kPauseMs = 50;
    platform::LockedFile file;
    int err = win::kSharingViolation;
    for (int attempt = 0; attempt < kAttempts && err == win::kSharingViolation; ++attempt) {
        if (attempt > 0) ::usleep(kPauseMs * 1000);
        err = file.open(path, platform::FileAccess::Update);
    }
    if (err != 0) return err;
    OmxImageHeader header;
    if (int readErr = read(file, header)) return readErr;
    if (!checksumMatches(header)) return win::kExtendedError;
    if (int editErr = edit(header)) return editErr;
    if (!setChecksum(header)) return win::kExtendedError;
    if (int writeErr = file.writeAt(&header, sizeof header, 0)) return writeErr;
    return file.sync();
}

bool hasContainerMark(const OmxImageHeader& header) {
    return std::memcmp(header.containerMark, kContainerMark, sizeof kContainerMark) == 0;
}

bool hasPassword(const OmxImageHeader& header) {
    return header.passwordDigest[0] != '\0';
}

PasswordVerdict checkPassword(const OmxImageHeader& header, std::string_view password) {
    const std::string signature = boundedText(
        bytesOf(header, kOmxOldSignatureOffset, sizeof header - kOmxOldSignatureOffset));
    if (signature == "ZRM V1.0" || signature == "ZRM V3.0" || !hasPassword(header)) {
        return PasswordVerdict::kNone;
    }
    constexpr size_t kDigest = offsetof(OmxImageHeader, passwordDigest);
    auto digest = md5Hex(password);
    // The stored text must be exactly the 32 digits: byte for byte, terminator included.
    return digest && boundedText(bytesOf(header, kDigest, sizeof header - kDigest)) == *digest
               ? PasswordVerdict::kRight
               : PasswordVerdict::kWrong;
}

bool checksumMatches(const OmxImageHeader& header) {
    auto digest = md5Hex(bytesOf(header, 0, kOmxChecksummedBytes));
    return digest &&
           boundedText(bytesOf(header, offsetof(OmxImageHeader, checksum), 33)) == *digest;
}

std::string description(const OmxImageHeader& header) {
    return boundedText(std::string_view(header.description, sizeof header.description));
}

bool olderFormatDescription(const OmxImageHeader& header, std::string& out) {
    std::string signature = boundedText(bytesOf(header, kOmxOldSignatureOffset, 12));
    if (signature != "ZRM V1.0" && signature != "ZRM V3.0") return false;
    out = boundedText(bytesOf(header, kOmxOldDescriptionOffset, 128));
    return true;
}

}  // namespace ombrix::header
