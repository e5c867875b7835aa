#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "pipes/request_codes.h"

// The one record of every pipe of the system: 304 bytes, little-endian, the same layout in
// request and reply. It travels as the raw bytes of the object; the first two words are carried
// back unchanged and never interpreted.
class CMountRequest {
  public:
    static constexpr size_t kTextSize = 260;
    static constexpr size_t kPasswordSize = 16;
    static constexpr int kMaxListEntries = 65;  // unsigned 32-bit values in the text of a list

    // The request and result codes of every pipe (request_codes.h), as CMountRequest::kInsert.
    using enum ombrix::pipes::Request;
    using enum ombrix::pipes::Result;

    CMountRequest() = default;
    // Copies the request, session, logon id, data word, text and password; the text and the
    // password are cut to their sizes and always terminated.
    CMountRequest(const CMountRequest& other) { copyFrom(other); }
    CMountRequest& operator=(const CMountRequest& other) {
        if (this != &other) copyFrom(other);
        return *this;
    }

    // The raw record bytes.
    void* bytes() { return static_cast<void*>(this); }
    const void* bytes() const { return static_cast<const void*>(this); }
    void fromBytes(const void* data) { std::memcpy(bytes(), data, sizeof *this); }

    // The text up to its terminator, never beyond the field (a received record may lack one).
    std::string_view text() const { return bounded(m_text, kTextSize); }
    std::string_view password() const { return bounded(m_password, kPasswordSize); }
    void setText(std::string_view text) { store(m_text, kTextSize, text); }
    void setPassword(std::string_view text) { store(m_password, kPasswordSize, text); }

    uint32_t listEntry(int index) const {
        uint32_t value = 0;
        std::memcpy(&value, m_text + index * sizeof value, sizeof value);
        return value;
    }
    void setListEntry(int index, uint32_t value) {
        std::memcpy(m_text + index * sizeof value, &value, sizeof value);
    }

    uint32_t m_header = 0;
    uint32_t m_spare = 0;
    int32_t m_request = 0;
    uint32_t m_sessionId = 0xFFFFFFFFu;
    uint32_t m_logonIdLow = 0xFFFFFFFFu;
    uint32_t m_logonIdHigh = 0xFFFFFFFFu;
    uint32_t m_dwData = 0;
    char m_text[kTextSize] = {};
    char m_password[kPasswordSize] = {};

  private:
    static std::string_view bounded(const char* field, size_t size) {
        const void* end = std::memchr(field, '\0', size);
        return std::string_view(field, end ? static_cast<const char*>(end) - field : size);
    }
    static void store(char* field, size_t size, std::string_view text) {
        size_t n = text.size() < size - 1 ? text.size() : size - 1;
        std::memcpy(field, text.data(), n);
        std::memset(field + n, 0, size - n);
    }
    void copyFrom(const CMountRequest& other) {
        m_request = other.m_request;
        m_sessionId = other.m_sessionId;
        m_logonIdLow = other.m_logonIdLow;
        m_logonIdHigh = other.m_logonIdHigh;
        m_dwData = other.m_dwData;
        setText(other.text());
        setPassword(other.password());
    }
};

static_assert(sizeof(CMountRequest) == 304);
static_assert(offsetof(CMountRequest, m_header) == 0);
static_assert(offsetof(CMountRequest, m_spare) == 4);
static_assert(offsetof(CMountRequest, m_request) == 8);
static_assert(offsetof(CMountRequest, m_sessionId) == 12);
static_assert(offsetof(CMountRequest, m_logonIdLow) == 16);
static_assert(offsetof(CMountRequest, m_logonIdHigh) == 20);
static_assert(offsetof(CMountRequest, m_dwData) == 24);
static_assert(offsetof(CMountRequest, m_text) == 28);
static_assert(offsetof(CMountRequest, m_password) == 288);
