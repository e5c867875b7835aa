#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "pipes/mountrequest.h"
#include "platform/named_pipe.h"

namespace ombrix::test {

// A pipe server in a thread that answers every record unchanged (the network access service's
// password check, or a session's helper) and keeps what it received.
class EchoPipe {
  public:
    explicit EchoPipe(const std::string& name) {
        int error = 0;
        server_ = ombrix::platform::NamedPipeServer::create(name, 5, error);
        thread_ = std::thread([this] {
            while (!stop_) {
                int error = 0;
                auto connection = server_ ? server_->accept(100, error) : nullptr;
                if (!connection) continue;
                CMountRequest r;
                size_t size = 0;
                if (connection->read(r.bytes(), sizeof r, size, 1000) != 0) continue;
                {
                    std::lock_guard guard(lock_);
                    received_.push_back(r);
                }
                connection->write(r.bytes(), sizeof r);
            }
        });
    }
    ~EchoPipe() {
        stop_ = true;
        thread_.join();
    }
    std::vector<CMountRequest> received() {
        std::lock_guard guard(lock_);
        return received_;
    }

  private:
    std::unique_ptr<ombrix::platform::NamedPipeServer> server_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::mutex lock_;
    std::vector<CMountRequest> received_;
};

}  // namespace ombrix::test
