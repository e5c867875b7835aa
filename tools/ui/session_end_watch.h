#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QObject;

// Tells a Qt program, on its window thread, that it is being ended from outside: by SIGTERM,
// SIGINT or SIGHUP, or by the log-off of its session. One watch per process.
namespace ombrix::tools {

class SessionEndWatch {
  public:
    ~SessionEndWatch();
    SessionEndWatch(const SessionEndWatch&) = delete;
    SessionEndWatch& operator=(const SessionEndWatch&) = delete;

    // `onEnd` runs once, in `context`'s thread; `context` must outlive the watch. Null when the
    // signals cannot be caught.
    static std::unique_ptr<SessionEndWatch> start(QObject* context, uint32_t session,
                                                  std::function<void(const char* why)> onEnd);

  private:
    SessionEndWatch() = default;
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace ombrix::tools
