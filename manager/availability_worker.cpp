#include "manager/availability_worker.h"

namespace ombrix::mng {
namespace {

constexpr int kChecksBeforeYield = 20;
constexpr int kPauseRounds = 11;

}  // namespace

AvailabilityWorker::AvailabilityWorker(Hooks hooks) : hooks_(std::move(hooks)) {}

AvailabilityWorker::~AvailabilityWorker() {
    stop();
}

void AvailabilityWorker::start() {
    if (thread_.joinable()) return;
    stop_ = false;
    thread_ = std::thread([this] { run(); });
}

void AvailabilityWorker::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        paused_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
        log(2, "##### AvailableCDsThread END\n");
    }
}

void AvailabilityWorker::setAll(std::vector<int> indexes) {
    {
        std::lock_guard lock(mutex_);
        all_ = std::move(indexes);
        next_ = 0;
        passRequested_ = true;
    }
    wake_.notify_all();
}

void AvailabilityWorker::showing(std::vector<int> indexes) {
    {
        std::lock_guard lock(mutex_);
        displayed_ = std::move(indexes);
        restart_ = true;
    }
    wake_.notify_all();
}

int AvailabilityWorker::query(int index) const {
    std::lock_guard lock(mutex_);
    auto it = known_.find(index);
    if (it == known_.end()) return kUnknown;
    return it->second ? kAvailable : kUnavailable;
}

bool AvailabilityWorker::suspend() {
    std::lock_guard lock(mutex_);
    if (hooks_.storesFree && !hooks_.storesFree()) return false;
    paused_ = true;
    return true;
}

void AvailabilityWorker::resume() {
    {
        std::lock_guard lock(mutex_);
        paused_ = false;
    }
    wake_.notify_all();
}

void AvailabilityWorker::check(int index) {
    const std::string path = hooks_.imagePath ? hooks_.imagePath(index) : std::string();
    const bool available = !path.empty() && hooks_.reachable && hooks_.reachable(path);
    bool changed = false;
    {
        std::lock_guard lock(mutex_);
        auto [it, added] = known_.try_emplace(index, available);
        changed = added || it->second != available;
        it->second = available;
    }
    if (changed) {
        log(2, "##### PostMessage AvailablesState has changed (" + std::to_string(index) + ")");
        if (hooks_.changed) hooks_.changed(index, available);
    }
}

void AvailabilityWorker::run() {
    std::unique_lock lock(mutex_);
    while (true) {
        wake_.wait(lock, [this] { return stop_ || !paused_; });
        if (stop_) return;
        if (!displayed_.empty()) {
            // The shown images, in order; a new set of them starts the pass again.
            restart_ = false;
            const std::vector<int> queue = displayed_;
            bool abandoned = false;
            int checks = 0;
            for (int index : queue) {
                lock.unlock();
                check(index);
                if (++checks % kChecksBeforeYield == 0) std::this_thread::yield();
                lock.lock();
                if (stop_) return;
                if (restart_) {
                    abandoned = true;
                    break;
                }
            }
            if (!abandoned) displayed_.clear();
            continue;
        }
        if (next_ < all_.size()) {
            const int index = all_[next_++];
            lock.unlock();
            check(index);
            if (next_ % kChecksBeforeYield == 0) std::this_thread::yield();
            lock.lock();
            continue;
        }
        // Every image checked: a pause before the next full pass, cut short by shown images.
        for (int round = 0; round < kPauseRounds; ++round) {
            if (wake_.wait_for(lock, hooks_.pause,
                               [this] { return stop_ || !displayed_.empty() || passRequested_; })) {
                break;
            }
        }
        if (stop_) return;
        if (displayed_.empty() || passRequested_) {
            next_ = 0;
            passRequested_ = false;
        }
    }
}

}  // namespace ombrix::mng
