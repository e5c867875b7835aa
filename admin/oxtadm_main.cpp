// OXTAdm: the administration window of the server pool. Shows the pool's servers, their
// sessions and the sessions' drives; inserts and ejects images in any session, changes a
// session's drive letters and manages the server pools.
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <QAction>
#include <QStatusBar>
#include <QTimer>
#include <QTreeWidget>
#include <QTreeWidgetItemIterator>
#include "admin/admin_channels.h"
#include "admin/admin_model.h"
#include "admin/admin_system.h"
#include "admin/server_pools.h"
#include "admin/ui/admin_texts.h"
#include "admin/ui/admin_window.h"
#include "common/install_folder.h"
#include "common/language_resources.h"
#include "common/listed_images.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "platform/ascii.h"
#include "platform/host_name.h"
#include "platform/message_bus.h"
#include "platform/named_mutex.h"
#include "platform/registry.h"
#include "platform/shell_execute.h"
#include "platform/ui/front_requests.h"
#include "platform/ui/user_interface.h"

namespace {

namespace admin = ombrix::admin;
namespace ui = ombrix::ui;

// The program's settings: the window's state and "UpdateIntervall".
constexpr std::string_view kSettingsKey = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\OXTADM\\Settings";
// The server pools the program knows: one string value per pool, named by the pool's name and
// holding the pool's folder.
constexpr std::string_view kPoolsKey = "HKCU\\SOFTWARE\\Norvane\\Ombrix TS v5\\OXTADM\\Pools";
// The image password's buffer, as the client library fills it.
constexpr int kPasswordSize = 29;

void printUsage() {
    std::puts(
        "usage: OXTAdm\n"
        "The administration window of the server pool: the pool's servers, the sessions on\n"
        "each server with their users and the virtual drives of each session with the image\n"
        "each one holds. From it images are inserted and ejected in any session, a session's\n"
        "drive letters are changed, server pools are managed, the profile editor and the\n"
        "settings program are started. Needs the administration right; one window runs per\n"
        "session, a second start brings it to the front.\n"
        "  --log-tree  write each refresh and the tree it shows to the output");
}

void tell(const std::string& text, ui::Icon icon) {
    ui::userInterface().messageBox(admin::kAdminTitle, text, icon, ui::Buttons::Ok, {});
}

std::string globalValue(const std::string& key) {
    std::vector<char> buffer(8000);
    if (EnvGetGlobalValue(key.c_str(), buffer.data(), static_cast<int>(buffer.size())) != 1)
        return {};
    return buffer.data();
}

std::string ownServerName() {
    const std::string name = globalValue("OmxServerName");
    return name.empty() ? ombrix::platform::hostName() : name;
}

// The servers of the pool as the global store lists them; this server is the one with the own
// name or one of the own addresses.
std::vector<admin::ServerEntry> serverList() {
    std::vector<std::string> addresses;
    ombrix::platform::hostAddresses(addresses);
    return admin::readServerList(
        [](const std::string& key) { return globalValue(key); }, ownServerName(), addresses,
        [](const std::string& name) {
            std::vector<std::string> found;
            if (!ombrix::platform::resolveHost(name, found) || found.empty()) return std::string();
            return found.front();
        });
}

// Every published catalogue entry, described by the catalogue or else by its file name.
std::vector<admin::ImageChoice> catalogueImages() {
    std::vector<admin::ImageChoice> images;
    for (const ombrix::client::ListedImage& listed : ombrix::client::publishedImages()) {
        images.push_back({listed.description.empty()
                              ? std::filesystem::path(listed.path).stem().string()
                              : listed.description,
                          listed.path});
    }
    return images;
}

std::optional<std::string> imagePassword(const std::string& image) {
    char password[kPasswordSize] = "";
    if (OMXVerifyPWD(image.c_str(), password, sizeof password) == 0) return std::nullopt;
    return std::string(password);
}

std::string errorText(int code) {
    char text[512] = "";
    OMXMapErrorCode(code, text, sizeof text);
    return text;
}

// The settings program, told to edit the global settings.
void startSettingsProgram() {
    const std::string install = ombrix::client::installFolder();
    const std::filesystem::path program =
        install.empty() ? std::filesystem::path()
                        : ombrix::platform::findProgramFile(
                              std::filesystem::path(install) / "system", "OXTSet.exe");
    EnvSetUserValue("OmxGlobalSettings", "1");
    const long started = program.empty() ? ombrix::platform::kShellFileNotFound
                                         : ombrix::platform::shellOpen(program.string(), "", "");
    if (started <= 32) {
        EnvSetUserValue("OmxGlobalSettings", "");
        tell("Cannot start the settings program. Please check the installation.", ui::Icon::Error);
    }
}

void editRights() {
    if (OMXTSEditRights(nullptr) != 0) {
        tell("Cannot start the profile editor. Please check the installation.", ui::Icon::Error);
    }
}

int updateInterval() {
    uint32_t seconds = 0;
    if (ombrix::registry::getDword(kSettingsKey, "UpdateIntervall", seconds) != 0 || seconds == 0)
        return 30;
    return static_cast<int>(seconds);
}

std::vector<admin::KnownPool> knownPools() {
    std::vector<std::pair<std::string, ombrix::registry::Value>> values;
    std::vector<admin::KnownPool> pools;
    if (ombrix::registry::listValues(kPoolsKey, values) != 0) return pools;
    for (const auto& [name, value] : values) {
        if (value.type == ombrix::registry::kString && !value.data.empty())
            pools.push_back({name, value.data});
    }
    return pools;
}

// Writes the list anew; two pools of one name are kept apart by a number after the second.
void savePools(const std::vector<admin::KnownPool>& pools) {
    ombrix::registry::deleteKey(kPoolsKey);
    ombrix::registry::createKey(kPoolsKey);
    std::vector<std::string> used;
    for (const admin::KnownPool& pool : pools) {
        std::string name = pool.name.empty() ? pool.folder : pool.name;
        auto taken = [&used](const std::string& n) {
            for (const std::string& u : used) {
                if (ombrix::ascii::equalsIgnoreCase(u, n)) return true;
            }
            return false;
        };
        for (int n = 2; taken(name); ++n)
            name = pool.name + " (" + std::to_string(n) + ")";
        used.push_back(name);
        ombrix::registry::setString(kPoolsKey, name, pool.folder);
    }
}

// The folder of the known pool whose file lists the server, "" when none does.
std::optional<std::string> poolOf(const std::string& server) {
    for (const admin::KnownPool& pool : knownPools()) {
        std::string error;
        const auto rows = admin::readPool(pool.folder, {}, error);
        if (!rows) continue;
        for (const admin::PoolRow& row : *rows) {
            if (row.inFile && ombrix::ascii::equalsIgnoreCase(row.server, server))
                return pool.folder;
        }
    }
    return std::string();
}

admin::AdminBackend systemBackend(admin::AdminChannels& channels) {
    admin::AdminBackend b;
    b.global = globalValue;
    b.setGlobal = [](const std::string& key, const std::string& value) {
        EnvSetGlobalValue(key.c_str(), value.c_str());
    };
    b.ownServerName = ownServerName;
    b.images = catalogueImages;
    b.password = imagePassword;
    b.updateInterval = updateInterval;
    b.setUpdateInterval = [](int seconds) {
        ombrix::registry::setDword(kSettingsKey, "UpdateIntervall", static_cast<uint32_t>(seconds));
    };
    b.editRights = editRights;
    b.startSettings = startSettingsProgram;

    b.pools.load = knownPools;
    b.pools.save = savePools;
    b.pools.setter.setSharedPath = [&channels](const std::string& server, int port,
                                               const std::string& folder, bool own,
                                               std::string& reason) {
        return channels.setSharedPath(admin::ServerEntry{server, 0, port, false}, folder, own,
                                      reason);
    };
    b.pools.setter.poolOf = poolOf;
    b.pools.setter.settingsFile = [] {
        const std::string folder = globalValue("OMXServerPathNet");
        return folder.empty() ? std::string()
                              : (std::filesystem::path(folder) / "Oxtenv.dat").string();
    };

    b.servers = serverList;
    b.sessions = [&channels](const admin::ServerEntry& server) {
        return channels.sessions(server);
    };
    b.insert = [&channels](const admin::SessionTarget& target, char letter,
                           const std::string& image, const std::string& password,
                           std::string& reason) {
        return channels.insert(target, letter, image, password, reason);
    };
    b.eject = [&channels](const admin::SessionTarget& target, char letter, std::string& reason) {
        return channels.eject(target, letter, reason);
    };
    b.driveLetters = [&channels](const admin::SessionTarget& target) {
        return channels.driveLetters(target);
    };
    b.setDriveLetters = [&channels](const admin::SessionTarget& target, const std::string& letters,
                                    bool allSessions) {
        return channels.setDriveLetters(target, letters, allSessions);
    };
    b.ownDriveOf = [](const std::string& image) { return OMXGetMountDrive(image.c_str()); };
    b.ejectOwn = [](char letter, std::string& reason) {
        const int code = OMXEjectPlayer(letter);
        if (code != 0) reason = errorText(code);
        return code;
    };
    return b;
}

admin::StateStore stateStore() {
    admin::StateStore store;
    store.get = [](std::string_view name) -> std::optional<int> {
        uint32_t value = 0;
        if (ombrix::registry::getDword(kSettingsKey, name, value) != 0) return std::nullopt;
        return static_cast<int>(value);
    };
    store.set = [](std::string_view name, int value) {
        ombrix::registry::setDword(kSettingsKey, name, static_cast<uint32_t>(value));
    };
    return store;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        printUsage();
        return 0;
    }
    // For scripts and tests: each refresh and the tree as it then shows go to the output.
    const bool logTree = argc == 2 && std::strcmp(argv[1], "--log-tree") == 0;

    // A start while another is still starting ends at once, without a word.
    ombrix::platform::NamedMutex starting("_OXT_ADMIN_MUTEX_");
    if (starting.lock(0) == ombrix::platform::NamedMutex::WaitResult::TimedOut) return 0;
    // A window of this session already open comes to the front instead.
    ombrix::platform::NamedMutex running("OXTAdmWindow");
    if (!ombrix::ui::firstInSession(running, 0, admin::kBringToFront)) return 0;

    QApplication app(argc, argv);
    ombrix::strings::LanguageResources language("OXTADM", 1, [] {
        tell(
            "The language file has the wrong version - using build in language. Please "
            "download the current language files.",
            ui::Icon::Warning);
    });
    (void)language.helpFile();  // a wrong version is told now, before the window
    admin::setAdminTextSource([&language](int id) { return language.text(id); });

    if (OMXTSHasRight(8) == 0) {
        tell("Access denied", ui::Icon::Error);
        return 1;
    }

    admin::AdminChannels channels(admin::systemChannelPorts());
    const admin::StateStore store = stateStore();
    int code = 0;
    {
        admin::AdminWindow window(systemBackend(channels));
        // Without the bus a later start cannot bring this window forward; the window works on.
        if (!window.listenOnBus()) {
            const std::string text = admin::adminText(admin::text::kNoNotifications);
            std::fprintf(stderr, "OXTAdm: %s\n", text.c_str());
            window.statusBar()->showMessage(QString::fromStdString(text));
        }
        window.showPlaced(store);
        QObject::connect(&app, &QApplication::aboutToQuit,
                         [&window, &store] { window.savePlacement(store); });
        starting.unlock();
        QTimer treeLog;
        std::string lastTree;
        if (logTree) {
            if (QAction* refresh = window.action(admin::command::kRefresh)) {
                QObject::connect(refresh, &QAction::triggered, [] {
                    std::printf("refresh\n");
                    std::fflush(stdout);
                });
            }
            QObject::connect(&treeLog, &QTimer::timeout, [&window, &lastTree] {
                std::string text;
                for (QTreeWidgetItemIterator it(window.tree()); *it != nullptr; ++it)
                    text += "  " + (*it)->text(0).toStdString() + "\n";
                if (text == lastTree) return;
                lastTree = text;
                std::printf("tree\n%s", text.c_str());
                std::fflush(stdout);
            });
            treeLog.start(300);
        }
        code = app.exec();
    }
    admin::setAdminTextSource({});
    return code;
}
