#include "tools/settings/omx_settings.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/inifile.h"
#include "outside/env/oxtenv.h"
#include "platform/registry.h"
#include "platform/shell_execute.h"

namespace ombrix::tools {
namespace {

constexpr const char* kUserSettingsKey = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\Settings";
constexpr size_t kRowOrderLimit = 40;
constexpr int kNotWritten = 1016;  // the registry's "could not write" code
constexpr const char* kNewGlobalFileName = "Oxtenv.dat";

std::optional<std::string> fromBuffer(int (*get)(const char*, char*, int), const std::string& key) {
    std::vector<char> buffer(4096);
    if (get(key.c_str(), buffer.data(), static_cast<int>(buffer.size())) != 1) return std::nullopt;
    return std::string(buffer.data());
}

// A whole decimal number as the private-profile reading takes it: leading digits, else 0.
int leadingNumber(const std::string& text) {
    return std::atoi(text.c_str());
}

}  // namespace

SettingsStorage systemSettingsStorage() {
    SettingsStorage storage;
    storage.setting = [](const std::string& key) { return fromBuffer(EnvGetSetting, key); };
    storage.userValue = [](const std::string& key) { return fromBuffer(EnvGetUserValue, key); };
    storage.setUserValue = [](const std::string& key, const std::string& value) {
        return EnvSetUserValue(key.c_str(), value.c_str()) == 1;
    };
    storage.setRegistryValue = [](const std::string& key, const std::string& value) {
        return registry::setString(kUserSettingsKey, key, value) == 0;
    };
    storage.globalFile = [] {
        const std::optional<std::string> folder = fromBuffer(EnvGetGlobalValue, "OmxConfigPathNet");
        if (!folder || folder->empty()) return std::string();
        // The file of any case, as the network service may have named it; a new one takes the
        // name the service publishes the pool's defaults from.
        const std::filesystem::path found =
            platform::findFileIgnoringCase(*folder, kGlobalFileName);
        if (!found.empty()) return found.string();
        return (std::filesystem::path(*folder) / kNewGlobalFileName).string();
    };
    return storage;
}

COmxBaseSettings::COmxBaseSettings(SettingsStorage storage) : storage_(std::move(storage)) {
    // Only the exact one-character "1" counts: the flag was read into a two-byte buffer.
    const auto flag = storage_.userValue ? storage_.userValue(kGlobalSettingsKey) : std::nullopt;
    global_ = flag && *flag == "1";
}

std::optional<std::string> COmxBaseSettings::read(const std::string& key) const {
    if (!global_) return storage_.setting ? storage_.setting(key) : std::nullopt;
    const std::string path = storage_.globalFile ? storage_.globalFile() : std::string();
    if (path.empty()) return std::nullopt;
    CIniFile file(path);
    if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) return std::string();
    std::string value;
    // A missing key reads as the empty default.
    if (!file.GetValue(kGlobalFileSection, key, value)) return std::string();
    return value;
}

int COmxBaseSettings::readNumber(const std::string& key, int fallback) const {
    const std::optional<std::string> text = read(key);
    if (!text) return fallback;
    if (global_) return leadingNumber(*text);
    return text->empty() ? fallback : leadingNumber(*text);
}

int COmxBaseSettings::write(const std::vector<std::pair<std::string, std::string>>& values) {
    if (global_) {
        const std::string path = storage_.globalFile ? storage_.globalFile() : std::string();
        if (path.empty()) return 3;  // the folder is not configured
        CIniFile file(path);
        if (int err = file.OpenAndLoad(true, CIniFile::kAttempts)) return err;
        for (const auto& [key, value] : values) {
            if (!file.SetValue(kGlobalFileSection, key, value)) return 87;
        }
        return file.Save();
    }
    for (const auto& [key, value] : values) {
        // The session store is where the programs read the values: not written is not saved.
        if (!storage_.setUserValue || !storage_.setUserValue(key, value)) return kNotWritten;
        // The registry copy is written when the user's key opens; a failure there loses nothing
        // the session store does not hold.
        if (storage_.setRegistryValue) storage_.setRegistryValue(key, value);
    }
    return 0;
}

COmxSettings::COmxSettings(SettingsStorage storage) : COmxBaseSettings(std::move(storage)) {
    if (auto home = storage_.setting ? storage_.setting("OmxHomePath") : std::nullopt)
        homePath = *home;
    if (auto text = read("OmxSettings")) applySettingsText(*text);
    if (auto style = read("OmxUseXPIcons")) newerIcons = leadingNumber(*style) == 1;
    if (auto code = read("OmxLanguage")) language = *code;
    trayKeyModifier = readNumber("OmxTrayKeyModifier", 0);
    trayKeyVirtualKey = readNumber("OmxTrayKeyVK", 0);
}

std::string COmxSettings::settingsText() const {
    std::string text;
    for (bool on : {cdDatabase, selectionProgram, trayIcon, tooltips, catalogueOverview})
        text += on ? '1' : '0';
    return text;
}

void COmxSettings::applySettingsText(const std::string& text) {
    if (text.size() <= 4) return;
    bool* fields[] = {&cdDatabase, &selectionProgram, &trayIcon, &tooltips, &catalogueOverview};
    for (size_t i = 0; i < 5 && i < text.size(); ++i)
        *fields[i] = text[i] == '1';
}

int COmxSettings::save() {
    if (!dirty()) return 0;
    const int err = write({{"OmxSettings", settingsText()},
                           {"OmxUseXPIcons", newerIcons ? "1" : "0"},
                           {"OmxLanguage", language},
                           {"OmxTrayKeyModifier", std::to_string(trayKeyModifier)},
                           {"OmxTrayKeyVK", std::to_string(trayKeyVirtualKey)}});
    if (err == 0) setDirty(false);
    return err;
}

COmxMNGSettings::COmxMNGSettings(SettingsStorage storage) : COmxBaseSettings(std::move(storage)) {
    if (auto text = read("OmxMngSettings")) applyOptionsText(*text);
    if (auto order = read("OmxMngROWOrder")) rowOrder = order->substr(0, kRowOrderLimit);
}

std::string COmxMNGSettings::optionsText() const {
    std::string text;
    for (bool on : options)
        text += on ? '1' : '0';
    return text;
}

void COmxMNGSettings::applyOptionsText(const std::string& text) {
    if (text.size() <= 6) return;
    for (size_t i = 0; i < options.size() && i < text.size(); ++i)
        options[i] = text[i] != '0';
}

int COmxMNGSettings::save() {
    if (!dirty()) return 0;
    const int err = write({{"OmxMngSettings", optionsText()},
                           {"OmxMngROWOrder", rowOrder.substr(0, kRowOrderLimit)}});
    if (err == 0) setDirty(false);
    return err;
}

}  // namespace ombrix::tools
