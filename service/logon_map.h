#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The logged-on sessions of the server and the number of inserts each holds: 17 buckets, key k
// in bucket (k >> 4) mod 17, entries of a bucket in insertion order. One lock guards every
// operation. After each insertion, change or removal (and when the map is created) the key set
// is published as the global value "OMXLogons" ("%d|" per key in iteration order).
class SafeLogonMap {
  public:
    static constexpr size_t kBuckets = 17;

    SafeLogonMap();
    SafeLogonMap(const SafeLogonMap&) = delete;
    SafeLogonMap& operator=(const SafeLogonMap&) = delete;

    std::optional<uint32_t> lookup(uint32_t session) const;
    void set(uint32_t session, uint32_t count);
    // False when the session was not in the map.
    bool remove(uint32_t session);
    // A snapshot of the keys in iteration order.
    std::vector<uint32_t> sessions() const;
    size_t size() const;

    // The text published as "OMXLogons" for the current keys.
    std::string keyText() const;

  private:
    static size_t bucketOf(uint32_t session) { return (session >> 4) % kBuckets; }
    std::string keyTextLocked() const;
    void publishLocked() const;

    mutable std::mutex lock_;
    std::array<std::vector<std::pair<uint32_t, uint32_t>>, kBuckets> buckets_;
};
