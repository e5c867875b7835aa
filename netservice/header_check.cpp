#include "netservice/header_check.h"

#include <cstring>
#include <string>

#include "common/image_header.h"
#include "common/omx_image_types.h"

namespace netsvc {
namespace {

constexpr uint32_t kNoName = 87;
constexpr uint32_t kUnknownError = 1208;
constexpr size_t kDigestText = 69;  // at most this many characters of the digest travel back
constexpr size_t kDigestOffset = 999;

// Reads the header of the record's image; false (and the record answered) on failure.
bool readHeader(CMountRequest& record, OmxImageHeader& header) {
    std::string path(record.text());
    if (path.empty()) {
        record.m_request = CMountRequest::kReadFailed;
        record.m_dwData = kNoName;
        return false;
    }
    int rc = ombrix::header::read(path, header);
    if (rc != 0) {
        record.m_request = CMountRequest::kReadFailed;
        record.m_dwData = rc > 0 ? static_cast<uint32_t>(rc) : kUnknownError;
        return false;
    }
    return true;
}

// The zero-terminated text at `offset` of the header, never beyond its end.
std::string textAt(const OmxImageHeader& header, size_t offset, size_t limit) {
    const char* bytes = reinterpret_cast<const char*>(&header);
    size_t room = sizeof header - offset;
    if (limit < room) room = limit;
    const void* end = std::memchr(bytes + offset, '\0', room);
    return std::string(bytes + offset,
                       end ? static_cast<const char*>(end) - (bytes + offset) : room);
}

}  // namespace

void GetPasswordDigest(CMountRequest& record) {
    OmxImageHeader header;
    if (!readHeader(record, header)) return;
    if (!ombrix::header::hasContainerMark(header)) {
        record.m_request = CMountRequest::kReadFailed;
        record.m_dwData = kUnknownError;
        return;
    }
    record.setText(textAt(header, kDigestOffset, kDigestText));
}

void CheckPassword(CMountRequest& record) {
    OmxImageHeader header;
    if (!readHeader(record, header)) return;
    if (ombrix::header::checkPassword(header, record.password()) ==
        ombrix::header::PasswordVerdict::kWrong) {
        record.m_request = CMountRequest::kWrongPassword;
    }
}

}  // namespace netsvc
