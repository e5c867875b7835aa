#include "service/password_attempts.h"

#include <algorithm>

#include "platform/ascii.h"

CPasswordAttempts::CPasswordAttempts(Clock clock) : m_clock(std::move(clock)) {}

// Image paths compare without regard to case, as the units do.
CPasswordAttempts::Key CPasswordAttempts::KeyOf(const std::string& image, uint32_t session) {
    return {ombrix::ascii::toUpper(image), session};
}

bool CPasswordAttempts::MayTry(const std::string& image, uint32_t session) {
    auto it = m_records.find(KeyOf(image, session));
    return it == m_records.end() || m_clock() >= it->second.pausedUntil;
}

void CPasswordAttempts::Failed(const std::string& image, uint32_t session) {
    if (m_records.size() >= kRemembered) m_records.clear();
    Record& record = m_records[KeyOf(image, session)];
    ++record.failures;
    if (record.failures < kFreeFailures) return;
    auto pause = kFirstPause;
    for (int n = kFreeFailures; n < record.failures && pause < kLongestPause; ++n)
        pause *= 2;
    record.pausedUntil = m_clock() + std::min(pause, kLongestPause);
}

void CPasswordAttempts::Succeeded(const std::string& image, uint32_t session) {
    m_records.erase(KeyOf(image, session));
}
