// Reads arbitrary bytes as an INF file and takes the hardware id and the service name from it,
// checking what every caller relies on.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "driverinstall/inf_hardware_id.h"
#include "platform/ascii.h"
#include "platform/inf_file.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ombrix::inf::InfFile inf;
    inf.parse(text);

    // Every listed section is found by its name in any letter case; entries keep file order.
    for (const std::string& name : inf.sectionNames()) {
        const auto* entries = inf.section(ombrix::ascii::toUpper(name));
        check(entries != nullptr);
        int line = 0;
        for (const ombrix::inf::Entry& entry : *entries) {
            check(entry.line > line);
            line = entry.line;
            check(entry.hasEquals || entry.key.empty());
            check(ombrix::ascii::trim(entry.value).size() == entry.value.size());
            if (entry.hasEquals) {
                check(inf.value(name, entry.key).has_value());
            }
            inf.expand(entry.value);
            ombrix::inf::splitFields(entry.value);
        }
    }

    if (std::optional<std::string> id = ombrix::drvinst::hardwareIdFromInf(inf)) {
        check(!id->empty() && id->size() <= ombrix::drvinst::kMaxHardwareIdLength);
        check(id->find(',') == std::string::npos);
        check(ombrix::ascii::trim(*id).size() == id->size());
    }
    if (std::optional<std::string> service = ombrix::drvinst::serviceNameFromInf(inf)) {
        check(!service->empty());
        check(service->find_first_of(" \t,") == std::string::npos);
    }
    return 0;
}
