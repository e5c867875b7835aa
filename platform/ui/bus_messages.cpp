#include "platform/ui/bus_messages.h"

#include <QObject>
#include <QSocketNotifier>

namespace ombrix::ui {

struct BusMessages::State {
    platform::BusListener bus;
    std::unique_ptr<QSocketNotifier> notifier;
};

BusMessages::~BusMessages() = default;

std::unique_ptr<BusMessages> BusMessages::listen(
    QObject* context, std::function<void(const platform::BusMessage&)> onMessage) {
    std::unique_ptr<BusMessages> messages(new BusMessages);
    messages->state_ = std::make_unique<State>();
    State& state = *messages->state_;
    if (!state.bus.ok()) return nullptr;
    state.notifier = std::make_unique<QSocketNotifier>(state.bus.fd(), QSocketNotifier::Read);
    QObject::connect(state.notifier.get(), &QSocketNotifier::activated, context,
                     [&state, onMessage = std::move(onMessage)] {
                         while (auto received = state.bus.receive(0))
                             onMessage(*received);
                     });
    return messages;
}

}  // namespace ombrix::ui
