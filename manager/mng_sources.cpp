#include "manager/mng_sources.h"

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/oxthelp.h"
#include "platform/logical_drives.h"
#include "platform/session_id.h"
#include "platform/shell_execute.h"

namespace ombrix::mng {
namespace {

constexpr int kFirstGlobalIndex = 5001;

}  // namespace

std::string userSetting(std::string_view key) {
    std::vector<char> buffer(4096);
    const std::string name(key);
    if (!EnvGetSetting(name.c_str(), buffer.data(), static_cast<int>(buffer.size()))) return {};
    return buffer.data();
}

namespace {

std::optional<std::string> named(int (*get)(char*, int)) {
    std::vector<char> buffer(4096);
    if (get(buffer.data(), static_cast<int>(buffer.size())) != 1) return std::nullopt;
    return std::string(buffer.data());
}

std::optional<CatalogueImage> catalogueImage(int index) {
    OmxImageInfo info{};
    if (OMXGetImageInfoFromIndex(index, &info) != 1 || info.path[0] == '\0') return std::nullopt;
    CatalogueImage image;
    image.index = index;
    image.path = info.path;
    image.description = info.description;
    image.defaultDrive = info.driveLetter;
    image.program = info.program;
    image.workingDirectory = info.parameters;
    OmxImageHeader header{};
    if (OMXGetHeader(info.path, &header) == 0) {
        image.discType = static_cast<uint16_t>(header.discType);
        image.password = OMXHasPWD(info.path) == 1;
    }
    struct stat st {};
    if (::stat(info.path, &st) == 0) {
        image.sizeBytes = static_cast<uint64_t>(st.st_size);
        image.created = st.st_mtime;
    }
    return image;
}

}  // namespace

std::string userConfigFolder() {
    const std::string catalogue = userSetting("OMXConfigFile");
    if (!catalogue.empty()) return std::filesystem::path(catalogue).parent_path().string();
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
        return std::string(config) + "/ombrix";
    }
    const char* home = std::getenv("HOME");
    return home != nullptr ? std::string(home) + "/.config/ombrix" : std::string();
}

std::string systemFolder() {
    std::vector<char> buffer(4096);
    if (OMXGetInstallPath(buffer.data(), static_cast<int>(buffer.size())) != 0 ||
        buffer[0] == '\0') {
        return {};
    }
    return (std::filesystem::path(buffer.data()) / "system").string();
}

std::string homePageFolder() {
    std::vector<char> home(4096);
    if (OMXGetInstallPath(home.data(), static_cast<int>(home.size())) != 0 || home[0] == '\0') {
        return {};
    }
    std::string code = userSetting("OmxLanguage");
    if (code.size() != 3 || code.find('/') != std::string::npos || code == "..") code = "ENG";
    return (std::filesystem::path(home.data()) / "Language" / code / "HTML").string();
}

AccessProbes systemProbes(ProgramLog* log) {
    AccessProbes p;
    p.hasRight = [](int right) { return OMXTSHasRight(right) == 1; };
    p.adminMode = [] { return OMXGetAdminMode() == 1; };
    p.setting = userSetting;
    p.userConfigFolder = userConfigFolder;
    p.globalImageFile = [] { return named(OMXGetGlobalImageFileName); };
    p.globalTreeFile = [] { return named(OMXGetGlobalTreeFileName); };
    p.adminFile = [] { return named(OMXGetAdminFileName); };
    p.exists = [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; };
    p.writable = [](const std::string& path) {
        return OMXCheckAccessFile(path.c_str(), OMX_ACCESS_WRITE) == 0;
    };
    const std::string folder = systemFolder();
    p.installed = [folder](std::string_view program) {
        return !folder.empty() && !platform::findProgramFile(folder, program).empty();
    };
    p.log = [log](int level, const std::string& line) {
        if (log != nullptr) log->write(level, line);
    };
    return p;
}

DocumentSources systemSources(ProgramLog* log) {
    DocumentSources s;
    s.catalogue = [] {
        std::vector<CatalogueImage> images;
        const int localHi = OMXGetIndexHi();
        for (int index = 1; index <= localHi && index < kFirstGlobalIndex - 1; ++index) {
            if (auto image = catalogueImage(index)) images.push_back(std::move(*image));
        }
        const int globalHi = OMXGetIndexHiNet();
        for (int index = kFirstGlobalIndex; index <= globalHi; ++index) {
            if (auto image = catalogueImage(index)) images.push_back(std::move(*image));
        }
        return images;
    };
    s.drives = [] {
        std::vector<VirtualDrive> drives;
        char letters[64] = "";
        OMXGetOMXDriveLetters(letters, sizeof letters);
        for (const char* l = letters; *l != '\0'; ++l) {
            VirtualDrive d;
            d.letter = *l;
            d.index = OMXGetDriveIndex(*l);
            char mounted[4096] = "";
            if (OMXGetMountedFileFromDrive(*l, mounted, sizeof mounted)) d.imagePath = mounted;
            drives.push_back(std::move(d));
        }
        return drives;
    };
    s.physicalDrives = [] {
        char letters[64] = "";
        OMXGetOMXDriveLetters(letters, sizeof letters);
        const std::string virtualLetters = letters;
        const uint32_t session = platform::currentSessionId();
        const uint32_t defined = platform::logicalDrives(session);
        std::string physical;
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            if (!(defined & (1u << (letter - 'A')))) continue;
            if (virtualLetters.find(letter) != std::string::npos) continue;
            if (platform::driveType(letter, session) == platform::kDriveCdRom) physical += letter;
        }
        return physical;
    };
    s.localTreeLines = [log] {
        std::string bytes;
        const std::string folder = userConfigFolder();
        if (folder.empty()) return std::vector<std::string>{};
        std::error_code ignored;
        std::filesystem::create_directories(folder, ignored);
        const std::string file = localTreeFile(folder);
        if (int err = loadTreeFile(file, bytes); err != 0 && log != nullptr) {
            log->write(1, "cannot open TreeDat (" + file + " -- " + std::to_string(err));
        }
        return treeFileLines(bytes);
    };
    s.globalTreeLines = [] {
        std::vector<std::string> lines;
        OMXTSEnumTreeLines(reinterpret_cast<long>(&lines), [](long context, int, const char* line) {
            if (line != nullptr)
                reinterpret_cast<std::vector<std::string>*>(context)->emplace_back(line);
            return 1;
        });
        return lines;
    };
    s.log = [log](int level, const std::string& line) {
        if (log != nullptr) log->write(level, line);
    };
    return s;
}

}  // namespace ombrix::mng
