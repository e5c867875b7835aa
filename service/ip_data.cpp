#include "service/ip_data.h"

#include <chrono>
#include <cstring>

#include "platform/blocking_socket.h"

namespace {

uint32_t word(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void putWord(unsigned char* p, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(value >> (8 * i));
}

using Clock = std::chrono::steady_clock;

int left(Clock::time_point deadline) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return ms < 0 ? 0 : static_cast<int>(ms);
}

// Receives exactly `size` bytes before `deadline`.
void receiveAll(CBlockingSocket& socket, unsigned char* buffer, size_t size,
                Clock::time_point deadline) {
    size_t got = 0;
    while (got < size) {
        int n = socket.Receive(buffer + got, static_cast<int>(size - got), left(deadline));
        if (n <= 0) throw CBlockingSocketException("ReadIPData", 0);
        got += static_cast<size_t>(n);
    }
}

}  // namespace

int CIPData::TimeoutMs() const {
    return m_header.timeout == 0 || m_header.timeout > 600000 ? static_cast<int>(kDefaultTimeout)
                                                              : static_cast<int>(m_header.timeout);
}

bool CIPData::Text(std::string& out) const {
    if (m_payload.empty() || m_payload.back() != '\0') return false;
    out.assign(m_payload.data());
    return true;
}

std::vector<std::string> CIPData::Texts() const {
    std::vector<std::string> texts;
    if (m_payload.empty() || m_payload.back() != '\0') return texts;
    size_t at = 0;
    while (at < m_payload.size()) {
        std::string text(m_payload.data() + at);
        if (text.empty()) break;
        at += text.size() + 1;
        texts.push_back(std::move(text));
    }
    return texts;
}

void CIPData::SetText(std::string_view text) {
    m_payload.assign(text.begin(), text.end());
    m_payload.push_back('\0');
}

void CIPData::SetTexts(const std::vector<std::string>& texts) {
    m_payload.clear();
    for (const auto& text : texts) {
        m_payload.insert(m_payload.end(), text.begin(), text.end());
        m_payload.push_back('\0');
    }
    m_payload.push_back('\0');
}

std::vector<unsigned char> CIPData::Bytes() const {
    std::vector<unsigned char> out(kHeaderSize + m_payload.size());
    const uint32_t words[9] = {
        m_header.header,       static_cast<uint32_t>(kHeaderSize + m_payload.size()),
        m_header.replyHandler, m_header.type,
        m_header.magic,        m_header.spare1,
        m_header.data,         m_header.timeout,
        m_header.spare2};
    for (int i = 0; i < 9; ++i)
        putWord(out.data() + 4 * i, words[i]);
    if (!m_payload.empty())
        std::memcpy(out.data() + kHeaderSize, m_payload.data(), m_payload.size());
    return out;
}

IPHeaderCheck ParseIPHeader(const unsigned char* bytes, CIPHeader& header) {
    uint32_t* fields[9] = {&header.header, &header.length,  &header.replyHandler,
                           &header.type,   &header.magic,   &header.spare1,
                           &header.data,   &header.timeout, &header.spare2};
    for (int i = 0; i < 9; ++i)
        *fields[i] = word(bytes + 4 * i);
    if (header.magic != CIPData::kMagic) return IPHeaderCheck::kWrongMagic;
    if (header.length < CIPData::kHeaderSize ||
        header.length - CIPData::kHeaderSize > CIPData::kMaxPayload) {
        return IPHeaderCheck::kBadLength;
    }
    return IPHeaderCheck::kGood;
}

void WriteIPData(CBlockingSocket& socket, const CIPData& record, int timeoutMs) {
    std::vector<unsigned char> bytes = record.Bytes();
    socket.Write(bytes.data(), static_cast<int>(CIPData::kHeaderSize), timeoutMs);
    if (bytes.size() > CIPData::kHeaderSize) {
        socket.Write(bytes.data() + CIPData::kHeaderSize,
                     static_cast<int>(bytes.size() - CIPData::kHeaderSize), timeoutMs);
    }
}

IPHeaderCheck ReadIPData(CBlockingSocket& socket, CIPData& record, int timeoutMs) {
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    unsigned char header[CIPData::kHeaderSize];
    receiveAll(socket, header, sizeof header, deadline);
    IPHeaderCheck check = ParseIPHeader(header, record.m_header);
    record.ClearPayload();
    if (check != IPHeaderCheck::kGood) return check;
    std::vector<char> payload(record.m_header.length - CIPData::kHeaderSize);
    if (!payload.empty()) {
        receiveAll(socket, reinterpret_cast<unsigned char*>(payload.data()), payload.size(),
                   deadline);
    }
    record.SetPayload(std::move(payload));
    return check;
}
