#pragma once

#include <memory>
#include <string>

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

// Restores, raises and activates `window`, and the modal dialog open over it.
void bringForward(QWidget* window);

}  // namespace ombrix::ui
