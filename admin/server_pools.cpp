#include "admin/server_pools.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "common/inifile.h"
#include "platform/ascii.h"
#include "platform/network_folder.h"
#include "platform/text_printf.h"

namespace ombrix::admin {
namespace {

namespace fs = std::filesystem;
using platform::format;

std::string poolFile(const std::string& folder) {
    return (fs::path(folder) / kPoolFile).string();
}

// The server sections of a loaded pool file, their names in upper case with their ports.
std::vector<PoolRow> serversOf(const CIniFile& file) {
    std::vector<std::string> sections;
    file.GetSectionNames(sections);
    std::vector<PoolRow> rows;
    for (const std::string& section : sections) {
        const std::string name =
            section.size() >= 2 ? section.substr(1, section.size() - 2) : section;
        if (ascii::equalsIgnoreCase(name, kPoolSection)) continue;
        std::string port;
        file.GetValue(name, "OmxServerPort", port);
        rows.push_back({ascii::toUpper(name), std::atoi(port.c_str()) & 0xFFFF, true, true});
    }
    return rows;
}

}  // namespace

std::optional<std::string> poolFolderProblem(const std::string& folder, bool creating) {
    std::error_code ec;
    // The folder as given, without a closing "/", must be the name the system resolves it to.
    std::string given = folder;
    while (given.size() > 1 && given.back() == '/')
        given.pop_back();
    const bool named =
        !given.empty() && given.front() == '/' &&
        (platform::onNetworkFileSystem(given) || fs::weakly_canonical(given, ec).string() == given);
    if (!named)
        return std::string("Pool definition files have to have a path in UNC naming conventions");
    if (!fs::is_directory(folder, ec)) return folder + " is not a valid directory";
    const bool exists = fs::exists(poolFile(folder), ec);
    if (creating && exists)
        return format("A pool definition file already exists in path '%s'", folder.c_str());
    if (!creating && !exists)
        return format("Cannot find pool definition file in path '%s'", folder.c_str());
    return std::nullopt;
}

std::optional<std::vector<PoolRow>> readPool(const std::string& folder,
                                             const std::vector<ServerEntry>& known,
                                             std::string& error) {
    CIniFile file(poolFile(folder));
    if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) {
        error = "Cannot read pool definition file";
        return std::nullopt;
    }
    file.Close();
    std::vector<PoolRow> rows = serversOf(file);
    for (const ServerEntry& server : known) {
        const bool listed = std::any_of(rows.begin(), rows.end(), [&](const PoolRow& row) {
            return ascii::equalsIgnoreCase(row.server, server.name);
        });
        if (!listed) rows.push_back({ascii::toUpper(server.name), server.port, false, false});
    }
    return rows;
}

std::string poolName(const std::string& folder) {
    CIniFile file(poolFile(folder));
    if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) return {};
    std::string name;
    file.GetValue(kPoolSection, "Pool_Name", name);
    return name;
}

bool setPoolName(const std::string& folder, const std::string& name) {
    CIniFile file(poolFile(folder));
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return false;
    return file.SetValue(kPoolSection, "Pool_Name", name) && file.Save() == 0;
}

bool deletePool(const std::string& folder, std::string& message) {
    const std::string path = poolFile(folder);
    {
        CIniFile file(path);
        if (file.OpenAndLoad(false, CIniFile::kAttempts) != 0) {
            message = "Cannot read pool definition file";
            return false;
        }
        if (!serversOf(file).empty()) {
            message =
                "The pool definition file is not empty.\nYou can delete only empty pool "
                "definition files.";
            return false;
        }
    }
    if (::unlink(path.c_str()) != 0) {
        message = format("Error deleting pool definition file\nError code: %d\"", errno);
        return false;
    }
    return true;
}

bool PoolSetter::removeServer(const std::string& folder, PoolRow& row) {
    auto editFile = [&](bool put) {
        CIniFile file(poolFile(folder));
        if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return false;
        const bool done = put ? file.SetValue(row.server, "OmxServerPort", std::to_string(row.port))
                              : file.RemoveSection(row.server);
        return done && file.Save() == 0;
    };
    if (!editFile(false)) {
        ports_.tell(
            format("The server '%s' cannot be removed from the pool definition file\nin "
                   "path '%s'",
                   row.server.c_str(), folder.c_str()));
        return false;
    }
    std::string reason;
    if (ports_.setSharedPath(row.server, row.port, folder, true, reason) != 0) {
        ports_.tell(reason.empty()
                        ? format("Error while communicating with server '%s'", row.server.c_str())
                        : format("Error while communicating with server '%s'\nReason: '%s'",
                                 row.server.c_str(), reason.c_str()));
        if (!ports_.ask(format("Remove the server '%s' from the pool definition file in '%s' "
                               "anyway?",
                               row.server.c_str(), folder.c_str()))) {
            editFile(true);
            return false;
        }
    }
    row.inFile = false;
    return true;
}

bool PoolSetter::addServer(const std::string& folder, PoolRow& row) {
    std::error_code ec;
    // A new pool starts with this server's shared settings.
    const std::string settings = ports_.settingsFile ? ports_.settingsFile() : std::string();
    if (!settings.empty() && fs::exists(settings, ec)) {
        fs::copy_file(settings, fs::path(folder) / "Oxtenv.dat", fs::copy_options::skip_existing,
                      ec);
    }
    const std::optional<std::string> oldPool = ports_.poolOf(row.server);
    if (!oldPool) {
        ports_.tell(format("Cannot determine path to the pool definition file for server '%s'",
                           row.server.c_str()));
        return false;
    }
    auto editFile = [&](const std::string& where, bool put) {
        CIniFile file(poolFile(where));
        if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return false;
        const bool done = put ? file.SetValue(row.server, "OmxServerPort", std::to_string(row.port))
                              : file.RemoveSection(row.server);
        return done && file.Save() == 0;
    };
    const bool leaves = !oldPool->empty() && fs::exists(poolFile(*oldPool), ec) &&
                        fs::weakly_canonical(*oldPool, ec) != fs::weakly_canonical(folder, ec);
    if (leaves && !editFile(*oldPool, false)) {
        ports_.tell(
            format("The server '%s' cannot be removed from the pool definition file\nin "
                   "path '%s'",
                   row.server.c_str(), oldPool->c_str()));
        return false;
    }
    if (!editFile(folder, true)) {
        if (leaves) editFile(*oldPool, true);
        ports_.tell(format("Cannot add server '%s' to the pool definition file\nin path '%s'",
                           row.server.c_str(), folder.c_str()));
        return false;
    }
    std::string reason;
    if (ports_.setSharedPath(row.server, row.port, folder, false, reason) != 0) {
        editFile(folder, false);
        if (leaves) editFile(*oldPool, true);
        ports_.tell(reason.empty()
                        ? format("Error while communicating with server '%s'", row.server.c_str())
                        : format("Error while communicating with server '%s'\nReason: '%s'",
                                 row.server.c_str(), reason.c_str()));
        return false;
    }
    row.inFile = true;
    return true;
}

bool PoolSetter::apply(const std::string& folder, std::vector<PoolRow>& rows) {
    bool all = true;
    for (PoolRow& row : rows) {
        if (row.inFile && !row.checked) {
            all &= removeServer(folder, row);
        } else if (!row.inFile && row.checked) {
            all &= addServer(folder, row);
        }
        row.checked = row.inFile;
    }
    return all;
}

}  // namespace ombrix::admin
