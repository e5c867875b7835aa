#include "tools/network_mode.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

#include "common/oxtcomm_admin.h"
#include "common/text_format.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "platform/registry.h"

namespace ombrix::tools {
namespace {

constexpr const char* kPlacementKey = "HKCU\\SOFTWARE\\Norvane\\Ombrix 4\\Settings";

std::string trimmedRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.pop_back();
    return text;
}

std::optional<std::string> storedSetting(const std::string& key) {
    std::vector<char> buffer(256);
    if (EnvGetSetting(key.c_str(), buffer.data(), static_cast<int>(buffer.size())) != 1)
        return std::nullopt;
    return std::string(buffer.data());
}

}  // namespace

std::string networkModeText(int id) {
    static const std::map<int, const char*> texts = {
        {modetext::kAbout, "About..."},
        {modetext::kPasswordsDiffer,
         "The two entries for \"new password\" did not match. Please enter the desired password "
         "again."},
        {modetext::kNormal, "Normal"},
        {modetext::kCentral, "Central"},
        {modetext::kAlwaysOnTop, "Always in the foreground"},
        {modetext::kNoAdminFolder,
         "The path for network configuration was not entered correctly. Please access the "
         "Ombrix Settings and enter the correct path under \"Network\"."},
        {modetext::kCaption, "Ombrix"},
        {modetext::kExitTip, "Ends the program"},
        {modetext::kPasswordTip,
         "Change the password required for\nswitching to the Ombrix\nCentral Network Mode."},
        {modetext::kModeTip,
         "Normal: every user may insert and eject images.\nCentral: this computer checks whether "
         "a user may insert or eject an image."},
        {modetext::kOtherComputer, "The Central Network mode is active on another computer (%s)."},
        {modetext::kWrongLanguage,
         "Wrong version of language file. Using the built-in language (English).\nPlease "
         "download the latest version of the desired language file for your Ombrix Settings."},
        {modetext::kLeavingCentral, "Note: Leaving central network mode!"},
    };
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

NetworkModePorts systemNetworkModePorts() {
    NetworkModePorts ports;
    ports.hasRight = [](int right) { return OMXTSHasRight(right) != 0; };
    ports.adminMode = [] { return OMXGetAdminMode(); };
    ports.adminComputer = [] {
        char name[100] = {};
        OMXGetAdminComputer(name, sizeof name);
        return std::string(name);
    };
    ports.adminFolder = [] {
        char folder[260] = {};
        if (EnvGetGlobalValue("OmxAdmPathNet", folder, sizeof folder) != 1) return std::string();
        return std::string(folder);
    };
    ports.adminFileExists = [] {
        char path[4096] = {};
        struct stat st {};
        return OMXGetAdminFileName(path, sizeof path) != 0 && ::stat(path, &st) == 0;
    };
    ports.enter = [] { return OMXEnterAdmin(); };
    ports.leave = [] { return OMXLeaveAdmin(); };
    ports.setPassword = [](const std::string& oldPassword, const std::string& newPassword) {
        return OMXSetAdminPWD(oldPassword.c_str(), newPassword.c_str());
    };
    return ports;
}

ModeStart networkModeStart(const NetworkModePorts& ports, std::string& message,
                           const std::function<std::string(int id)>& text) {
    if (!ports.hasRight || !ports.hasRight(8)) return ModeStart::EndSilently;
    if (ports.adminMode && ports.adminMode() == 2) {
        const std::string computer = ports.adminComputer ? ports.adminComputer() : std::string();
        message = strings::formatText(text(modetext::kOtherComputer), computer);
        return ModeStart::OtherComputer;
    }
    return ModeStart::Run;
}

bool adminFolderConfigured(const NetworkModePorts& ports) {
    return ports.adminFolder && !trimmedRight(ports.adminFolder()).empty();
}

NetworkModeController::NetworkModeController(NetworkModePorts ports) : ports_(std::move(ports)) {}

bool NetworkModeController::central() const {
    return ports_.adminMode && ports_.adminMode() == 1;
}

int NetworkModeController::modeText() const {
    return central() ? modetext::kCentral : modetext::kNormal;
}

bool NetworkModeController::needsNewPassword() const {
    return adminFolderConfigured(ports_) && ports_.adminFileExists && !ports_.adminFileExists();
}

void NetworkModeController::toggle() {
    if (central()) {
        if (ports_.leave && ports_.leave() != 0) entered_ = false;
    } else if (ports_.enter) {
        entered_ = ports_.enter() != 0;
    }
}

void NetworkModeController::leave() {
    // Entering is published by the network service a moment later; an end within that moment
    // waits for it, so that there is a mode to leave.
    for (int i = 0; i < kPublishWaits && entered_ && !central(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (central() && ports_.leave) ports_.leave();
    entered_ = false;
}

bool NetworkModeController::changePassword(const std::string& oldPassword,
                                           const std::string& newPassword,
                                           const std::string& again) {
    if (newPassword != again) return false;
    // The client library reports its own failures; the dialog closes either way.
    if (ports_.setPassword) ports_.setPassword(oldPassword, newPassword);
    return true;
}

void NetworkModeController::endByUser(const std::function<void()>& tell) {
    if (ended_) return;
    ended_ = true;
    if (!central() && !entered_) return;
    if (tell) tell();
    leave();
}

void NetworkModeController::endQuietly() {
    if (ended_) return;
    ended_ = true;
    leave();
}

PlacementStore systemPlacementStore() {
    PlacementStore store;
    store.read = storedSetting;
    store.write = [](const std::string& key, const std::string& value) {
        EnvSetUserValue(key.c_str(), value.c_str());
        registry::setString(kPlacementKey, key, value);
    };
    return store;
}

ModePlacement readPlacement(const PlacementStore& store) {
    ModePlacement placement;
    if (!store.read) return placement;
    const auto x = store.read("OmxModeX");
    const auto y = store.read("OmxModeY");
    if (x && y && !x->empty() && !y->empty()) {
        placement.x = std::atoi(x->c_str());
        placement.y = std::atoi(y->c_str());
    }
    if (const auto top = store.read("OmxModeTopWnd")) placement.topMost = top->starts_with('1');
    return placement;
}

void writePlacement(const PlacementStore& store, int x, int y, bool topMost) {
    if (!store.write) return;
    store.write("OmxModeX", std::to_string(x));
    store.write("OmxModeY", std::to_string(y));
    store.write("OmxModeTopWnd", topMost ? "1" : "0");
}

}  // namespace ombrix::tools
