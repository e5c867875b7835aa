#include "platform/ui/front_requests.h"

#include <unistd.h>

#include <QApplication>
#include <QWidget>

#include "platform/message_bus.h"
#include "platform/ui/bus_messages.h"

namespace ombrix::ui {

struct FrontRequests::State {
    std::unique_ptr<BusMessages> messages;
};

FrontRequests::~FrontRequests() = default;

std::unique_ptr<FrontRequests> FrontRequests::listen(QWidget* window, std::string message) {
    std::unique_ptr<FrontRequests> requests(new FrontRequests);
    requests->state_ = std::make_unique<State>();
    requests->state_->messages =
        BusMessages::listen(window, [window, message](const platform::BusMessage& received) {
            // Only a later start asks, never the window's own process.
            if (received.name == message && received.wParam != static_cast<uint64_t>(::getpid()))
                bringForward(window);
        });
    if (!requests->state_->messages) return nullptr;
    return requests;
}

bool firstInSession(platform::NamedMutex& running, int waitMs, const std::string& message) {
    if (running.lock(waitMs) != platform::NamedMutex::WaitResult::TimedOut) return true;
    platform::postToSession({message, static_cast<uint64_t>(::getpid()), 0});
    return false;
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
