// Device requests to the miniport stand-in: any bytes to the port or to a unit get a reply and
// never crash it.
#include <cstddef>
#include <cstdint>

#include "outside/oxtmpdrv/miniport_sim.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static oxtmpdrv::Miniport driver(oxtmpdrv::Config{});
    if (size == 0) return 0;
    // The first byte picks the target: the port or one of the units.
    size_t target = data[0] % 10;
    auto reply = target == 0 ? driver.handlePort(data + 1, size - 1, 1)
                             : driver.handleUnit(target - 1, data + 1, size - 1, 1);
    return reply.size() >= 4 ? 0 : 1;
}
