#include "service/stop_event.h"

#include <chrono>

void StopEvent::set() {
    {
        std::lock_guard guard(lock_);
        set_ = true;
    }
    changed_.notify_all();
}

void StopEvent::reset() {
    std::lock_guard guard(lock_);
    set_ = false;
}

bool StopEvent::isSet() const {
    std::lock_guard guard(lock_);
    return set_;
}

bool StopEvent::wait(int timeoutMs) const {
    std::unique_lock guard(lock_);
    return changed_.wait_for(guard, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
}
