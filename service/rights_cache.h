#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <utility>

// What the service last found of an account's rights, kept for a moment: finding them reads the
// account and group databases, the registry and the published profiles, which every insert and
// eject would otherwise pay for. A change of rights applies within kLifetime.
class CRightsCache {
  public:
    static constexpr std::chrono::milliseconds kLifetime{1000};

    // The answer for (`uid`, `what`), from `find` when none is kept or it is too old.
    bool Get(uid_t uid, int what, const std::function<bool()>& find);

  private:
    static constexpr size_t kKept = 1024;
    struct Answer {
        bool value;
        std::chrono::steady_clock::time_point found;
    };
    std::mutex m_lock;
    std::map<std::pair<uid_t, int>, Answer> m_answers;
};
