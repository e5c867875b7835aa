#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "common/omx_image_types.h"
#include "platform/locked_file.h"

// Reading and writing the header at the start of an image container.
namespace ombrix::header {

// Reads the first 1069 bytes, sharing the file with readers only. 0, 38 for a shorter file, or
// the open or read error.
int read(const std::string& path, OmxImageHeader& out);
// The same from a file the caller has opened: 0, 38 for a shorter file, or the read error.
int read(const platform::LockedFile& file, OmxImageHeader& out);

// Stores the checksum of `header` and writes it over the start of the existing file, keeping
// everybody else out meanwhile. 0, the file's error, or 1208 when the checksum cannot be made.
int write(const std::string& path, OmxImageHeader& header);

// Changes the header of an existing image in one step under the file's exclusive lock (waiting
// up to 15 × 50 ms for other holders): read, checked (1208 when its checksum does not match, so
// a damaged header is never written back), `edit`ed and written back with a new checksum. An
// error of `edit` is returned and nothing is written.
int change(const std::string& path, const std::function<int(OmxImageHeader&)>& edit);

// Stores the MD5 of bytes 0 to 1033 as the header's checksum; false when it cannot be made.
bool setChecksum(OmxImageHeader& header);

bool hasContainerMark(const OmxImageHeader& header);

// Whether `password` opens an image: kNone when the image asks for none (older formats carry
// no password), kRight when its digest is the stored one byte for byte, else kWrong.
enum class PasswordVerdict { kNone, kRight, kWrong };
PasswordVerdict checkPassword(const OmxImageHeader& header, std::string_view password);
bool hasPassword(const OmxImageHeader& header);
bool checksumMatches(const OmxImageHeader& header);

// The description of a current-format header, and of an older-format one ("ZRM V1.0"/"ZRM V3.0"
// signature; false when the signature is neither).
std::string description(const OmxImageHeader& header);
bool olderFormatDescription(const OmxImageHeader& header, std::string& out);

}  // namespace ombrix::header
