#pragma once

#include <memory>
#include <string_view>

#include "platform/unique_fd.h"

namespace ombrix::platform {

// A named, cross-process event. Its state lives in its file in sync/ (see kernelObjectPath);
// every process holding it keeps a shared lock on the file, so an event whose holders have all
// ended no longer exists for `open`, as with kernel objects.
class NamedEvent {
  public:
    // Creates the event, or opens it when it exists already. `error` gets a Win32-style code.
    // With `everybodySets` every account may set and reset it; otherwise others may only watch.
    static std::unique_ptr<NamedEvent> create(std::string_view name, bool manualReset,
                                              bool initiallySet, int& error,
                                              bool everybodySets = false);
    // Opens an existing event; error 2 when nobody holds one of that name. An account that may
    // not change the event gets one it can only watch: set and reset fail, a wait does not
    // reset an auto-reset event.
    static std::unique_ptr<NamedEvent> open(std::string_view name, int& error);

    bool set();
    bool reset();
    bool isSet();
    // Waits at most `timeoutMs` (-1: no limit); an auto-reset event is reset by the wait that
    // sees it set.
    bool wait(int timeoutMs);

  private:
    explicit NamedEvent(UniqueFd fd) : fd_(std::move(fd)) {}
    template <typename Change>
    bool withState(Change change);

    UniqueFd fd_;
    bool watchOnly_ = false;  // opened by an account that may not change it
};

}  // namespace ombrix::platform
