#pragma once

#include <condition_variable>
#include <mutex>

// A manual-reset event inside one process.
class StopEvent {
  public:
    void set();
    void reset();
    bool isSet() const;
    // True when the event was set within `timeoutMs`.
    bool wait(int timeoutMs) const;

  private:
    mutable std::mutex lock_;
    mutable std::condition_variable changed_;
    bool set_ = false;
};
