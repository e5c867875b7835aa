#include "service/refusal_log.h"

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
