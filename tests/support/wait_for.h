#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace ombrix::test {

// Polls `condition` every 10 ms until it holds (true) or `limit` has passed (false).
inline bool waitFor(const std::function<bool()>& condition,
                    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace ombrix::test
