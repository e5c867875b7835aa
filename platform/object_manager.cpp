#include "platform/object_manager.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>

#include "platform/ascii.h"
#include "platform/machine_root.h"
#include "platform/win_error.h"

namespace ombrix::objmgr {
namespace {

namespace fs = std::filesystem;

constexpr size_t kMaxName = 255;
// A definition is made under a temporary name first and then renamed into place.
constexpr std::string_view kTempPrefix = ".define-";

bool validName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxName && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

// The entry of `name` in `folder`: the exact name, else one that differs in letter case only.
bool findEntry(const fs::path& folder, std::string_view name, fs::path& out) {
    std::error_code ec;
    fs::path exact = folder / std::string(name);
    if (fs::is_symlink(exact, ec)) {
        out = exact;
        return true;
    }
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (ascii::equalsIgnoreCase(it->path().filename().string(), name) &&
            fs::is_symlink(it->path(), ec)) {
            out = it->path();
            return true;
        }
    }
    return false;
}

std::string targetOf(const fs::path& link) {
    std::error_code ec;
    fs::path target = fs::read_symlink(link, ec);
    if (ec) return {};
    fs::path full = target.is_absolute() ? target : (link.parent_path() / target);
    fs::path root = platform::machineRoot().lexically_normal();
    fs::path relative = full.lexically_normal().lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..") return target.string();
    std::string kernel;
    for (const auto& part : relative) {
        kernel += '\\';
        kernel += part.string();
    }
    return kernel;
}

// What a link in `folder` holds for `target`.
fs::path linkText(const fs::path& folder, uint32_t flags, std::string_view target) {
    if (!(flags & kRawTargetPath)) return fs::path(std::string(target));
    fs::path file = kernelPathFile(target);
    return file.lexically_normal().lexically_relative(folder.lexically_normal());
}

int removeName(const fs::path& folder, uint32_t flags, std::string_view name,
               std::string_view target) {
    fs::path entry;
    if (!findEntry(folder, name, entry)) return win::kFileNotFound;
    if (flags & kExactMatchOnRemove) {
        std::string current = targetOf(entry);
        bool same =
            (flags & kRawTargetPath) ? ascii::equalsIgnoreCase(current, target) : current == target;
        if (!same) return win::kFileNotFound;
    }
    if (::unlink(entry.c_str()) != 0) return win::fromErrno(errno, entry.c_str());
    return 0;
}

// "E:\" → "E:"; a mount point must be a drive root.
bool driveOfMountPoint(std::string_view mountPoint, std::string& drive) {
    if (mountPoint.size() != 3 || mountPoint[1] != ':' || mountPoint[2] != '\\') return false;
    char letter = ascii::upper(mountPoint[0]);
    if (letter < 'A' || letter > 'Z') return false;
    drive = std::string(1, letter) + ":";
    return true;
}

// "\\?\Volume{…}\" → "Volume{…}".
bool volumeDosName(std::string_view volumeName, std::string& name) {
    constexpr std::string_view prefix = "\\\\?\\";
    if (!volumeName.starts_with(prefix) || !volumeName.ends_with("\\")) return false;
    name = std::string(volumeName.substr(prefix.size(), volumeName.size() - prefix.size() - 1));
    return ascii::startsWithIgnoreCase(name, "volume{") && validName(name);
}

}  // namespace

fs::path globalFolder() {
    fs::path folder = platform::rootPath(
                          "GLOBAL?"
                          "?/x")
                          .parent_path();
    return folder;
}

fs::path dosDevicesFolder(uint32_t session) {
    if (session == 0) return globalFolder();
    return platform::rootPath("Sessions/" + std::to_string(session) + "/DosDevices/x")
        .parent_path();
}

fs::path kernelPathFile(std::string_view kernelPath) {
    if (kernelPath.empty() || kernelPath.front() != '\\') return {};
    fs::path out = platform::machineRoot();
    size_t at = 1;
    while (at <= kernelPath.size()) {
        size_t next = kernelPath.find('\\', at);
        if (next == std::string_view::npos) next = kernelPath.size();
        std::string_view part = kernelPath.substr(at, next - at);
        if (part == "..") return {};
        if (!part.empty() && part != ".") out /= std::string(part);
        at = next + 1;
    }
    return out;
}

int queryDosDevice(std::string_view name, std::string& target, uint32_t session) {
    if (!validName(name)) return win::kInvalidParameter;
    fs::path entry;
    if ((session != 0 && findEntry(dosDevicesFolder(session), name, entry)) ||
        findEntry(globalFolder(), name, entry)) {
        target = targetOf(entry);
        return 0;
    }
    return win::kFileNotFound;
}

int listDosDevices(std::vector<std::string>& names, uint32_t session) {
    names.clear();
    auto add = [&](const fs::path& folder) {
        std::error_code ec;
        for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
            if (!it->is_symlink(ec)) continue;
            std::string name = it->path().filename().string();
            if (name.starts_with(kTempPrefix)) continue;
            bool known = false;
            for (const auto& n : names)
                known = known || ascii::equalsIgnoreCase(n, name);
            if (!known) names.push_back(name);
        }
    };
    if (session != 0) add(dosDevicesFolder(session));
    add(globalFolder());
    return 0;
}

int defineDosDevice(uint32_t flags, std::string_view name, std::string_view target,
                    uint32_t session) {
    if (!validName(name)) return win::kInvalidParameter;
    fs::path folder = dosDevicesFolder(session);
    if (flags & kRemoveDefinition) return removeName(folder, flags, name, target);
    if (target.empty()) return win::kInvalidParameter;
    fs::path text = linkText(folder, flags, target);
    if (text.empty()) return win::kInvalidParameter;
    // A new link replaces the old one in one rename, so readers never find the name missing.
    static std::atomic<unsigned> counter{0};
    fs::path temp = folder / (std::string(kTempPrefix) + std::to_string(::getpid()) + "-" +
                              std::to_string(counter++));
    ::unlink(temp.c_str());
    if (::symlink(text.c_str(), temp.c_str()) != 0) return win::fromErrno(errno, temp.c_str());
    fs::path old;
    if (findEntry(folder, name, old) && old.filename() != fs::path(std::string(name))) {
        ::unlink(old.c_str());
    }
    fs::path final = folder / std::string(name);
    if (::rename(temp.c_str(), final.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return win::fromErrno(err, final.c_str());
    }
    return 0;
}

fs::path resolveDevice(std::string_view name, uint32_t session, int& error) {
    error = 0;
    std::string_view dosName;
    if (name.starts_with("\\\\.\\")) {
        dosName = name.substr(4);
    } else if (name.starts_with("\\??\\")) {
        dosName = name.substr(4);
    } else {
        fs::path file = kernelPathFile(name);
        if (file.empty()) error = win::kInvalidParameter;
        return file;
    }
    std::string target;
    error = queryDosDevice(dosName, target, session);
    if (error != 0) return {};
    if (!target.empty() && target.front() == '\\') {
        fs::path file = kernelPathFile(target);
        if (file.empty()) error = win::kFileNotFound;
        return file;
    }
    return fs::path(target);
}

int setVolumeMountPoint(std::string_view mountPoint, std::string_view volumeName) {
    std::string drive, volume, target;
    if (!driveOfMountPoint(mountPoint, drive) || !volumeDosName(volumeName, volume)) {
        return win::kInvalidParameter;
    }
    if (queryDosDevice(drive, target, 0) == 0) return 85;  // the letter is in use already
    int rc = queryDosDevice(volume, target, 0);
    if (rc != 0) return rc;
    return defineDosDevice(kRawTargetPath, drive, target, 0);
}

int deleteVolumeMountPoint(std::string_view mountPoint) {
    std::string drive;
    if (!driveOfMountPoint(mountPoint, drive)) return win::kInvalidParameter;
    return defineDosDevice(kRemoveDefinition, drive, "", 0);
}

int getVolumeNameForVolumeMountPoint(std::string_view mountPoint, std::string& volumeName) {
    std::string drive, target;
    if (!driveOfMountPoint(mountPoint, drive)) return win::kInvalidParameter;
    int rc = queryDosDevice(drive, target, 0);
    if (rc != 0) return rc;
    std::vector<std::string> names;
    listDosDevices(names, 0);
    for (const auto& name : names) {
        std::string other;
        if (ascii::startsWithIgnoreCase(name, "volume{") && queryDosDevice(name, other, 0) == 0 &&
            ascii::equalsIgnoreCase(other, target)) {
            volumeName = "\\\\?\\" + name + "\\";
            return 0;
        }
    }
    return win::kFileNotFound;
}

}  // namespace ombrix::objmgr
