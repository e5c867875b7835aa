#include "service/rights_cache.h"

bool CRightsCache::Get(uid_t uid, int what, const std::function<bool()>& find) {
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(m_lock);
        auto it = m_answers.find({uid, what});
        if (it != m_answers.end() && now - it->second.found < kLifetime) return it->second.value;
    }
    const bool value = find();
    std::lock_guard guard(m_lock);
    if (m_answers.size() >= kKept) m_answers.clear();
    m_answers[{uid, what}] = Answer{value, now};
    return value;
}
