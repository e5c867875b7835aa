#pragma once

#include <cstdint>
#include <string>

#include "platform/device_io.h"

// The network access service's side of the miniport: it registers its own process with the
// driver (code 4) and takes that back (code 12). Each control request is logged.
class CNetDriver {
  public:
    static constexpr uint32_t kAttach = 4;
    static constexpr uint32_t kDetach = 12;
    static constexpr int kTries = 11;
    static constexpr int kSeries = 5;
    static constexpr int kSeriesPauseMs = 30;

    // Code 12: up to 5 series of up to 11 tries, 30 ms between series. True when one succeeded.
    bool Detach();
    // Up to 5 attach series, 30 ms apart. True when one succeeded.
    bool Attach();

  private:
    bool OpenPort();
    bool AttachSeries();
    bool Control(uint32_t code, uint32_t returnIn);

    ombrix::platform::DeviceHandle m_port;
    std::string m_lastTried;  // the port last tried in vain
};
