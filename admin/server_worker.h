#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// One worker per server of the pool: jobs for that server (its TCP records and what is done
// with their replies) run one at a time on the worker's thread, so a slow or silent server
// holds up neither the window nor the other servers.
namespace ombrix::admin {

class ServerWorker {
  public:
    explicit ServerWorker(std::string name);
    ~ServerWorker();  // stops: queued jobs are dropped, the running one is waited for
    ServerWorker(const ServerWorker&) = delete;
    ServerWorker& operator=(const ServerWorker&) = delete;

    const std::string& name() const { return name_; }
    // Queues a job; false when the worker is stopping.
    bool post(std::function<void()> job);
    // A job is queued or running.
    bool busy() const { return pending_.load() > 0; }
    // Drops what is queued and waits for the running job.
    void stop();

  private:
    void run();

    std::string name_;
    std::mutex lock_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> jobs_;
    std::atomic<int> pending_{0};
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ombrix::admin
