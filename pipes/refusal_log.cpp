#include "pipes/refusal_log.h"

#include "log/oxtlog.h"

void CRefusalLog::Note(const ombrix::platform::PipeCaller& caller, int32_t code) {
    {
        std::lock_guard guard(m_lock);
        if (m_logged.size() >= kRemembered) m_logged.clear();
        if (!m_logged.insert({caller.uid, code}).second) return;
    }
    OXTLog(3, "Refused request %d of user %u (process %d)", code, static_cast<unsigned>(caller.uid),
           static_cast<int>(caller.pid));
}

void CRefusalLog::NoteAddress(const std::string& address, const char* what) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(m_lock);
        if (m_addresses.size() >= kRemembered) m_addresses.clear();
        auto [it, added] = m_addresses.try_emplace(address + " " + what, now);
        if (!added && now - it->second < std::chrono::minutes(1)) return;
        it->second = now;
    }
    OXTLog(3, "Refused %s from %s: not a server of the pool", what, address.c_str());
}
