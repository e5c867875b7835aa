// The shared files other than the catalogue and the server list: the tree file, the profile
// file, the administration file and the shared settings file; and what every reader shares.
#include "netservice/shared_files.h"
#include "netservice/protected_keys.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <thread>

#include "common/inifile.h"
#include "log/oxtlog.h"
#include "netservice/global_values.h"
#include "outside/env/oxtenv.h"
#include "platform/ascii.h"
#include "platform/locked_file.h"
#include "platform/text_printf.h"
#include "profiles/profile.h"

using netsvc::DeleteGlobal;
using netsvc::GlobalLock;
using netsvc::GlobalValue;
using netsvc::SetGlobal;
using ombrix::platform::FileAccess;
using ombrix::platform::LockedFile;

namespace {

constexpr int kTreeAttempts = 6;
constexpr size_t kMaxLine = 4095;
// Published tree lines and server entries are numbered from 1; older numbers beyond the new
// count are removed up to the count published last, never further than this.
constexpr long kMaxNumbered = 10000000;

struct FileInfo {
    const char* name;
    const char* folderKey;
};

constexpr FileInfo kFiles[CSharedFiles::kFileCount] = {
    {"OMXimg.dat", "OmxConfigPathNet"},    {"OMXTree.dat", "OmxTreePathNet"},
    {"oxtprof.dat", "OMXSecurityPathNet"}, {"OXTServ.dat", "OMXServerPathNet"},
    {"Oxtadm.dat", "OmxAdmPathNet"},       {"Oxtenv.dat", "OMXServerPathNet"},
};

long publishedCount(const char* key) {
    long count = std::atol(GlobalValue(key).c_str());
    return count < 0 ? 0 : (count > kMaxNumbered ? kMaxNumbered : count);
}

}  // namespace

CSharedFiles::CSharedFiles(Push push) : push_(std::move(push)) {}

const char* CSharedFiles::FileName(File file) {
    return kFiles[file].name;
}

const char* CSharedFiles::FolderKey(File file) {
    return kFiles[file].folderKey;
}

std::optional<std::string> CSharedFiles::PathOf(File file) {
    std::string folder = GlobalValue(FolderKey(file));
    if (folder.empty()) return std::nullopt;
    return folder + FileName(file);
}

std::optional<CSharedFiles::WriteTime> CSharedFiles::WriteTimeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return WriteTime{st.st_mtim};
}

std::optional<CSharedFiles::WriteTime> CSharedFiles::WriteTimeOf(int fd) {
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) return std::nullopt;
    return WriteTime{st.st_mtim};
}

std::optional<CSharedFiles::WriteTime> CSharedFiles::StoredTime(File file) const {
    std::lock_guard guard(lock_);
    return times_[file];
}

void CSharedFiles::storeTime(File file, std::optional<WriteTime> time) {
    times_[file] = time;
}

bool CSharedFiles::ReportFailure(File file, const std::string& text) {
    std::lock_guard guard(lock_);
    std::optional<WriteTime> now;
    if (auto path = PathOf(file)) now = WriteTimeOf(*path);
    auto& last = reported_[file];
    if (!last || !(last->time == now)) last = Reported{now, {}};
    if (!last->texts.insert(text).second) return false;
    OXTLog(3, "%s", text.c_str());
    return true;
}

void CSharedFiles::succeeded(File file) {
    reported_[file].reset();
}

int CSharedFiles::CreateEmptyFile(const std::string& path) {
    LockedFile file;
    return file.open(path, FileAccess::Write, false);
}

int CSharedFiles::CreateDefaultSettingsFile(const std::string& path) {
    CIniFile file(path);
    if (int rc = file.OpenAndLoad(true, CIniFile::kAttempts); rc != 0) return rc;
    // Another server may have written it meanwhile: only an empty file gets the default.
    if (file.GetSection("Settings") != nullptr) return 0;
    std::vector<std::string> names;
    if (file.GetSectionNames(names) > 0) return 0;
    file.SetValue("Settings", "Dummy", std::string_view());
    return file.Save();
}

void CSharedFiles::SetProfileNames(std::string administrators, std::string users) {
    std::lock_guard guard(lock_);
    adminProfile_ = std::move(administrators);
    userProfile_ = std::move(users);
}

int CSharedFiles::CreateDefaultProfileFile(const std::string& path) const {
    std::lock_guard guard(lock_);
    return ::CreateDefaultProfileFile(path, adminProfile_, userProfile_);
}

bool CSharedFiles::ReadTreeFile() {
    std::lock_guard guard(lock_);
    auto path = PathOf(kTree);
    if (!path) {
        fail(kTree, "Did not get OmxTreePathNet");
        return false;
    }
    if (!WriteTimeOf(*path)) CreateEmptyFile(*path);
    LockedFile file;
    if (int rc = file.openRetrying(*path, FileAccess::Read, kTreeAttempts, false); rc != 0) {
        fail(kTree, ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.fd());
    std::string bytes;
    int readError = file.readAll(bytes);
    file.close();

    std::vector<std::string> lines;
    for (size_t start = 0; start < bytes.size();) {
        size_t end = bytes.find('\n', start);
        if (end == std::string::npos) end = bytes.size();
        std::string_view line(bytes.data() + start, end - start);
        line = line.substr(0, line.find('\0'));  // a line is text up to a zero byte
        // A line longer than the reader takes is read as several lines.
        for (size_t piece = 0; piece < line.size() || piece == 0; piece += kMaxLine) {
            std::string_view text = ombrix::ini::trimText(line.substr(piece, kMaxLine));
            if (!text.empty()) lines.emplace_back(text);
            if (line.size() <= kMaxLine) break;
        }
        start = end + 1;
    }

    GlobalLock global(kLockGlobalMs);
    if (!global) {
        fail(kTree, "Could not lock environment");
        return false;
    }
    long before = publishedCount("OMXTreeLines");
    long published = readError == 0 ? static_cast<long>(lines.size()) : 0;
    for (long n = 1; n <= published; ++n)
        SetGlobal("OMXTree_" + std::to_string(n), lines[static_cast<size_t>(n - 1)]);
    for (long n = published + 1; n <= before; ++n)
        DeleteGlobal("OMXTree_" + std::to_string(n));
    DeleteGlobal("OMXTree_0");
    if (readError != 0) {
        DeleteGlobal("OMXTreeLines");
        DeleteGlobal("OMXTreeFileNet");
        fail(kTree,
             ombrix::platform::format("Could not read %s, Error: %d", path->c_str(), readError));
        return false;
    }
    SetGlobal("OMXTreeLines", std::to_string(published));
    SetGlobal("OMXTreeFileNet", *path);
    storeTime(kTree, time);
    succeeded(kTree);
    return true;
}

bool CSharedFiles::ReadSecurity() {
    std::lock_guard guard(lock_);
    auto path = PathOf(kProfile);
    if (!path) {
        DeleteGlobal("OXTSecurity");
        EnvLoadSecurity(nullptr, 0);
        fail(kProfile, "Did not get OMXSecurityPathNet");
        return false;
    }
    if (!WriteTimeOf(*path)) {
        if (int rc = CreateDefaultProfileFile(*path); rc != 0) {
            fail(kProfile,
                 ombrix::platform::format("Could not create %s, Error: %d", path->c_str(), rc));
        }
    }
    LockedFile file;
    if (int rc = file.openRetrying(*path, FileAccess::Read, kTreeAttempts, false); rc != 0) {
        fail(kProfile, ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.fd());
    std::string bytes;
    int rc = file.readAll(bytes);
    file.close();
    // From here the file's contents decide: whatever was loaded before goes.
    DeleteGlobal("OXTSecurity");
    EnvLoadSecurity(nullptr, 0);
    if (rc != 0 || bytes.empty()) {
        fail(kProfile, ombrix::platform::format("Could not read %s, Error: %d", path->c_str(),
                                                rc != 0 ? rc : -1));
        if (rc == 0) storeTime(kProfile, time);  // read whole, and empty
        return false;
    }
    if (EnvLoadSecurity(bytes.data(), static_cast<int>(bytes.size())) == 0) {
        fail(kProfile, "Could not load the profiles of " + *path);
        return false;
    }
    SetGlobal("OXTSecurity", ombrix::platform::format("%s (%d Byte)", path->c_str(),
                                                      static_cast<int>(bytes.size())));
    storeTime(kProfile, time);
    succeeded(kProfile);
    return true;
}

bool CSharedFiles::ReadAdminFile() {
    std::lock_guard guard(lock_);
    auto path = PathOf(kAdmin);
    if (!path) {
        fail(kAdmin, "Did not get OmxAdmPathNet");
        return false;
    }
    CIniFile file(*path);
    if (int rc = file.OpenAndLoad(false, CIniFile::kAttempts); rc != 0) {
        fail(kAdmin, ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.Descriptor());
    file.Close();

    GlobalLock global(kLockGlobalMs);
    if (!global) {
        fail(kAdmin, "Could not lock environment");
        return false;
    }
    for (char letter = 'A'; letter <= 'Z'; ++letter)
        DeleteGlobal(std::string("OMX_Drive_") + letter);
    DeleteGlobal("OmxAdminMode");
    DeleteGlobal("OmxAdminDrives");
    std::string mode;
    file.GetValue("AdminSetting", "AdminMode", mode);
    storeTime(kAdmin, time);  // published from here on, whatever it holds
    if (mode == "0") {
        succeeded(kAdmin);
        return true;
    }
    // Only drive entries are taken over: the file must not set any other value of the store.
    std::string letters;
    CEntryList entries;
    file.GetSectionEntries("AdminDrives", entries);
    for (const CEntry& entry : entries) {
        if (entry.key.size() != 11 || !entry.key.starts_with("OMX_DRIVE_")) continue;
        char letter = entry.key[10];
        if (letter < 'A' || letter > 'Z') continue;
        SetGlobal(std::string("OMX_Drive_") + letter, entry.value);
        letters += letter;
    }
    SetGlobal("OmxAdminMode", mode);
    SetGlobal("OmxAdminDrives", letters);
    succeeded(kAdmin);
    return true;
}

bool CSharedFiles::ReadEnvFile() {
    std::lock_guard guard(lock_);
    auto path = PathOf(kSettings);
    if (!path) {
        fail(kSettings, "Did not get OMXServerPathNet");
        return false;
    }
    if (!WriteTimeOf(*path)) CreateDefaultSettingsFile(*path);
    CIniFile file(*path);
    if (int rc = file.OpenAndLoad(false, CIniFile::kAttempts); rc != 0) {
        fail(kSettings,
             ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.Descriptor());
    file.Close();
    CEntryList entries;
    file.GetSectionEntries("Settings", entries);
    GlobalLock global(kLockGlobalMs);
    if (!global) {
        fail(kSettings, "Could not lock environment");
        return false;
    }
    for (const CEntry& entry : entries) {
        if (netsvc::isProtectedKey(entry.key)) {
            OXTLog(0, "Settings file: %s is not taken over", entry.key.c_str());
            continue;
        }
        SetGlobal(entry.key, entry.value);
    }
    storeTime(kSettings, time);
    succeeded(kSettings);
    return true;
}
