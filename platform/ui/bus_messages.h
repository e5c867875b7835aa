#pragma once

#include <functional>
#include <memory>

#include "platform/message_bus.h"

class QObject;

// The session bus in a Qt program: messages posted to the session's programs arrive on the
// window thread, while the returned object lives.
namespace ombrix::ui {

class BusMessages {
  public:
    ~BusMessages();
    BusMessages(const BusMessages&) = delete;
    BusMessages& operator=(const BusMessages&) = delete;

    // Calls `onMessage` for every message, in `context`'s thread (and never after `context` is
    // gone); null when the session's bus cannot be listened on.
    static std::unique_ptr<BusMessages> listen(
        QObject* context, std::function<void(const platform::BusMessage&)> onMessage);

  private:
    BusMessages() = default;
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace ombrix::ui
