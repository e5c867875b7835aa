#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

// Messages between the programs of one session, the way windows post registered messages to all
// top-level windows: every program with a window listens on a datagram socket in
// Sessions/<sid>/windows/ of the machine root, and posting sends the message to each of them.
namespace ombrix::platform {

struct BusMessage {
    std::string name;  // the registered message's name
    uint64_t wParam = 0;
    int64_t lParam = 0;
};

// Sends `message` to every listener of the caller's session (or of `session`). Listeners that are
// gone are removed. Returns the number of listeners reached.
int postToSession(const BusMessage& message);
int postToSession(uint32_t session, const BusMessage& message);

// One program's place on the bus, for as long as the object lives.
class BusListener {
  public:
    BusListener();  // in the caller's session
    explicit BusListener(uint32_t session);
    ~BusListener();
    BusListener(const BusListener&) = delete;
    BusListener& operator=(const BusListener&) = delete;

    bool ok() const { return fd_.valid(); }
    int fd() const { return fd_.get(); }  // readable when a message waits
    // Waits at most `timeoutMs` (-1: no limit) for the next message.
    std::optional<BusMessage> receive(int timeoutMs);

  private:
    UniqueFd fd_;
    std::string path_;
};

// The wire form of a message: "name\0" then wParam and lParam as 8 little-endian bytes each.
std::string encodeBusMessage(const BusMessage& message);
std::optional<BusMessage> decodeBusMessage(std::string_view bytes);

}  // namespace ombrix::platform
