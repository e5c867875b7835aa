#include "platform/device_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>

#include "platform/ascii.h"
#include "platform/inf_file.h"
#include "platform/module_folder.h"
#include "platform/win_error.h"

namespace ombrix::devices {
namespace {

constexpr std::string_view kPresent = "Present";
constexpr std::string_view kGeneratedEnumerator = "ROOT";
constexpr int kErrorDevinstAlreadyExists = static_cast<int>(0xE0000207u);

std::string_view valueName(Property property) {
    switch (property) {
        case Property::kHardwareId: return "HardwareID";
        case Property::kClassGuid: return "ClassGUID";
        case Property::kClass: return "Class";
        case Property::kPhysicalDeviceObjectName: return "PhysicalDeviceObjectName";
        case Property::kService: return "Service";
    }
    return {};
}

constexpr Property kAllProperties[] = {Property::kHardwareId, Property::kClassGuid,
                                       Property::kClass, Property::kPhysicalDeviceObjectName,
                                       Property::kService};

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}"
bool isGuid(std::string_view text) {
    if (text.size() != 38 || text.front() != '{' || text.back() != '}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        if (dash ? text[i] != '-' : !isHex(text[i])) return false;
    }
    return true;
}

// A name that is one key of the registry and one word of an instance id.
bool isPlainName(std::string_view name) {
    if (name.empty() || name.size() > 200) return false;
    for (unsigned char c : name) {
        if (c <= ' ' || c == '\\' || c == '/' || c == ',' || c == 0x7F) return false;
    }
    return true;
}

std::string joinKey(std::string_view parent, std::string_view child) {
    std::string key(parent);
    key += '\\';
    key += child;
    return key;
}

int readDevice(const std::string& instanceId, DeviceInfo& out, bool& present) {
    std::vector<std::pair<std::string, registry::Value>> values;
    if (int err = registry::listValues(deviceKey(instanceId), values)) return err;
    out = DeviceInfo{};
    out.instanceId = instanceId;
    out.registered = true;
    present = false;
    for (const auto& [name, value] : values) {
        if (ascii::equalsIgnoreCase(name, kPresent)) {
            present = value.type == registry::kDword &&
                      value.data.find_first_not_of('\0') != std::string::npos;
            continue;
        }
        for (Property property : kAllProperties) {
            if (ascii::equalsIgnoreCase(name, valueName(property))) {
                out.properties[property] = value;
            }
        }
    }
    return win::kSuccess;
}

bool keyExists(const std::string& key) {
    std::vector<std::string> subkeys;
    return registry::listSubkeys(key, subkeys) == win::kSuccess;
}

std::string directoryOfThisModule() {
    return platform::moduleFolderOf(reinterpret_cast<const void*>(&directoryOfThisModule));
}

bool isRegularFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t numberOr(const std::optional<std::string>& text, uint32_t fallback) {
    if (!text) return fallback;
    std::string digits = inf::unquote(*text);
    if (digits.empty()) return fallback;
    errno = 0;
    char* end = nullptr;
    unsigned long long n = std::strtoull(digits.c_str(), &end, 0);
    if (errno != 0 || end == nullptr || *end != '\0' || n > UINT32_MAX) return fallback;
    return static_cast<uint32_t>(n);
}

int loadInf(const std::string& path, inf::InfFile& inf) {
    if (inf.load(path)) return win::kSuccess;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return win::fromErrno(errno, path.c_str());
    return win::kInvalidData;
}

// The install section of the model entry that names `hardwareId` (without case).
std::optional<std::string> installSectionFor(const inf::InfFile& inf, std::string_view hardwareId) {
    const std::vector<inf::Entry>* makers = inf.section("Manufacturer");
    if (makers == nullptr) return std::nullopt;
    for (const inf::Entry& maker : *makers) {
        std::vector<std::string> fields = inf::splitFields(maker.value);
        if (fields.empty()) continue;
        // A decorated models section ("Models.NTx86") is preferred to the plain one.
        std::vector<std::string> candidates;
        for (size_t i = 1; i < fields.size(); ++i)
            candidates.push_back(fields[0] + "." + fields[i]);
        candidates.push_back(fields[0]);
        for (const std::string& name : candidates) {
            const std::vector<inf::Entry>* models = inf.section(name);
            if (models == nullptr) continue;
            for (const inf::Entry& model : *models) {
                std::vector<std::string> ids = inf::splitFields(model.value);
                for (size_t i = 1; i < ids.size(); ++i) {
                    if (ascii::equalsIgnoreCase(ids[i], hardwareId)) return ids[0];
                }
            }
            break;
        }
    }
    return std::nullopt;
}

struct ServiceInstall {
    std::string name;
    std::string section;  // the service-install section, may be empty
};

int associatedService(const inf::InfFile& inf, const std::string& installSection,
                      ServiceInstall& out) {
    static constexpr std::string_view kDecorations[] = {".NTx86", ".NTamd64", ".NT", ""};
    const std::vector<inf::Entry>* services = nullptr;
    for (std::string_view decoration : kDecorations) {
        std::string name = installSection + std::string(decoration) + ".Services";
        if ((services = inf.section(name)) != nullptr) break;
    }
    if (services == nullptr) return kErrorSectionNotFound;

    std::optional<std::vector<std::string>> chosen;
    for (const inf::Entry& entry : *services) {
        if (!entry.hasEquals || !ascii::equalsIgnoreCase(entry.key, "AddService")) continue;
        std::vector<std::string> fields = inf::splitFields(entry.value);
        if (fields.empty()) continue;
        bool associated = fields.size() > 1 && (numberOr(fields[1], 0) & 0x2) != 0;
        if (!chosen || associated) chosen = fields;
        if (associated) break;
    }
    if (!chosen) return kErrorSectionNotFound;
    out.name = inf::unquote((*chosen)[0]);
    out.section = chosen->size() > 2 ? (*chosen)[2] : std::string();
    return isPlainName(out.name) ? win::kSuccess : win::kInvalidParameter;
}

// The driver program: the file named by ServiceBinary (its last path part), found beside the
// INF file or in the folder of the installed programs.
int driverProgram(const inf::InfFile& inf, const std::string& infPath,
                  const ServiceInstall& service, std::string& out) {
    std::string binary = service.name;
    if (!service.section.empty()) {
        if (inf.section(service.section) == nullptr) return kErrorSectionNotFound;
        if (std::optional<std::string> text = inf.value(service.section, "ServiceBinary")) {
            std::string path = inf.expand(*text);
            size_t cut = path.find_last_of("\\/");
            binary = cut == std::string::npos ? path : path.substr(cut + 1);
        }
    }
    if (binary.empty() || binary == "." || binary == ".." || !isPlainName(binary)) {
        return kErrorSectionNotFound;
    }
    std::error_code ec;
    std::filesystem::path infDir = std::filesystem::absolute(infPath, ec).parent_path();
    for (const std::filesystem::path& dir :
         {infDir, std::filesystem::path(directoryOfThisModule())}) {
        if (dir.empty()) continue;
        std::filesystem::path candidate = dir / binary;
        if (isRegularFile(candidate)) {
            out = candidate.lexically_normal().string();
            return win::kSuccess;
        }
    }
    return win::kFileNotFound;
}

bool hasIdIgnoringCase(const DeviceInfo& device, std::string_view hardwareId) {
    auto found = device.properties.find(Property::kHardwareId);
    if (found == device.properties.end()) return false;
    for (const std::string& id : propertyStrings(found->second)) {
        if (ascii::equalsIgnoreCase(id, hardwareId)) return true;
    }
    return false;
}

int writeDevice(const std::string& key, const DeviceInfo& device, bool present) {
    for (const auto& [property, value] : device.properties) {
        if (int err = registry::setValue(key, valueName(property), value)) return err;
    }
    // Written last: a device whose writing stopped half-way is a phantom, not a broken node.
    return registry::setDword(key, kPresent, present ? 1 : 0);
}

}  // namespace

std::vector<std::string> propertyStrings(const registry::Value& value) {
    std::vector<std::string> out;
    if (value.type == registry::kString || value.type == registry::kExpandString) {
        std::string_view text(value.data);
        out.emplace_back(text.substr(0, text.find('\0')));
        return out;
    }
    if (value.type != registry::kMultiString) return out;
    size_t pos = 0;
    while (pos < value.data.size()) {
        size_t end = value.data.find('\0', pos);
        if (end == std::string::npos) end = value.data.size();
        if (end == pos) break;  // an empty entry ends the list
        out.push_back(value.data.substr(pos, end - pos));
        pos = end + 1;
    }
    return out;
}

registry::Value multiString(const std::vector<std::string>& entries) {
    registry::Value value{registry::kMultiString, {}};
    for (const std::string& entry : entries) {
        value.data += entry;
        value.data += '\0';
    }
    value.data += '\0';
    return value;
}

std::string deviceKey(std::string_view instanceId) {
    int parts = 0;
    size_t pos = 0;
    while (true) {
        size_t cut = instanceId.find('\\', pos);
        std::string_view part =
            instanceId.substr(pos, cut == std::string_view::npos ? cut : cut - pos);
        if (part.empty() || ascii::trim(part).size() != part.size()) return {};
        ++parts;
        if (cut == std::string_view::npos) break;
        pos = cut + 1;
    }
    return parts == 3 ? joinKey(kEnumKey, instanceId) : std::string();
}

int addDevice(const DeviceRecord& record) {
    std::string key = deviceKey(record.instanceId);
    if (key.empty()) return win::kInvalidParameter;
    int err = registry::deleteKey(key);
    if (err != win::kSuccess && err != win::kFileNotFound) return err;
    DeviceInfo device;
    device.instanceId = record.instanceId;
    auto text = [](const std::string& s) { return registry::Value{registry::kString, s}; };
    device.properties[Property::kClassGuid] = text(record.classGuid);
    device.properties[Property::kClass] = text(record.className);
    if (!record.hardwareIds.empty()) {
        device.properties[Property::kHardwareId] = multiString(record.hardwareIds);
    }
    if (!record.physicalDeviceObjectName.empty()) {
        device.properties[Property::kPhysicalDeviceObjectName] =
            text(record.physicalDeviceObjectName);
    }
    if (!record.service.empty()) device.properties[Property::kService] = text(record.service);
    return writeDevice(key, device, record.present);
}

int DeviceSetup::listDevices(bool includeNonPresent, DeviceInfoList& out) {
    out = DeviceInfoList{};
    std::vector<std::string> enumerators;
    int err = registry::listSubkeys(kEnumKey, enumerators);
    if (err == win::kFileNotFound) return win::kSuccess;  // no device recorded yet
    if (err != win::kSuccess) return err;
    for (const std::string& enumerator : enumerators) {
        std::string enumeratorKey = joinKey(kEnumKey, enumerator);
        std::vector<std::string> names;
        if (registry::listSubkeys(enumeratorKey, names) != win::kSuccess) continue;
        for (const std::string& name : names) {
            std::vector<std::string> instances;
            if (registry::listSubkeys(joinKey(enumeratorKey, name), instances) != win::kSuccess) {
                continue;
            }
            for (const std::string& instance : instances) {
                std::string id = enumerator + '\\' + name + '\\' + instance;
                if (deviceKey(id).empty()) continue;
                DeviceInfo device;
                bool present = false;
                if (readDevice(id, device, present) != win::kSuccess) continue;
                if (present || includeNonPresent) out.devices.push_back(std::move(device));
            }
        }
    }
    return win::kSuccess;
}

int DeviceSetup::getProperty(const DeviceInfo& device, Property property, registry::Value& out) {
    auto found = device.properties.find(property);
    if (found == device.properties.end()) return win::kInvalidData;
    out = found->second;
    return win::kSuccess;
}

int DeviceSetup::nodeStatus(const DeviceInfo& device) {
    std::string key = deviceKey(device.instanceId);
    uint32_t present = 0;
    if (key.empty() || registry::getDword(key, kPresent, present) != win::kSuccess ||
        present == 0) {
        return kNoSuchDevnode;
    }
    return win::kSuccess;
}

int DeviceSetup::infClass(const std::string& infPath, std::string& className,
                          std::string& classGuid) {
    inf::InfFile inf;
    if (int err = loadInf(infPath, inf)) return err;
    std::optional<std::string> guid = inf.value("Version", "ClassGUID");
    std::optional<std::string> name = inf.value("Version", "Class");
    if (!guid || !name) return kErrorInvalidClass;
    classGuid = inf.expand(*guid);
    className = inf.expand(*name);
    if (!isGuid(classGuid) || className.empty()) return kErrorInvalidClass;
    return win::kSuccess;
}

int DeviceSetup::createDeviceInfoList(std::string_view classGuid, DeviceInfoList& out) {
    if (!classGuid.empty() && !isGuid(classGuid)) return win::kInvalidParameter;
    out = DeviceInfoList{};
    out.classGuid = std::string(classGuid);
    return win::kSuccess;
}

int DeviceSetup::createDeviceInfo(DeviceInfoList& list, std::string_view name, DeviceInfo& out) {
    if (!isPlainName(name)) return kErrorInvalidDevinstName;
    std::string upper = ascii::toUpper(name);
    std::string parent = joinKey(joinKey(kEnumKey, kGeneratedEnumerator), upper);
    std::vector<std::string> taken;
    registry::listSubkeys(parent, taken);  // a missing key: no instance taken yet
    auto isTaken = [&](const std::string& id) {
        for (const std::string& t : taken) {
            if (ascii::equalsIgnoreCase(t, id)) return true;
        }
        for (const DeviceInfo& d : list.devices) {
            if (ascii::equalsIgnoreCase(
                    d.instanceId, std::string(kGeneratedEnumerator) + '\\' + upper + '\\' + id)) {
                return true;
            }
        }
        return false;
    };
    for (int number = 0; number <= 9999; ++number) {
        char instance[8];
        std::snprintf(instance, sizeof instance, "%04d", number);
        if (isTaken(instance)) continue;
        out = DeviceInfo{};
        out.instanceId = std::string(kGeneratedEnumerator) + '\\' + upper + '\\' + instance;
        out.properties[Property::kClass] = registry::Value{registry::kString, std::string(name)};
        if (!list.classGuid.empty()) {
            out.properties[Property::kClassGuid] =
                registry::Value{registry::kString, list.classGuid};
        }
        list.devices.push_back(out);
        return win::kSuccess;
    }
    return kErrorDevinstAlreadyExists;
}

int DeviceSetup::setProperty(DeviceInfo& device, Property property, const registry::Value& value) {
    if (device.registered) {
        std::string key = deviceKey(device.instanceId);
        if (key.empty()) return kErrorNoSuchDevinst;
        if (int err = registry::setValue(key, valueName(property), value)) return err;
    }
    device.properties[property] = value;
    return win::kSuccess;
}

int DeviceSetup::registerDevice(DeviceInfo& device) {
    std::string key = deviceKey(device.instanceId);
    if (key.empty()) return kErrorNoSuchDevinst;
    if (device.registered || keyExists(key)) return kErrorDevinstAlreadyExists;
    if (int err = writeDevice(key, device, true)) {
        registry::deleteKey(key);
        return err;
    }
    device.registered = true;
    return win::kSuccess;
}

int DeviceSetup::removeDevice(const DeviceInfo& device) {
    std::string key = deviceKey(device.instanceId);
    if (key.empty() || !device.registered) return kErrorNoSuchDevinst;
    int err = registry::deleteKey(key);
    return err == win::kFileNotFound ? kErrorNoSuchDevinst : err;
}

int DeviceSetup::updateDriverForPlugAndPlayDevices(std::string_view hardwareId,
                                                   const std::string& infPath,
                                                   bool& restartNeeded) {
    restartNeeded = false;
    if (hardwareId.empty()) return win::kInvalidParameter;
    inf::InfFile inf;
    if (int err = loadInf(infPath, inf)) return err;
    std::optional<std::string> installSection = installSectionFor(inf, hardwareId);
    if (!installSection || installSection->empty()) return kErrorNoDriverSelected;
    ServiceInstall service;
    if (int err = associatedService(inf, *installSection, service)) return err;
    std::string program;
    if (int err = driverProgram(inf, infPath, service, program)) return err;

    DeviceInfoList present;
    if (int err = listDevices(false, present)) return err;
    std::vector<DeviceInfo*> targets;
    for (DeviceInfo& device : present.devices) {
        if (hasIdIgnoringCase(device, hardwareId)) targets.push_back(&device);
    }
    if (targets.empty()) return kErrorNoSuchDevinst;

    std::string serviceKey = joinKey(kServicesKey, service.name);
    std::string previous;
    restartNeeded = registry::getString(serviceKey, "ImagePath", previous) == win::kSuccess &&
                    previous != program;
    const std::string& section = service.section;
    auto setting = [&](std::string_view key) {
        return section.empty() ? std::nullopt : inf.value(section, key);
    };
    if (int err = registry::setValue(serviceKey, "ImagePath",
                                     registry::Value{registry::kExpandString, program})) {
        return err;
    }
    int err = registry::setDword(serviceKey, "Type", numberOr(setting("ServiceType"), 1));
    if (err == 0) err = registry::setDword(serviceKey, "Start", numberOr(setting("StartType"), 3));
    if (err == 0) {
        err = registry::setDword(serviceKey, "ErrorControl", numberOr(setting("ErrorControl"), 1));
    }
    if (std::optional<std::string> display = setting("DisplayName"); display && err == 0) {
        err = registry::setString(serviceKey, "DisplayName", inf.expand(*display));
    }
    if (std::optional<std::string> group = setting("LoadOrderGroup"); group && err == 0) {
        err = registry::setString(serviceKey, "Group", inf.expand(*group));
    }
    if (err != 0) return err;
    for (DeviceInfo* device : targets) {
        if (int err = setProperty(*device, Property::kService,
                                  registry::Value{registry::kString, service.name})) {
            return err;
        }
    }
    return win::kSuccess;
}

}  // namespace ombrix::devices
