#include "shellext/shell_menus.h"
#include "common/install_folder.h"
#include "common/listed_images.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>

#include "common/oxtcomm.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_disc.h"
#include "common/oxtcomm_drives.h"
#include "common/text_format.h"
#include "outside/env/oxtenv.h"
#include "outside/help/drive_folder.h"
#include "outside/help/oxthelp.h"
#include "outside/help/published_tree_lines.h"
#include "platform/ascii.h"
#include "platform/logical_drives.h"
#include "platform/object_manager.h"
#include "platform/session_id.h"
#include "platform/shell_execute.h"
#include "platform/ui/user_interface.h"

namespace ombrix::shellext {
namespace {

namespace fs = std::filesystem;
using menus::MenuEntry;

std::string setting(const char* key) {
    char buffer[4096] = {};
    return EnvGetSetting(key, buffer, sizeof buffer) == 1 ? std::string(buffer) : std::string();
}

std::string sessionLetters() {
    char letters[28] = {};
    OMXGetOMXDriveLetters(letters, sizeof letters);
    return letters;
}

std::string mounted(char letter) {
    char file[4096] = {};
    if (OMXGetMountedFileFromDrive(letter, file, sizeof file) == 0) return {};
    return file;
}

uint32_t numberAt(const OmxImageHeader& header, size_t offset) {
    uint32_t value = 0;
    std::memcpy(&value, reinterpret_cast<const char*>(&header) + offset, sizeof value);
    return value;
}

std::optional<OmxImageHeader> headerOf(const std::string& path) {
    OmxImageHeader header{};
    if (OMXGetHeader(path.c_str(), &header) != 0) return std::nullopt;
    return header;
}

}  // namespace

std::string builtInText(int id) {
    static const std::map<int, const char*> texts = {
        {text::kInsertInto, "Insert the image into"},
        {text::kCaption, "Ombrix"},
        {text::kNotCatalogued, "The image %s could not be added to the catalogue."},
        {text::kNoSuchDrive, "This drive is not one of the session's virtual drives."},
        {text::kPropertiesTitle, "Ombrix image"},
        {text::kMegabytes, "%d MB"},
        {text::kManage, "Manage the images..."},
        {text::kInsertImage, "Insert an image"},
        {text::kNoImage, "(No image found)"},
        {text::kManageHelp, "Opens the management program with this image."},
        {text::kInsertIntoHelp, "Inserts the image into this virtual drive."},
        {text::kInsertImageHelp, "Inserts this image into the drive."},
        {text::kNoDrive, "(No virtual drive found)"},
    };
    const auto it = texts.find(id);
    return it == texts.end() ? std::string() : it->second;
}

bool isSystemImage(const std::string& path) {
    const auto header = headerOf(path);
    return header && header->formatMark == kOmxFormatMark;
}

int iconIndex(std::optional<uint32_t> discType, bool newerSet) {
    constexpr int kUnknown = 16;
    int classic = kUnknown;
    if (discType) {
        const uint32_t kind = *discType & 0xFF;
        const bool f100 = *discType & 0x100, f200 = *discType & 0x200, f400 = *discType & 0x400;
        switch (kind) {
            case 1: classic = 5; break;
            case 2: classic = 1; break;
            case 4: classic = 3; break;
            case 5: classic = 8; break;
            case 6: classic = 2; break;
            case 7: classic = 4; break;
            case 8: classic = 7; break;
            case 32:
                classic = f100 && f200 && f400 ? 13
                          : f100 && f200       ? 15
                          : f100 && f400       ? 11
                          : f100               ? 9
                          : f200 && f400       ? 12
                          : f200               ? 14
                          : f400               ? 10
                                               : kUnknown;
                break;
            case 0:
            case 0x40:
                if (*discType & 0x1000)
                    classic = 6;
                else if (kind == 0)
                    classic = 0;
                break;
            default: break;
        }
    }
    // The newer set holds the same pictures in its own order.
    static constexpr int kNewer[17] = {20, 21, 17, 18, 19, 22, 23, 24, 25,
                                       27, 28, 29, 30, 31, 32, 33, 26};
    return newerSet ? kNewer[classic] : classic;
}

std::string iconName(int index) {
    if (index < 0 || index >= kIconCount) index = 16;
    char name[32];
    std::snprintf(name, sizeof name, "ombrix-disc-%02d", index);
    return name;
}

int iconIndexOfFile(const std::string& path) {
    const auto header = headerOf(path);
    return iconIndex(header ? std::optional(header->discType) : std::nullopt,
                     setting("OmxUseXPIcons").starts_with('1'));
}

std::optional<ImageProperties> imageProperties(const std::string& path,
                                               const std::function<std::string(int id)>& text) {
    const auto header = headerOf(path);
    if (!header || header->formatMark != kOmxFormatMark) return std::nullopt;
    ImageProperties p;
    p.path = path;
    p.description.assign(header->description,
                         strnlen(header->description, sizeof header->description));
    const std::string megabytes = text(text::kMegabytes);
    p.imageSize = strings::formatText(megabytes, std::to_string(numberAt(*header, 833) / 1024));
    p.cdSize = strings::formatText(
        megabytes, std::to_string(static_cast<uint64_t>(numberAt(*header, 2)) * 2 / 1024));
    p.tracks = std::to_string(header->trackCount);
    std::vector<char> comment(2051, '\0');
    if (OMXGetComment(path.c_str(), comment.data(), static_cast<int>(comment.size()) - 1) >= 0)
        p.comment = comment.data();
    return p;
}

ImagePorts systemImagePorts() {
    ImagePorts ports;
    ports.letters = sessionLetters;
    ports.mountedFile = mounted;
    ports.managerPresent = [] { return !client::installedProgram("OXTmng.exe").empty(); };
    ports.indexOf = [](const std::string& path) {
        return OMXGetIndexFromImageFile(path.c_str(), OMX_RANGE_ALL);
    };
    ports.add = [](const std::string& path) {
        OmxImageInfo info{};
        // A path the record cannot hold whole is not added: cut short it could name another file.
        if (path.size() >= sizeof info.path) return -1;
        std::strncpy(info.path, path.c_str(), sizeof info.path - 1);
        return OMXAddImage(&info, 1);
    };
    ports.insert = [](char letter, int index) { return OMXInsertIndex(letter, index); };
    ports.runManager = [](const std::string& path) {
        const std::string program = client::installedProgram("OXTmng.exe");
        return !program.empty() &&
               platform::shellOpen(program, platform::quoteArgument(path), "") > 32;
    };
    ports.tellError = [](const std::string& caption, const std::string& message) {
        ui::userInterface().messageBox(caption, message, ui::Icon::Error, ui::Buttons::Ok, {});
    };
    return ports;
}

std::vector<MenuEntry> imageMenu(const std::string& path, const ImagePorts& ports) {
    std::vector<MenuEntry> menu;
    if (ports.managerPresent && ports.managerPresent())
        menu.push_back(menus::commandEntry(ports.text(text::kManage), kManageCommand));
    const std::string letters = ports.letters ? ports.letters() : std::string();
    std::vector<MenuEntry> drives;
    for (size_t p = 0; p < letters.size(); ++p) {
        const std::string inDrive = ports.mountedFile ? ports.mountedFile(letters[p]) : "";
        drives.push_back(menus::commandEntry(std::string(1, letters[p]) + ":",
                                             kInsertCommandBase + static_cast<int>(p),
                                             ascii::equalsIgnoreCase(inDrive, path)));
    }
    if (drives.empty()) drives.push_back(menus::disabledEntry(ports.text(text::kNoDrive)));
    menu.push_back(menus::submenu(ports.text(text::kInsertInto), std::move(drives)));
    return menu;
}

bool invokeImageCommand(const std::string& path, int command, const ImagePorts& ports) {
    const std::string caption = ports.text(text::kCaption);
    const auto tell = [&](const std::string& message) {
        if (ports.tellError) ports.tellError(caption, message);
    };
    if (command == kManageCommand) return ports.runManager && ports.runManager(path);
    if (command < kInsertCommandBase) return false;
    const std::string letters = ports.letters ? ports.letters() : std::string();
    const size_t position = static_cast<size_t>(command - kInsertCommandBase);
    if (position >= letters.size()) {
        tell(ports.text(text::kNoSuchDrive));
        return false;
    }
    // An image the catalogue does not hold yet is added first: inserting goes by its index.
    int index = ports.indexOf ? ports.indexOf(path) : 0;
    if (index <= 0 && ports.add) {
        ports.add(path);
        index = ports.indexOf ? ports.indexOf(path) : 0;
    }
    if (index <= 0) {
        tell(strings::formatText(ports.text(text::kNotCatalogued), path));
        return false;
    }
    // The client library tells the user when the insert fails.
    return ports.insert && ports.insert(letters[position], index) == 0;
}

DrivePorts systemDrivePorts() {
    DrivePorts ports;
    ports.letters = sessionLetters;
    ports.isCdDrive = [](char letter) {
        return platform::driveType(letter, platform::currentSessionId()) == platform::kDriveCdRom;
    };
    ports.letterOfFolder = [](const std::string& folder) -> char {
        std::error_code ec;
        const fs::path given = fs::absolute(folder, ec).lexically_normal();
        std::string name = given.filename().string();
        if (name.empty()) name = given.parent_path().filename().string();
        const fs::path parent =
            (given.filename().empty() ? given.parent_path() : given).parent_path();
        // "~/OmbrixDrives/E", or the session's link "DosDevices/E:".
        const fs::path drives = helper::userDriveFolder();
        if (name.size() == 1 && !drives.empty() && fs::equivalent(parent, drives, ec))
            return ascii::upper(name[0]);
        const fs::path links = objmgr::dosDevicesFolder(platform::currentSessionId());
        if (name.size() == 2 && name[1] == ':' && fs::equivalent(parent, links, ec))
            return ascii::upper(name[0]);
        return 0;
    };
    ports.sharedImages = [] {
        std::vector<DriveImage> images;
        // Numbers past the highest are not looked at, nor more than the catalogue can hold.
        const int hi = std::min(OMXGetIndexHiNet(), 5000 + kMaxCatalogueIndexes);
        for (client::ListedImage& listed : client::imagesInRange(5001, hi, kMaxDriveItems))
            images.push_back({listed.index, std::move(listed.description), std::move(listed.path)});
        return images;
    };
    ports.mountedFile = mounted;
    ports.treeLines = []() -> std::optional<std::vector<std::string>> {
        char value[64];
        const std::string settings = setting("OmxSettings");
        if (settings.size() < 5 || settings[4] != '0' ||
            EnvGetGlobalValue("OMXTreeLines", value, sizeof value) != 1 ||
            EnvGetGlobalValue("OMXTree_1", value, sizeof value) == 0)
            return std::nullopt;
        return helper::publishedTreeLines();
    };
    ports.insert = [](char letter, int index) { return OMXInsertIndex(letter, index); };
    return ports;
}

std::optional<char> virtualDriveOf(const std::string& folder, const DrivePorts& ports) {
    const char letter = ports.letterOfFolder ? ports.letterOfFolder(folder) : 0;
    if (letter == 0) return std::nullopt;
    const std::string letters = ports.letters ? ports.letters() : std::string();
    if (letters.find(letter) == std::string::npos) return std::nullopt;
    if (!ports.isCdDrive || !ports.isCdDrive(letter)) return std::nullopt;
    return letter;
}

std::vector<MenuEntry> driveMenu(char letter, const DrivePorts& ports) {
    std::vector<DriveImage> images =
        ports.sharedImages ? ports.sharedImages() : std::vector<DriveImage>{};
    if (images.size() > kMaxDriveItems) images.resize(kMaxDriveItems);
    std::vector<MenuEntry> items;
    if (images.empty()) {
        items.push_back(menus::disabledEntry(ports.text(text::kNoImage)));
    } else {
        const std::string inDrive = ports.mountedFile ? ports.mountedFile(letter) : "";
        const auto entryOf = [&](const DriveImage& image) {
            const std::string& shown = image.description.empty()
                                           ? fs::path(image.path).filename().string()
                                           : image.description;
            return menus::commandEntry(menus::menuText(shown), image.index,
                                       !inDrive.empty() && inDrive == image.path);
        };
        const auto lines = ports.treeLines ? ports.treeLines() : std::nullopt;
        if (lines) {
            // The tree's folders first, then the images the tree does not place.
            std::vector<menus::PlacedEntry> placed;
            for (const DriveImage& image : images)
                placed.push_back({entryOf(image), menus::foldersOf(image.path, *lines)});
            items = menus::byCategory(placed);
        } else {
            std::stable_sort(images.begin(), images.end(),
                             [](const DriveImage& a, const DriveImage& b) {
                                 return ascii::compareIgnoreCase(a.description, b.description) < 0;
                             });
            for (const DriveImage& image : images)
                items.push_back(entryOf(image));
        }
    }
    return {menus::submenu(ports.text(text::kInsertImage), std::move(items))};
}

bool invokeDriveCommand(char letter, int index, const DrivePorts& ports) {
    if (index <= 0 || !ports.insert) return false;
    return ports.insert(letter, index) == 0;
}

std::string menuLines(const std::vector<MenuEntry>& menu) {
    std::string out;
    const std::function<void(const std::vector<MenuEntry>&, int)> write =
        [&](const std::vector<MenuEntry>& entries, int depth) {
            for (const MenuEntry& entry : entries) {
                std::string flags;
                if (entry.kind == MenuEntry::Kind::Separator) flags = "-";
                if (entry.kind == MenuEntry::Kind::Submenu) flags += 's';
                if (entry.checked) flags += 'c';
                if (!entry.enabled) flags += 'd';
                std::string shown;
                for (size_t i = 0; i < entry.text.size(); ++i) {
                    // "&&" is a plain "&"; a single "&" marks a mnemonic, which plug-ins drop.
                    if (entry.text[i] == '&') {
                        if (i + 1 < entry.text.size() && entry.text[i + 1] == '&')
                            shown += '&', ++i;
                        continue;
                    }
                    // Control characters would end or split a line: a blank stands for each.
                    const unsigned char c = static_cast<unsigned char>(entry.text[i]);
                    shown += c < 0x20 || c == 0x7f ? ' ' : entry.text[i];
                }
                out += std::to_string(depth) + "\t" + std::to_string(entry.command) + "\t" + flags +
                       "\t" + shown + "\n";
                if (entry.kind == MenuEntry::Kind::Submenu) write(entry.entries, depth + 1);
            }
        };
    write(menu, 0);
    return out;
}

}  // namespace ombrix::shellext
