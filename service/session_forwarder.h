#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "pipes/mountrequest.h"

// Passes notifications on to the sessions' pipes a moment after they came, so that their sender
// has its reply first. One worker sends them all, in the order they came: a session hears of
// two changes in the order they happened, and a burst of notifications costs no thread each.
class CSessionForwarder {
  public:
    using Send = std::function<void(uint32_t session, CMountRequest& record)>;

    CSessionForwarder(std::chrono::milliseconds delay, Send send);
    ~CSessionForwarder();
    CSessionForwarder(const CSessionForwarder&) = delete;
    CSessionForwarder& operator=(const CSessionForwarder&) = delete;

    void Forward(const CMountRequest& record, std::vector<uint32_t> sessions);

  private:
    struct Item {
        CMountRequest record;
        std::vector<uint32_t> sessions;
        std::chrono::steady_clock::time_point due;
    };
    void Work();

    static constexpr size_t kMaxWaiting = 4096;
    std::chrono::milliseconds m_delay;
    Send m_send;
    std::mutex m_lock;
    std::condition_variable m_wake;
    std::deque<Item> m_items;
    bool m_stop = false;
    std::thread m_worker;
};
