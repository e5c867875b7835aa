#include "service/session_forwarder.h"

#include <system_error>

#include "log/oxtlog.h"

CSessionForwarder::CSessionForwarder(std::chrono::milliseconds delay, Send send)
    : m_delay(delay), m_send(std::move(send)) {}

CSessionForwarder::~CSessionForwarder() {
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

void CSessionForwarder::Forward(const CMountRequest& record, std::vector<uint32_t> sessions) {
    {
        std::lock_guard guard(m_lock);
        if (m_items.size() >= kMaxWaiting) {
            OXTLog(3, "Too many notifications waiting; request %d is not passed on",
                   record.m_request);
            return;
        }
        m_items.push_back(
            {record, std::move(sessions), std::chrono::steady_clock::now() + m_delay});
        // The worker starts with the first notification, in the process that serves.
        if (!m_worker.joinable()) {
            try {
                m_worker = std::thread(&CSessionForwarder::Work, this);
            } catch (const std::system_error&) {
                m_items.pop_back();
                OXTLog(3, "No thread to pass request %d on to the sessions", record.m_request);
                return;
            }
        }
    }
    m_wake.notify_one();
}

void CSessionForwarder::Work() {
    std::unique_lock lock(m_lock);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || !m_items.empty(); });
        if (m_stop) return;
        const auto due = m_items.front().due;
        if (m_wake.wait_until(lock, due, [this] { return m_stop; })) return;
        Item item = std::move(m_items.front());
        m_items.pop_front();
        lock.unlock();
        for (uint32_t session : item.sessions) {
            CMountRequest copy(item.record);
            m_send(session, copy);
        }
        lock.lock();
    }
}
