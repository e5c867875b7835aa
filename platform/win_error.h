#pragma once

// Result codes in the numbering callers and peers expect (the classic Win32 error values).
namespace ombrix::win {

constexpr int kSuccess = 0;
constexpr int kFileNotFound = 2;
constexpr int kPathNotFound = 3;
constexpr int kTooManyOpenFiles = 4;
constexpr int kAccessDenied = 5;
constexpr int kInvalidHandle = 6;
constexpr int kNotEnoughMemory = 8;
constexpr int kInvalidData = 13;
constexpr int kOutOfMemory = 14;
constexpr int kWriteProtect = 19;
constexpr int kGenFailure = 31;
constexpr int kSharingViolation = 32;
constexpr int kHandleEof = 38;
constexpr int kInvalidPassword = 86;
constexpr int kInvalidParameter = 87;
constexpr int kDiskFull = 112;
constexpr int kFilenameTooLong = 206;
constexpr int kMoreData = 234;
constexpr int kTimeout = 1460;
constexpr int kIoDevice = 1117;
constexpr int kExtendedError = 1208;

// Maps an errno value of a file operation on `path` to the code above. ENOENT becomes "path not
// found" when the containing folder is missing and "file not found" otherwise.
int fromErrno(int err, const char* path = nullptr);

}  // namespace ombrix::win
