#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CBlockingSocket;

// The TCP record between servers and from the administration program: a 36-byte little-endian
// header and an optional payload (one zero-terminated text, or a list of zero-terminated texts
// closed by one more zero byte).
struct CIPHeader {
    uint32_t header = 0;
    uint32_t length = 36;       // 36 + payload length
    uint32_t replyHandler = 0;  // the sender's own use; not interpreted on the wire
    uint32_t type = 0;          // a failed remote operation answers type + 10000
    uint32_t magic = 0xABCDDCBAu;
    uint32_t spare1 = 0;
    uint32_t data = 0;        // session id in requests, result in replies
    uint32_t timeout = 4000;  // the sender's send and receive time-out in ms
    uint32_t spare2 = 0;
};
static_assert(sizeof(CIPHeader) == 36);

class CIPData {
  public:
    static constexpr uint32_t kMagic = 0xABCDDCBAu;
    static constexpr size_t kHeaderSize = 36;
    static constexpr uint32_t kFailed = 10000;
    static constexpr uint32_t kDefaultTimeout = 4000;
    // Payloads beyond this size are refused: no request of the system comes near it, and a
    // forged length must not make the reader allocate gigabytes.
    static constexpr uint32_t kMaxPayload = 1u << 20;

    CIPData() = default;
    explicit CIPData(uint32_t type, uint32_t data = 0) {
        m_header.type = type;
        m_header.data = data;
    }

    uint32_t Type() const { return m_header.type; }
    uint32_t Data() const { return m_header.data; }
    void SetType(uint32_t type) { m_header.type = type; }
    void SetData(uint32_t data) { m_header.data = data; }
    int TimeoutMs() const;

    // The payload as one text: only when its last byte is zero; the text ends at the first zero.
    bool Text(std::string& out) const;
    // The payload as a list of texts (each zero-terminated; an empty text ends the list).
    std::vector<std::string> Texts() const;
    void SetText(std::string_view text);
    void SetTexts(const std::vector<std::string>& texts);
    void ClearPayload() { m_payload.clear(); }
    const std::vector<char>& Payload() const { return m_payload; }
    void SetPayload(std::vector<char> payload) { m_payload = std::move(payload); }

    // The record as it goes on the wire (length field set from the payload).
    std::vector<unsigned char> Bytes() const;

    CIPHeader m_header;

  private:
    std::vector<char> m_payload;
};

// The outcome of reading the header of a record.
enum class IPHeaderCheck {
    kGood,
    kWrongMagic,  // dropped: the connection is closed without a reply
    kBadLength,   // shorter than the header or beyond the payload limit: dropped as well
};

// Reads the 36 header bytes into `record`'s header and checks them.
IPHeaderCheck ParseIPHeader(const unsigned char* bytes, CIPHeader& header);

// Sends the header, then the payload, each until every byte is out; each send step waits at
// most `timeoutMs`. Throws CBlockingSocketException.
void WriteIPData(CBlockingSocket& socket, const CIPData& record, int timeoutMs);

// Reads one record: exactly 36 header bytes, then length - 36 payload bytes, within
// `timeoutMs` for the whole record (a client that trickles bytes cannot hold a connection
// longer). Returns the header check; the payload is read only for a good header. Throws
// CBlockingSocketException ("ReadIPData" when the other side closed early).
IPHeaderCheck ReadIPData(CBlockingSocket& socket, CIPData& record, int timeoutMs);
