#include "manager/mng_sources.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <vector>

#include "common/install_folder.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_disc.h"
#include "common/oxtcomm_drives.h"
#include "outside/env/oxtenv.h"
#include "outside/help/drive_folder.h"
#include "outside/help/oxthelp.h"
#include "outside/help/published_tree_lines.h"
#include "outside/omxcvt/omxcvt.h"
#include "platform/logical_drives.h"
#include "platform/object_manager.h"
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

void setUserSetting(std::string_view key, const std::string& value) {
    const std::string name(key);
    EnvSetUserValue(name.c_str(), value.c_str());
}

std::string desktopFolder() {
    // The desktop's own answer, which follows the user's language and choices.
    if (FILE* pipe = ::popen("xdg-user-dir DESKTOP 2>/dev/null", "r")) {
        char line[4096] = "";
        const bool got = std::fgets(line, sizeof line, pipe) != nullptr;
        ::pclose(pipe);
        std::string folder = got ? line : "";
        while (!folder.empty() && (folder.back() == '\n' || folder.back() == '\r'))
            folder.pop_back();
        if (!folder.empty() && folder.front() == '/') return folder;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr ? std::string(home) + "/Desktop" : std::string();
}

std::string temporaryFolder() {
    // The session's runtime folder is the user's alone; else a folder of the user's own below
    // the shared temporary folder, checked to be a real folder of this user with no rights for
    // others.
    auto own = [](const std::string& folder) {
        struct stat info {};
        return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
               info.st_uid == ::geteuid() && (info.st_mode & 077) == 0;
    };
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime == '/' && own(runtime)) {
        return runtime;
    }
    const char* tmp = std::getenv("TMPDIR");
    const std::string base = tmp != nullptr && *tmp == '/' ? tmp : "/tmp";
    const std::string folder = base + "/ombrix-" + std::to_string(::geteuid());
    ::mkdir(folder.c_str(), 0700);
    return own(folder) ? folder : std::string();
}

ClientPorts systemPorts() {
    ClientPorts p;
    p.addImage = [](OmxImageInfo& record, int range) {
        return OMXAddImageCheck(&record, range, 0);
    };
    p.removeImage = [](int index) { OMXRemoveImage(index); };
    p.imageInfo = [](int index, OmxImageInfo& record) {
        return OMXGetImageInfoFromIndex(index, &record) == 1;
    };
    p.setImageInfo = [](int index, const OmxImageInfo& record) {
        return OMXSetImageInfoFromIndex(index, &record) == 1;
    };
    p.catalogueImage = [](int index) { return catalogueImage(index); };
    p.header = [](const std::string& path, OmxImageHeader& header) {
        return OMXGetHeader(path.c_str(), &header);
    };
    p.label = [](const std::string& path, bool& changeable) {
        char label[260] = "";
        int flag = 0;
        if (OMXGetISOLabel(path.c_str(), label, sizeof label - 1, &flag) != 0) label[0] = '\0';
        changeable = flag != 0;
        return std::string(label);
    };
    p.comment = [](const std::string& path) {
        char text[128] = "";
        if (OMXGetComment(path.c_str(), text, sizeof text - 1) <= 0) text[0] = '\0';
        return std::string(text);
    };
    p.checkAccess = [](const std::string& path, unsigned access) {
        return OMXCheckAccessFile(path.c_str(), access);
    };
    p.setDescription = [](const std::string& path, const std::string& text) {
        return OMXSetDescription(path.c_str(), text.c_str()) == 0;
    };
    p.setLabel = [](const std::string& path, const std::string& text) {
        return OMXChangeIsoLabelFile(path.c_str(), text.c_str()) == 0;
    };
    p.setComment = [](const std::string& path, const std::string& text) {
        return OMXSetComment(path.c_str(), text.c_str()) == 0;
    };
    p.setPassword = [](const std::string& path, const std::string& old, const std::string& now) {
        return OMXSetPWD(path.c_str(), old.c_str(), now.c_str());
    };
    p.verifyPassword = [](const std::string& path, std::string& typed) {
        char password[64] = "";
        if (OMXVerifyPWD(path.c_str(), password, sizeof password) != 1) return false;
        typed = password;
        return true;
    };
    p.insertIndex = [](char letter, int index) { return OMXInsertIndex(letter, index); };
    p.eject = [](char letter) { return OMXEject(letter); };
    p.reportInsertError = [](int code) { OMXReportInsertError(code); };
    p.ejectPhysical = [](char letter) { return OMXEjectPhysicalDrive(letter) == 1; };
    p.adminDriveLetters = [] {
        char letters[64] = "";
        OMXGetAdminDriveLetters(letters, sizeof letters);
        return std::string(letters);
    };
    p.driveFolder = [](char letter) {
        // A virtual drive through the user's folder of drives; any other drive of the session
        // (a CD drive of the machine) through the device its letter names.
        const std::filesystem::path folder = helper::userDriveFolder();
        std::error_code ec;
        if (!folder.empty() && std::filesystem::exists(folder / std::string(1, letter), ec))
            return (folder / std::string(1, letter)).string();
        int error = 0;
        const std::string name = std::string("\\\\.\\") + letter + ":";
        return objmgr::resolveDevice(name, platform::currentSessionId(), error).string();
    };
    p.localCatalogueWritable = [] { return false; };
    // The converter reports progress to a plain function: the callback of the converting
    // thread is reached through a thread-local pointer.
    static thread_local const ClientPorts::Progress* converting = nullptr;
    auto convert = [](int (*how)(const char*, int, int, OMXCvtProgressProc)) {
        return [how](const std::string& path, const ClientPorts::Progress& progress) {
            converting = &progress;
            const int result = how(path.c_str(), OMXCVT_PLAIN, 1, [](int percent) {
                return converting != nullptr && (*converting)(percent) ? 1 : 0;
            });
            converting = nullptr;
            return result;
        };
    };
    p.convertIso = convert(&OMXConvertISO2OM4);
    p.convertOlder = convert(&OMXConvertZRM2OM4);
    p.lastConversionError = [] {
        char text[260] = "";
        OMXGetLastCVTError(text, sizeof text);
        return std::string(text);
    };
    p.openDocument = [](const std::string& path) {
        const long result = platform::shellOpen(path, "", "");
        return result > 32 ? 0 : static_cast<int>(result == 0 ? 8 : result);
    };
    p.programFile = [](const std::string& program) {
        const std::string folder = systemFolder();
        return folder.empty() ? std::string() : platform::findProgramFile(folder, program).string();
    };
    p.startProgram = [](const std::string& file, const std::vector<std::string>& arguments) {
        std::string line;
        for (const std::string& a : arguments) {
            std::string quoted = "\"";
            for (char c : a) {
                if (c == '"') quoted += '\\';
                quoted += c;
            }
            line += (line.empty() ? "" : " ") + quoted + "\"";
        }
        return platform::shellOpen(file, line, "") > 32;
    };
    return p;
}

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
    return client::systemFolder();
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
    s.globalTreeLines = [] { return helper::publishedTreeLines(); };
    s.log = [log](int level, const std::string& line) {
        if (log != nullptr) log->write(level, line);
    };
    return s;
}

}  // namespace ombrix::mng
