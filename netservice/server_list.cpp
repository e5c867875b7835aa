// The server list of the pool: publishing the servers with what they share with this one, and
// this server's own section (its port, leaving the pool).

#include <filesystem>
#include <vector>

#include "common/inifile.h"
#include "log/oxtlog.h"
#include "netservice/global_values.h"
#include "netservice/shared_files.h"
#include "platform/ascii.h"
#include "platform/host_name.h"
#include "platform/network_folder.h"
#include "platform/text_printf.h"

using netsvc::DeleteGlobal;
using netsvc::GlobalLock;
using netsvc::GlobalValue;
using netsvc::SetGlobal;

namespace {

constexpr const char* kPoolSection = "_OXT_SERVER_POOL_NAME_SECTION_";
constexpr long kMaxServers = 100000;

// Folder keys a server may share with this one, and the flag each sets.
struct SharedFolder {
    const char* key;
    int flag;
};
constexpr SharedFolder kSharedFolders[] = {
    {"OmxConfigPathNet", 4}, {"OmxTreePathNet", 2},     {"OMXServerPathNet", 32},
    {"OmxAdmPathNet", 16},   {"OMXSecurityPathNet", 8},
};

long publishedServers() {
    long count = std::atol(GlobalValue("OMXServer").c_str());
    return count < 0 ? 0 : (count > kMaxServers ? kMaxServers : count);
}

}  // namespace

int CSharedFiles::CreateDefaultServerList(const std::string& path) {
    CIniFile file(path);
    if (int rc = file.OpenAndLoad(true, CIniFile::kAttempts); rc != 0) return rc;
    std::vector<std::string> names;
    if (file.GetSectionNames(names) > 0) return 0;  // written by another server meanwhile
    file.SetValue(kPoolSection, "Pool_Name", ombrix::platform::hostName());
    std::string server = GlobalValue("OmxServerName");
    if (server.empty()) server = ombrix::platform::hostName();
    for (const char* key : {"OmxConfigPathNet", "OmxTreePathNet", "OmxAdmPathNet",
                            "OMXSecurityPathNet", "OmxServerPort"}) {
        file.SetValue(server, key, GlobalValue(key));
    }
    return file.Save();
}

void CSharedFiles::ClearServerValues() {
    std::lock_guard guard(lock_);
    GlobalLock global(kLockGlobalMs);
    long before = publishedServers();
    for (long n = 0; n <= before; ++n)
        DeleteGlobal("Server_" + std::to_string(n));
    DeleteGlobal("OMXServer");
    DeleteGlobal("OMXServerFileNet");
    DeleteGlobal("Pool_Name");
}

bool CSharedFiles::ReadServerFile() {
    std::lock_guard guard(lock_);
    auto path = PathOf(kServerList);
    if (!path) {
        fail(kServerList, "Did not get OMXServerPathNet");
        return false;
    }
    std::error_code ec;
    if (!WriteTimeOf(*path) || std::filesystem::file_size(*path, ec) == 0 || ec) {
        CreateDefaultServerList(*path);
    }
    CIniFile file(*path);
    if (int rc = file.OpenAndLoad(false, CIniFile::kAttempts); rc != 0) {
        fail(kServerList,
             ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.Descriptor());
    file.Close();

    std::vector<std::string> sections;
    file.GetSectionNames(sections);
    std::vector<std::string> servers;
    for (const std::string& section : sections) {
        std::string name = section.size() >= 2 ? section.substr(1, section.size() - 2) : section;
        if (ombrix::ascii::equalsIgnoreCase(name, kPoolSection)) continue;
        int flags = 0;
        for (const SharedFolder& folder : kSharedFolders) {
            std::string theirs;
            if (file.GetValue(name, folder.key, theirs) &&
                ombrix::ascii::equalsIgnoreCase(theirs, GlobalValue(folder.key))) {
                flags |= folder.flag;
            }
        }
        std::string port;
        file.GetValue(name, "OmxServerPort", port);
        int number = static_cast<int>(std::strtoul(port.c_str(), nullptr, 10) & 0xFFFF);
        servers.push_back(ombrix::platform::format("%s|%d|%d", name.c_str(), flags, number));
    }
    std::string pool;
    if (file.GetValue(kPoolSection, "Pool_Name", pool)) {
        SetGlobal("Pool_Name", pool);
    } else {
        DeleteGlobal("Pool_Name");
    }

    GlobalLock global(kLockGlobalMs);
    if (!global) {
        fail(kServerList, "Could not lock environment");
        return false;
    }
    long before = publishedServers();
    for (size_t i = 0; i < servers.size(); ++i)
        SetGlobal("Server_" + std::to_string(i + 1), servers[i]);
    for (long n = static_cast<long>(servers.size()) + 1; n <= before; ++n)
        DeleteGlobal("Server_" + std::to_string(n));
    SetGlobal("OMXServer", std::to_string(servers.size()));
    SetGlobal("OMXServerFileNet", *path);
    storeTime(kServerList, time);
    succeeded(kServerList);
    return true;
}

bool CSharedFiles::SetServerPort(uint32_t port) {
    std::lock_guard guard(lock_);
    std::string server = GlobalValue("OmxServerName");
    auto path = PathOf(kServerList);
    if (server.empty() || !path) return false;
    CIniFile file(*path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return false;
    if (!file.SetValue(server, "OmxServerPort", std::to_string(port & 0xFFFF))) return false;
    return file.Save() == 0;
}

bool CSharedFiles::RemoveServer() {
    std::lock_guard guard(lock_);
    std::string server = GlobalValue("OmxServerName");
    std::string folder = GlobalValue(FolderKey(kServerList));
    if (server.empty() || folder.empty()) return false;
    // A server list in a local folder belongs to this server alone: nothing to leave.
    if (!ombrix::platform::onNetworkFileSystem(folder)) return true;
    CIniFile file(folder + FileName(kServerList));
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) return false;
    file.RemoveSection(server);
    return file.Save() == 0;
}
