#pragma once

#include <memory>
#include <string>

#include "platform/named_mutex.h"

class QWidget;

// A program's window that a later start of the same program brings to the front: the later
// start posts a message on the session bus, the running window comes forward with the dialog
// open over it.
namespace ombrix::ui {

class FrontRequests {
  public:
    ~FrontRequests();
    FrontRequests(const FrontRequests&) = delete;
    FrontRequests& operator=(const FrontRequests&) = delete;

    // Listens for `message` (posted by other processes) for `window`; null when the session's
    // bus cannot be listened on.
    static std::unique_ptr<FrontRequests> listen(QWidget* window, std::string message);

  private:
    FrontRequests() = default;
    struct State;
    std::unique_ptr<State> state_;
};

// The single-instance check of a program with a window: takes `running` (waiting at most
// `waitMs`) and gives true when this start may go on. When another start of the session holds
// it, that one is asked by `message` to come forward, and this start ends: false.
bool firstInSession(platform::NamedMutex& running, int waitMs, const std::string& message);

// Restores, raises and activates `window`, and the modal dialog open over it.
void bringForward(QWidget* window);

}  // namespace ombrix::ui
