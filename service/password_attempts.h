#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>

// Wrong image passwords, counted per image and session: after a few, the next attempts of that
// session at that image are refused unchecked for a while that doubles with each further
// failure, so nobody can try passwords at the speed of the pipe.
class CPasswordAttempts {
  public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr int kFreeFailures = 3;
    static constexpr std::chrono::seconds kFirstPause{1};
    static constexpr std::chrono::seconds kLongestPause{60};

    explicit CPasswordAttempts(Clock clock = std::chrono::steady_clock::now);

    // Whether the session may try a password for the image now.
    bool MayTry(const std::string& image, uint32_t session);
    void Failed(const std::string& image, uint32_t session);
    void Succeeded(const std::string& image, uint32_t session);

  private:
    struct Record {
        int failures = 0;
        std::chrono::steady_clock::time_point pausedUntil{};
    };
    static constexpr size_t kRemembered = 4096;
    using Key = std::pair<std::string, uint32_t>;
    static Key KeyOf(const std::string& image, uint32_t session);

    Clock m_clock;
    std::map<Key, Record> m_records;
};
