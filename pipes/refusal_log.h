#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <utility>

#include "platform/named_pipe.h"

// Requests refused to their callers, logged once per account and request code, so a caller that
// keeps trying cannot fill the log.
class CRefusalLog {
  public:
    void Note(const ombrix::platform::PipeCaller& caller, int32_t code);
    // A refused network peer, logged once per address, kind of message and minute.
    void NoteAddress(const std::string& address, const char* what);

  private:
    static constexpr size_t kRemembered = 1024;
    std::mutex m_lock;
    std::set<std::pair<uid_t, int32_t>> m_logged;
    std::map<std::string, std::chrono::steady_clock::time_point> m_addresses;
};
