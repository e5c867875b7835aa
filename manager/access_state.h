#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the user of the management program may do, evaluated from rights, settings and which
// files can be changed, and the commands that therefore vanish from menus and toolbar.
namespace ombrix::mng {

struct AccessState {
    bool mayInsertEject = false;
    bool mayChangeDrives = false;
    bool mayAdminister = false;
    bool htmlHomePage = false;
    bool adminMode = false;
    bool useLocalImages = false;
    bool canChangeLocalTree = false;
    bool canChangeLocalCatalogue = false;
    bool canAccessConfigPath = false;
    bool useGlobalImages = false;
    bool canChangeGlobalCatalogue = false;
    bool canChangeGlobalTree = false;
    bool canChangeAdminFile = false;
    bool haveCommandLineTool = false;

    bool anyTreeWritable() const { return canChangeLocalTree || canChangeGlobalTree; }
    bool anyCatalogueWritable() const {
        return canChangeLocalCatalogue || canChangeGlobalCatalogue;
    }
    bool anythingWritable() const { return anyTreeWritable() || anyCatalogueWritable(); }
    friend bool operator==(const AccessState&, const AccessState&) = default;
};

// What the evaluation asks of the system; tests answer from tables.
struct AccessProbes {
    std::function<bool(int right)> hasRight;
    std::function<bool()> adminMode;
    // A user setting; empty when unset.
    std::function<std::string(std::string_view key)> setting;
    // The user's configuration folder, where the local tree file lies.
    std::function<std::string()> userConfigFolder;
    // The global files by their names in the global store; nothing when the store names none.
    std::function<std::optional<std::string>()> globalImageFile;
    std::function<std::optional<std::string>()> globalTreeFile;
    std::function<std::optional<std::string>()> adminFile;
    std::function<bool(const std::string& path)> exists;
    // Found and passing the client library's check for write access.
    std::function<bool(const std::string& path)> writable;
    // A program of the installation folder ("OXTMode.exe"), looked up as programs are.
    std::function<bool(std::string_view program)> installed;
    // One line of the program's log at a detail level (0 to 2).
    std::function<void(int level, const std::string& line)> log;
};

AccessState evaluateAccess(const AccessProbes& probes);

// The commands to remove, in the order they are found (a command may appear twice).
std::vector<int> disabledCommands(const AccessState& access, const AccessProbes& probes);

}  // namespace ombrix::mng
