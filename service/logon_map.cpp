#include "service/logon_map.h"

#include "outside/env/oxtenv.h"

SafeLogonMap::SafeLogonMap() {
    std::lock_guard guard(lock_);
    publishLocked();
}

std::optional<uint32_t> SafeLogonMap::lookup(uint32_t session) const {
    std::lock_guard guard(lock_);
    for (const auto& [key, count] : buckets_[bucketOf(session)]) {
        if (key == session) return count;
    }
    return std::nullopt;
}

void SafeLogonMap::set(uint32_t session, uint32_t count) {
    std::lock_guard guard(lock_);
    auto& bucket = buckets_[bucketOf(session)];
    bool found = false;
    for (auto& entry : bucket) {
        if (entry.first == session) {
            entry.second = count;
            found = true;
            break;
        }
    }
    if (!found) bucket.emplace_back(session, count);
    publishLocked();
}

bool SafeLogonMap::remove(uint32_t session) {
    std::lock_guard guard(lock_);
    auto& bucket = buckets_[bucketOf(session)];
    for (auto it = bucket.begin(); it != bucket.end(); ++it) {
        if (it->first == session) {
            bucket.erase(it);
            publishLocked();
            return true;
        }
    }
    return false;
}

std::vector<uint32_t> SafeLogonMap::sessions() const {
    std::lock_guard guard(lock_);
    std::vector<uint32_t> out;
    for (const auto& bucket : buckets_) {
        for (const auto& entry : bucket)
            out.push_back(entry.first);
    }
    return out;
}

size_t SafeLogonMap::size() const {
    std::lock_guard guard(lock_);
    size_t n = 0;
    for (const auto& bucket : buckets_)
        n += bucket.size();
    return n;
}

std::string SafeLogonMap::keyText() const {
    std::lock_guard guard(lock_);
    return keyTextLocked();
}

std::string SafeLogonMap::keyTextLocked() const {
    std::string text;
    for (const auto& bucket : buckets_) {
        for (const auto& entry : bucket)
            text += std::to_string(static_cast<int32_t>(entry.first)) + "|";
    }
    return text;
}

// Published under the map's lock, so the stored value always matches the latest key set.
void SafeLogonMap::publishLocked() const {
    EnvSetGlobalValue("OMXLogons", keyTextLocked().c_str());
}
