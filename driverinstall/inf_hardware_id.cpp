#include "driverinstall/inf_hardware_id.h"

#include <vector>

#include "platform/ascii.h"

namespace ombrix::drvinst {

std::optional<std::string> hardwareIdFromInf(const inf::InfFile& inf) {
    const std::vector<inf::Entry>* makers = inf.section("Manufacturer");
    if (makers == nullptr || makers->empty() || !makers->front().hasEquals) return std::nullopt;
    const std::string& modelsName = makers->front().value;
    if (modelsName.empty()) return std::nullopt;

    const std::vector<inf::Entry>* models = inf.section(modelsName);
    if (models == nullptr || models->empty() || !models->front().hasEquals) return std::nullopt;
    std::string_view value = models->front().value;
    size_t first = value.find(',');
    if (first == std::string_view::npos) return std::nullopt;
    std::string_view rest = value.substr(first + 1);
    std::string_view id = ascii::trim(rest.substr(0, rest.find(',')));
    if (id.empty() || id.size() > kMaxHardwareIdLength) return std::nullopt;
    return std::string(id);
}

std::optional<std::string> serviceNameFromInf(const inf::InfFile& inf) {
    std::optional<std::string> value = inf.value(kServicesSection, "AddService");
    if (!value) return std::nullopt;
    std::string_view name(*value);
    name = name.substr(0, name.find(','));
    while (!name.empty() && (name.front() == ' ' || name.front() == '\t'))
        name.remove_prefix(1);
    name = name.substr(0, name.find_first_of(" \t"));
    if (name.empty()) return std::nullopt;
    return std::string(name);
}

}  // namespace ombrix::drvinst
