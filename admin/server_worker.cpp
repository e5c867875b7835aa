#include "admin/server_worker.h"

namespace ombrix::admin {

ServerWorker::ServerWorker(std::string name) : name_(std::move(name)) {
    thread_ = std::thread([this] { run(); });
}

ServerWorker::~ServerWorker() {
    stop();
}

bool ServerWorker::post(std::function<void()> job) {
    {
        std::lock_guard guard(lock_);
        if (stopping_) return false;
        jobs_.push_back(std::move(job));
        ++pending_;
    }
    wake_.notify_one();
    return true;
}

void ServerWorker::stop() {
    {
        std::lock_guard guard(lock_);
        if (stopping_ && !thread_.joinable()) return;
        stopping_ = true;
        pending_ -= static_cast<int>(jobs_.size());
        jobs_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void ServerWorker::run() {
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock guard(lock_);
            wake_.wait(guard, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
        --pending_;
    }
}

}  // namespace ombrix::admin
