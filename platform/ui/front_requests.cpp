#include "platform/ui/front_requests.h"

#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include "platform/message_bus.h"

namespace ombrix::ui {

struct FrontRequests::State {
    platform::BusListener bus;
    std::unique_ptr<QSocketNotifier> notifier;
};

FrontRequests::~FrontRequests() = default;

std::unique_ptr<FrontRequests> FrontRequests::listen(QWidget* window, std::string message) {
    std::unique_ptr<FrontRequests> requests(new FrontRequests);
    requests->state_ = std::make_unique<State>();
    State& state = *requests->state_;
    if (!state.bus.ok()) return nullptr;
    state.notifier = std::make_unique<QSocketNotifier>(state.bus.fd(), QSocketNotifier::Read);
    QObject::connect(state.notifier.get(), &QSocketNotifier::activated, window,
                     [&state, window, message] {
                         while (auto received = state.bus.receive(0)) {
                             // Only a later start asks, never the window's own process.
                             if (received->name == message &&
                                 received->wParam != static_cast<uint64_t>(::getpid()))
                                 bringForward(window);
                         }
                     });
    return requests;
}

void bringForward(QWidget* window) {
    if (window->isMinimized()) window->showNormal();
    window->raise();
    window->activateWindow();
    // A dialog open over the window is where the user was working.
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != window) {
        modal->raise();
        modal->activateWindow();
    }
}

}  // namespace ombrix::ui
