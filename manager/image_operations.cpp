#include "manager/image_operations.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/image_container.h"
#include "common/oxtcomm.h"
#include "common/oxtcomm_drives.h"
#include "manager/contents_texts.h"
#include "manager/image_columns.h"
#include "manager/image_contents.h"
#include "platform/ascii.h"
#include "platform/text_printf.h"

namespace ombrix::mng {
namespace {

namespace fs = std::filesystem;
using platform::format;

constexpr int kFirstGlobalIndex = 5001;
constexpr const char* kNotValid = "%s is not a valid Ombrix image. This image will not be added.";
constexpr const char* kCannotAdd =
    "Cannot add the image %s at the moment. It may be in use by another application. Please try "
    "again later.";
constexpr const char* kTooLong =
    "The folder path is too long. Please choose a shorter name or a folder nearer the root.";
constexpr const char* kInUse =
    "You cannot change the properties of the selected ombrix, because it is in use.";
constexpr const char* kCannotDelete =
    "Cannot physically delete the ombrix called '%s'. Possible causes: You do not have the "
    "required permissions, or the ombrix is in use on another computer.";

bool needsConversion(const std::string& file) {
    return ascii::endsWithIgnoreCase(file, ".iso") || ascii::endsWithIgnoreCase(file, ".zrm");
}

// A container or track part file named like `container` ignoring case: "name.om4" or
// "name.NNN" with three digits.
std::optional<std::string> imageOfBaseName(const std::string& container) {
    const fs::path file(container);
    const std::string base = file.stem().string();
    std::error_code ec;
    for (fs::directory_iterator it(file.parent_path().empty() ? "." : file.parent_path(), ec), end;
         !ec && it != end; it.increment(ec)) {
        const fs::path name = it->path().filename();
        if (!ascii::equalsIgnoreCase(name.stem().string(), base)) continue;
        const std::string extension = name.extension().string();
        const bool part = extension.size() == 4 && std::isdigit((unsigned char)extension[1]) &&
                          std::isdigit((unsigned char)extension[2]) &&
                          std::isdigit((unsigned char)extension[3]);
        if (part || ascii::equalsIgnoreCase(extension, ".om4")) return it->path().string();
    }
    return std::nullopt;
}

std::string withExtension(const std::string& path, std::string_view extension) {
    fs::path p(path);
    p.replace_extension(extension);
    return p.string();
}

// A file of `folder` named `name` ignoring case: the exact name first.
std::optional<std::string> fileNamedIgnoringCase(const fs::path& folder, const std::string& name) {
    std::error_code ec;
    if (fs::is_regular_file(folder / name, ec)) return (folder / name).string();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (ascii::equalsIgnoreCase(it->path().filename().string(), name) &&
            it->is_regular_file(ec)) {
            return it->path().string();
        }
    }
    return std::nullopt;
}

void copyText(const std::string& text, char* field, size_t size) {
    std::memset(field, 0, size);
    text.copy(field, size - 1);
}

std::string compressionText(uint8_t storage) {
    switch (storage) {
        case image::kPlain: return "none";
        case image::kLz: return "low";
        case image::kDeflate: return "high";
        default: return "medium";
    }
}

// The path of a node inside its file system ("/docs/manual.txt").
std::string pathInImage(const contents::FileSystem& files, uint32_t node) {
    std::string path;
    for (uint32_t n = node; n != 0 && n < files.nodes.size(); n = files.nodes[n].parent)
        path = "/" + files.nodes[n].name + path;
    return path.empty() ? "/" : path;
}

const contents::Node* nodeOf(const contents::ImageContents& image, size_t track, uint32_t node) {
    if (track >= image.tracks().size()) return nullptr;
    const auto& t = *image.tracks()[track];
    if (!t.walked || node >= t.files.nodes.size()) return nullptr;
    return &t.files.nodes[node];
}

// Copies a file through a temporary name beside the target, so a failed or cancelled copy
// leaves nothing behind. `copied` counts bytes across files; `report` may cancel.
int copyFile(const std::string& from, const std::string& to, uint64_t& copied, uint64_t total,
             const ProgressReport& report) {
    std::ifstream in(from, std::ios::binary);
    if (!in) return 2;
    const std::string temp = to + ".part";
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    if (!out) return 5;
    std::vector<char> buffer(1 << 20);
    while (in) {
        in.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        const std::streamsize got = in.gcount();
        if (got <= 0) break;
        if (!out.write(buffer.data(), got)) break;
        copied += static_cast<uint64_t>(got);
        if (report && !report(total > 0 ? static_cast<int>(copied * 100 / total) : 100)) {
            out.close();
            std::error_code ignored;
            fs::remove(temp, ignored);
            return 7;
        }
    }
    out.close();
    std::error_code ec;
    if (in.bad() || !out) {
        fs::remove(temp, ec);
        return 5;
    }
    fs::rename(temp, to, ec);
    if (ec) {
        fs::remove(temp, ec);
        return 5;
    }
    return 0;
}

}  // namespace

HeaderState headerState(int readResult, const OmxImageHeader& header) {
    if (readResult != 0) return kHeaderUnreadable;
    const std::string_view mark(header.containerMark,
                                strnlen(header.containerMark, sizeof header.containerMark));
    if (mark == "OMXContainer") return kHeaderValid;
    if (mark == "ZRM V1.0" || mark == "ZRM V3.0") return kHeaderOlder;
    return kHeaderUnknown;
}

std::string_view withoutLeadingBlanks(std::string_view name) {
    while (!name.empty() && name.front() == ' ')
        name.remove_prefix(1);
    return name;
}

bool validFolderName(std::string_view name) {
    name = withoutLeadingBlanks(name);
    return !name.empty() && name.find_first_of("\\/|?*<>\";,!.") == std::string_view::npos;
}

std::vector<std::string> imageFiles(const std::string& containerPath) {
    std::vector<std::string> files;
    std::error_code ec;
    if (fs::is_regular_file(containerPath, ec)) files.push_back(containerPath);
    image::Container container;
    if (image::readContainer(containerPath, container, false) == 0) {
        for (size_t track = 0; track < container.tracks.size(); ++track) {
            for (uint32_t part = 0; part < image::kMaxPartFiles; ++part) {
                if (auto file = image::findPartFile(containerPath, static_cast<int>(track),
                                                    static_cast<int>(part))) {
                    files.push_back(*file);
                }
            }
        }
    }
    const fs::path containerFile(containerPath);
    const std::string base = containerFile.stem().string();
    for (const char* extension : {".ICO", ".ANL", ".SZQ"}) {
        if (auto file = fileNamedIgnoringCase(containerFile.parent_path(), base + extension))
            files.push_back(*file);
    }
    return files;
}

std::vector<std::string> findImageFiles(const std::string& folder, ImageFileType type,
                                        const std::function<bool(size_t found)>& found) {
    static constexpr const char* kExtensions[] = {".om4", ".zrm", ".iso"};
    const char* extension = kExtensions[static_cast<int>(type)];
    std::vector<std::string> files;
    std::error_code ec;
    for (fs::recursive_directory_iterator
             it(folder, fs::directory_options::skip_permission_denied, ec),
         end;
         !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        if (!it->is_regular_file(ignored)) continue;
        const std::string name = it->path().filename().string();
        if (!ascii::endsWithIgnoreCase(name, extension)) continue;
        files.push_back(it->path().string());
        if (found && !found(files.size())) break;
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::optional<std::string> desktopEntry(const std::string& tool, const std::string& imagePath) {
    // Control characters cannot be written into an entry's values at all.
    for (const std::string* text : {&tool, &imagePath}) {
        if (std::any_of(text->begin(), text->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
            return std::nullopt;
    }
    // A value escapes its backslashes; an Exec argument in double quotes escapes quote,
    // backquote, dollar and backslash, and doubles '%' so no field code is expanded.
    auto value = [](const std::string& text) {
        std::string out;
        for (char c : text) {
            if (c == '\\') out += '\\';
            out += c;
        }
        return out;
    };
    auto argument = [&](const std::string& text) {
        std::string quoted = "\"";
        for (char c : text) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
            quoted += c;
            if (c == '%') quoted += '%';
        }
        return value(quoted + "\"");
    };
    const std::string name = fs::path(imagePath).stem().string();
    return "[Desktop Entry]\nType=Application\nName=" + value(name) +
           "\nComment=" + value("Ombrix v4 -- " + imagePath) + "\nExec=" + argument(tool) + " " +
           argument(imagePath) + "\nIcon=media-optical\nTerminal=false\n";
}

// Holds a busy flag of the document while an operation runs.
class ImageOperations::Busy {
  public:
    Busy(ImageOperations& owner, int flag) : owner_(owner), flag_(flag) {
        if (owner_.host_.busy) owner_.host_.busy->set(flag_);
    }
    ~Busy() {
        if (owner_.host_.ended) {
            owner_.host_.ended(flag_);
        } else if (owner_.host_.busy) {
            owner_.host_.busy->clear(flag_);
        }
    }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

  private:
    ImageOperations& owner_;
    int flag_;
};

ImageOperations::ImageOperations(Host host, ClientPorts ports, OperationDialogs& dialogs)
    : host_(std::move(host)), ports_(std::move(ports)), dialogs_(dialogs) {}

void ImageOperations::log(int level, const std::string& line) const {
    if (host_.log) host_.log(level, line);
}

bool ImageOperations::localWritable() const {
    return ports_.localCatalogueWritable && ports_.localCatalogueWritable();
}

bool ImageOperations::catalogueWritable(int index) const {
    const AccessState a = access();
    return index >= kFirstGlobalIndex ? a.canChangeGlobalCatalogue
                                      : a.canChangeLocalCatalogue && localWritable();
}

int ImageOperations::rangeFor(const std::string& folder) const {
    const AccessState a = access();
    const bool local = a.canChangeLocalCatalogue && localWritable();
    const TreeFile joint = a.useGlobalImages && a.canChangeGlobalCatalogue ? TreeFile::Global
                           : local                                         ? TreeFile::Local
                                                                           : TreeFile::Global;
    return host_.document->branchOf(folder, joint) == TreeFile::Global ? OMX_RANGE_SHARED
                                                                       : OMX_RANGE_LOCAL;
}

std::string ImageOperations::rootFor(int index) const {
    const std::vector<std::string> roots = host_.document->roots();
    return roots.size() == 1 || index < kFirstGlobalIndex ? roots.front() : roots.back();
}

void ImageOperations::treeChanged() {
    if (host_.saveTrees) host_.saveTrees();
    if (host_.show) host_.show();
}

bool ImageOperations::hasPassword(const std::string& path) const {
    OmxImageHeader header{};
    return ports_.header(path, header) == 0 && header.passwordDigest[0] != '\0';
}

bool ImageOperations::linesFit(std::string_view from, std::string_view to) const {
    // A line is the folder path without the branch prefix, "|", the image file, CR LF; the
    // reader takes lines of at most 530 bytes.
    constexpr size_t kWindow = 530;
    const size_t prefix =
        host_.document->separated()
            ? host_.document->prefixOf(host_.document->branchOf(to, TreeFile::Global)).size()
            : 0;
    for (const TreeEntry& e : host_.document->tree().all()) {
        if (e.id == TreeEntry::kDropped || !ascii::startsWithIgnoreCase(e.path, from)) continue;
        size_t length = e.path.size() - from.size() + to.size() - prefix + 3;
        if (e.isImage()) {
            if (e.path.back() == '!') --length;
            const CatalogueImage* image = host_.document->image(e.id);
            length += image != nullptr ? image->path.size() : 0;
        }
        if (length > kWindow) return false;
    }
    return true;
}

bool ImageOperations::treeWritable(const std::string& folder) const {
    const AccessState a = access();
    if (!host_.document->separated()) return a.anyTreeWritable();
    return host_.document->branchOf(folder, TreeFile::Global) == TreeFile::Global
               ? a.canChangeGlobalTree
               : a.canChangeLocalTree;
}

// ---- Adding ----

bool ImageOperations::mayAddTo(const std::string& folder) const {
    const bool writable =
        catalogueWritable(rangeFor(folder) == OMX_RANGE_SHARED ? kFirstGlobalIndex : 1);
    return writable && treeWritable(folder);
}

void ImageOperations::add(const std::string& folder) {
    if (!mayAddTo(folder)) return;
    const std::vector<std::string> files = dialogs_.chooseImageFiles();
    if (!files.empty()) addFiles(files, folder);
}

std::vector<int> ImageOperations::addFiles(const std::vector<std::string>& files,
                                           const std::string& folder,
                                           std::optional<bool> keepSources) {
    if (!mayAddTo(folder)) return {};
    Busy busy(*this, kBusyAdding);
    const int toConvert =
        static_cast<int>(std::count_if(files.begin(), files.end(), needsConversion));
    bool conversionRefused = false;
    int converting = 0;
    std::vector<int> added;
    for (const std::string& file : files) {
        std::string path = file;
        if (needsConversion(file)) {
            if (!keepSources && !conversionRefused) {
                keepSources = dialogs_.askConversion();
                conversionRefused = !keepSources;
            }
            if (conversionRefused) continue;
            auto converted = convert(file, ++converting, toConvert, *keepSources);
            if (!converted) continue;
            path = *converted;
        }
        const int index = addOne(path, folder);
        if (index > 0) added.push_back(index);
    }
    if (!added.empty()) {
        treeChanged();
        if (host_.select) host_.select(added.back());
    }
    return added;
}

std::optional<std::string> ImageOperations::convert(const std::string& path, int number, int count,
                                                    bool keepSource) {
    const std::string target = withExtension(path, ".om4");
    std::error_code ec;
    // The converter would replace an image that already lies there (in any letter case, with
    // its track part files), and that image may be catalogued or in a drive: it is left alone
    // and the user told.
    if (auto existing = imageOfBaseName(target)) {
        dialogs_.tell(format("Cannot convert %s. Error: %s.", path.c_str(),
                             ("the image file " + *existing + " already exists").c_str()),
                      ui::Icon::Error);
        return std::nullopt;
    }
    const bool iso = ascii::endsWithIgnoreCase(path, ".iso");
    std::string error;
    const int result = dialogs_.runConversion(number, count, path, [&](const ProgressReport& r) {
        const int code = iso ? ports_.convertIso(path, r) : ports_.convertOlder(path, r);
        // The converter keeps its error text per thread: it is read on the converting one.
        if (code == 5 && ports_.lastConversionError) error = ports_.lastConversionError();
        return code;
    });
    log(1, format("Convert %s: %d", path.c_str(), result));
    switch (result) {
        case 0:
            if (!keepSource) fs::remove(path, ec);
            return target;
        case 2:
        case 8:
            dialogs_.tell(format("%s is not a valid image file.", path.c_str()), ui::Icon::Error);
            break;
        case 5:
            dialogs_.tell(error.empty() ? format("Cannot convert %s.", path.c_str())
                                        : format("Cannot convert %s. Error: %s.", path.c_str(),
                                                 error.c_str()),
                          ui::Icon::Error);
            break;
        case 7: break;
        default: dialogs_.tell(format("Cannot convert %s.", path.c_str()), ui::Icon::Error);
    }
    return std::nullopt;
}

int ImageOperations::addOne(const std::string& file, const std::string& folder) {
    log(1, format("AddImage|BaseData (BEGIN) %s", file.c_str()));
    OmxImageInfo record{};
    copyText(file, record.path, sizeof record.path);
    const int index = ports_.addImage(record, rangeFor(folder));
    log(1, format("AddImage|BaseData (END) id= %d", index));
    if (index <= 0) {
        OmxImageHeader header{};
        const HeaderState state = headerState(ports_.header(file, header), header);
        const bool invalid = state == kHeaderUnknown || state == kHeaderOlder;
        dialogs_.tell(format(invalid ? kNotValid : kCannotAdd, file.c_str()), ui::Icon::Error);
        return -1;
    }
    CatalogueImage image;
    if (auto known = ports_.catalogueImage ? ports_.catalogueImage(index) : std::nullopt) {
        image = std::move(*known);
    } else {
        image.index = index;
        image.path = record.path;
        image.description = record.description;
    }
    host_.document->addImage(std::move(image));
    // An image the library put into the other range than the folder's branch goes to the root
    // of its own branch, so the tree files never hold it under the wrong one.
    const bool sameBranch = !host_.document->separated() ||
                            inRange(host_.document->branchOf(folder, TreeFile::Global), index);
    placeInTree(index, sameBranch ? folder : rootFor(index));
    return index;
}

bool ImageOperations::holdsIn(const std::string& folder, int index) const {
    for (const std::string& f : host_.document->tree().foldersOf(index)) {
        if (comparePaths(f, folder) == 0) return true;
    }
    return false;
}

bool ImageOperations::placeInTree(int index, const std::string& folder) {
    return host_.document->tree().insert(folder + "!", index);
}

void ImageOperations::find(const std::string& folder, bool convertMode) {
    FindSetup setup;
    setup.folder = host_.setting ? host_.setting("LastSearchPath") : std::string();
    setup.type = convertMode ? ImageFileType::Zrm : ImageFileType::Om4;
    setup.search = [](const std::string& where, ImageFileType type,
                      const std::function<bool(size_t)>& found) {
        return findImageFiles(where, type, found);
    };
    const std::optional<FindResult> result = dialogs_.findImages(setup);
    if (!result) return;
    if (host_.setSetting) host_.setSetting("LastSearchPath", result->folder);
    if (!result->files.empty()) addFiles(result->files, folder, result->keepSources);
}

// ---- Drives ----

bool ImageOperations::insert(char letter, int index) {
    if (!access().mayInsertEject) return false;
    MngDocument& document = *host_.document;
    const CatalogueImage* found = document.image(index);
    if (found == nullptr) return false;
    // The library may ask for a password or report a failure in a window: what is needed
    // afterwards is kept here, not in the document.
    const std::string path = found->path;
    const char defaultDrive = found->defaultDrive;
    if (letter == 0) {
        // The image's own drive when the session has it, else the first empty one, else the
        // first.
        const auto& drives = document.drives();
        for (const auto& d : drives) {
            if (ascii::upper(defaultDrive) == d.letter) letter = d.letter;
        }
        for (const auto& d : drives) {
            if (letter == 0 && d.imagePath.empty() && d.index < 0) letter = d.letter;
        }
        if (letter == 0 && !drives.empty()) letter = drives.front().letter;
        if (letter == 0) return false;
    }
    Busy busy(*this, kBusyList);
    OmxImageHeader header{};
    if (headerState(ports_.header(path, header), header) == kHeaderUnreadable)
        log(1, "header unreadable: " + path);
    log(1, format("*INSERT %d --- |%s  --> %c:", index, path.c_str(), letter));
    const int result = ports_.insertIndex(letter, index);
    if (result != 0) {
        ports_.reportInsertError(result);
        return false;
    }
    document.setDrive(letter, index, path);
    if (defaultDrive == 0 || defaultDrive == '0' || defaultDrive == ' ') {
        OmxImageInfo record{};
        if (ports_.imageInfo(index, record)) {
            record.driveLetter = letter;
            CatalogueImage* image = document.image(index);
            if (ports_.setImageInfo(index, record) && image != nullptr)
                image->defaultDrive = letter;
        }
    }
    if (host_.show) host_.show();
    return true;
}

bool ImageOperations::eject(char letter) {
    if (!access().mayInsertEject) return false;
    MngDocument& document = *host_.document;
    const auto& drives = document.drives();
    auto drive = std::find_if(drives.begin(), drives.end(),
                              [letter](const VirtualDrive& d) { return d.letter == letter; });
    if (drive == drives.end()) return false;
    log(1, format("*EJECT %d --- %c:", drive->index, letter));
    Busy busy(*this, kBusyList);
    const int result = ports_.eject(letter);
    if (result != 0) {
        ports_.reportInsertError(result);
        return false;
    }
    document.setDrive(letter, -1, "");
    if (host_.show) host_.show();
    return true;
}

void ImageOperations::ejectAll() {
    std::string held;
    for (const auto& d : host_.document->drives()) {
        if (d.index > 0 || !d.imagePath.empty()) held += d.letter;
    }
    for (char letter : held)
        eject(letter);
}

bool ImageOperations::ejectPhysical(char letter) {
    log(1, format("*EJECT CD %c:", letter));
    return ports_.ejectPhysical(letter);
}

void ImageOperations::ejectAllPhysical() {
    for (char letter : host_.document->physicalDrives())
        ejectPhysical(letter);
}

void ImageOperations::explore(char letter) {
    const std::string folder = ports_.driveFolder(letter);
    if (folder.empty() || ports_.openDocument(folder) != 0) {
        dialogs_.tell(format("Cannot open the '%s' file.", folder.c_str()), ui::Icon::Error);
    }
}

// ---- Deleting ----

bool ImageOperations::deleteImageFiles(const CatalogueImage& image) {
    const std::vector<std::string> files = imageFiles(image.path);
    if (files.empty()) return false;
    // Every file's folder must let us remove names before the first goes, so a refusal leaves
    // the image whole.
    for (const std::string& file : files) {
        const std::string folder = fs::path(file).parent_path().string();
        if (::access(folder.empty() ? "." : folder.c_str(), W_OK | X_OK) != 0) return false;
    }
    // The container goes last: until then the image stays readable as far as it was.
    std::error_code ec;
    for (auto it = files.rbegin(); it != files.rend(); ++it) {
        if (!fs::remove(*it, ec) && ec) {
            log(2, "cannot delete " + *it + ": " + ec.message());
            return false;
        }
    }
    const fs::path folder = fs::path(image.path).parent_path();
    if (fs::is_empty(folder, ec) && !ec) fs::remove(folder, ec);
    return true;
}

std::optional<std::string> ImageOperations::deleteFromDisk(const CatalogueImage& image) {
    // The password as the file has it now, not as the list read it.
    std::string typed;
    if (hasPassword(image.path) && !ports_.verifyPassword(image.path, typed)) {
        return format("Wrong password. The ombrix '%s' was not deleted from the hard disk.",
                      image.description.c_str());
    }
    if (ports_.checkAccess(image.path, OMX_ACCESS_WRITE) != 0)
        return format(kCannotDelete, image.description.c_str());
    // The drives of this session let go of it first (gathered before the first eject).
    std::string letters;
    for (const VirtualDrive& d : host_.document->drives()) {
        if (d.index == image.index) letters += d.letter;
    }
    for (char letter : letters) {
        if (ports_.eject(letter) == 0) host_.document->setDrive(letter, -1, "");
    }
    // The files go first: when they cannot, the image stays catalogued and in its folders,
    // so nothing is lost.
    if (!deleteImageFiles(image)) return format(kCannotDelete, image.description.c_str());
    return std::nullopt;
}

void ImageOperations::forgetImage(int index) {
    host_.document->tree().dropImage(index);
    ports_.removeImage(index);
    host_.document->removeImage(index);
}

void ImageOperations::deleteImages(const std::vector<TreeItem>& images) {
    Busy busy(*this, kBusyDeleting);
    bool fromDisk = false;
    bool all = false;
    bool changed = false;
    std::vector<int> done;
    for (const TreeItem& item : images) {
        if (std::find(done.begin(), done.end(), item.index) != done.end()) continue;
        const CatalogueImage* found = host_.document->image(item.index);
        if (found == nullptr || !catalogueWritable(item.index)) continue;
        const CatalogueImage image = *found;
        if (!all) {
            const DeleteAnswer answer = dialogs_.askDeleteImage(image.description, fromDisk);
            if (answer == DeleteAnswer::Cancel) break;
            if (answer == DeleteAnswer::No) continue;
            all = answer == DeleteAnswer::YesToAll;
        }
        done.push_back(item.index);
        if (fromDisk) {
            if (auto refusal = deleteFromDisk(image)) {
                dialogs_.tell(*refusal, ui::Icon::Error);
                continue;
            }
        }
        log(1, format("Delete image %d (%s)", item.index, image.path.c_str()));
        forgetImage(item.index);
        changed = true;
    }
    if (changed) {
        treeChanged();
    }
}

void ImageOperations::deleteFolder(const std::string& folder) {
    MngDocument& document = *host_.document;
    if (folder.size() < 2 || !treeWritable(folder)) return;
    const std::vector<std::string> roots = document.roots();
    if (std::find(roots.begin(), roots.end(), folder) != roots.end()) return;
    const FolderDeletion choice = dialogs_.askDeleteFolder(folder);
    if (choice == FolderDeletion::Cancel) return;
    Busy busy(*this, kBusyDeleting);
    // Images that keep no other place go to the root of their branch.
    const std::string root =
        roots.size() == 1 || document.branchOf(folder, TreeFile::Global) == TreeFile::Local
            ? roots.front()
            : roots.back();
    const std::vector<int> images = document.tree().dropFolder(folder);
    for (int index : images) {
        const CatalogueImage* found = document.image(index);
        if (found == nullptr) continue;
        const CatalogueImage image = *found;
        switch (choice) {
            case FolderDeletion::MoveToRoot:
                if (!document.tree().holdsImage(index)) placeInTree(index, root);
                break;
            case FolderDeletion::Exclude:
                if (catalogueWritable(index)) {
                    forgetImage(index);
                } else if (!document.tree().holdsImage(index)) {
                    placeInTree(index, root);
                }
                break;
            case FolderDeletion::DeleteEntirely: {
                std::optional<std::string> refusal =
                    catalogueWritable(index) ? deleteFromDisk(image)
                                             : format(kCannotDelete, image.description.c_str());
                if (!refusal) {
                    forgetImage(index);
                } else {
                    dialogs_.tell(*refusal, ui::Icon::Error);
                    if (!document.tree().holdsImage(index)) placeInTree(index, root);
                }
                break;
            }
            case FolderDeletion::Cancel: break;
        }
    }
    treeChanged();
}

// ---- Folders ----

std::string ImageOperations::newFolder(const std::string& parent) {
    if (!treeWritable(parent)) return {};
    Busy busy(*this, kBusyNewFolder);
    ImageTree& tree = host_.document->tree();
    std::string path = parent + "New Folder\\";
    for (int n = 2; tree.folder(path) != nullptr; ++n)
        path = parent + format("New Folder (%d)", n) + "\\";
    const AccessState a = access();
    int bits = TreeEntry::kFolder;
    if (host_.document->separated()) {
        bits |= folderBit(host_.document->branchOf(parent, TreeFile::Global));
    } else {
        if (a.canChangeLocalTree) bits |= TreeEntry::kLocalBit;
        if (a.canChangeGlobalTree) bits |= TreeEntry::kGlobalBit;
    }
    if (!linesFit(path, path)) {
        dialogs_.tell(kTooLong, ui::Icon::Error);
        return {};
    }
    tree.insert(path, bits);
    treeChanged();
    return path;
}

bool ImageOperations::renameFolder(const std::string& folder, const std::string& name) {
    if (!treeWritable(folder)) return false;
    const std::string_view trimmed = withoutLeadingBlanks(name);
    if (!validFolderName(trimmed)) {
        dialogs_.tell(
            "The file name field is empty or contains one or more characters that are not "
            "allowed.",
            ui::Icon::Error);
        return false;
    }
    const std::string target = parentFolder(folder) + std::string(trimmed) + "\\";
    if (comparePaths(target, folder) == 0 && target == folder) return true;
    if (comparePaths(target, folder) != 0 && host_.document->tree().folder(target) != nullptr) {
        dialogs_.tell(format("A folder with the name '%s' already exists.\n Please choose a "
                             "different name.",
                             std::string(trimmed).c_str()),
                      ui::Icon::Error);
        return false;
    }
    if (!linesFit(folder, target)) {
        dialogs_.tell(kTooLong, ui::Icon::Error);
        return false;
    }
    Busy busy(*this, kBusyTree);
    host_.document->tree().moveFolder(folder, target);
    treeChanged();
    return true;
}

// ---- Properties ----

void ImageOperations::properties(int index) {
    const CatalogueImage* found = host_.document->image(index);
    if (found == nullptr) return;
    const CatalogueImage image = *found;
    const AccessState a = access();
    const bool canEdit = catalogueWritable(index);
    bool canWriteFile = ports_.checkAccess(image.path, OMX_ACCESS_WRITE) == 0;
    std::string password;
    if (image.password && canWriteFile && !ports_.verifyPassword(image.path, password))
        canWriteFile = false;
    log(1,
        format("ShowImageProperties (bCanEdit:%s   bCanWriteCD:%s   HasPwd:%s",
               canEdit ? "yes" : "no", canWriteFile ? "yes" : "no", image.password ? "yes" : "no"));

    OmxImageInfo record{};
    const bool haveRecord = ports_.imageInfo(index, record);
    ImageProperties shown;
    shown.description = image.description;
    shown.program = record.program;
    shown.workingDirectory = record.parameters;
    const char drive = ascii::upper(record.driveLetter);
    shown.defaultDrive = drive >= 'A' && drive <= 'Z' ? drive : 0;
    shown.ejectOnExit = record.flag != 0;
    shown.hotkey = static_cast<uint16_t>(record.firstNumber);
    bool labelChangeable = false;
    shown.label = ports_.label ? ports_.label(image.path, labelChangeable) : std::string();
    OmxImageHeader header{};
    const int headerRead = ports_.header(image.path, header);
    if (headerRead == 0 && header.commentLength > 0 && ports_.comment)
        shown.comment = ports_.comment(image.path);
    shown.fileName = image.path;
    shown.sizeMegabytes = format("%.1f", static_cast<double>(image.sizeBytes) / (1024.0 * 1024.0));
    shown.created = MngDocument::createdText(image.created);
    for (const auto& d : host_.document->drives()) {
        if (d.index == index)
            shown.inUse += std::string(shown.inUse.empty() ? "" : " ") + d.letter + ":";
    }
    shown.cdType = cdTypeText(image.discType);
    image::Container container;
    if (image::readContainer(image.path, container, false) == 0) {
        for (size_t t = 0; t < container.tracks.size(); ++t) {
            const image::TrackRecord& track = container.tracks[t];
            ImageProperties::Track row;
            row.name = format("Track %.2d", static_cast<int>(t + 1));
            row.compression = compressionText(track.compressed);
            row.type = (track.kind & image::kAudioTrack) ? "Digital audio track" : "Data track";
            shown.tracks.push_back(row);
        }
    }
    shown.folders = host_.document->tree().foldersOf(index);

    PropertyEditing editing;
    editing.description = canEdit && canWriteFile;
    editing.catalogueFields = canEdit && haveRecord;
    editing.label = canEdit && canWriteFile && labelChangeable;
    editing.comment = canEdit && canWriteFile;
    editing.changePassword = canEdit && canWriteFile;
    editing.createShortcut = a.mayInsertEject && a.haveCommandLineTool;

    ImageProperties edited = shown;
    Busy busy(*this, kBusyTree);
    bool passwordChanged = false;
    const bool ok = dialogs_.editProperties(
        edited, editing, [&] { passwordChanged |= changePassword(image.path, password); },
        [&] { createShortcut(image); });
    // A new password shows in the list (and guards deleting) at once.
    auto showPassword = [&] {
        if (CatalogueImage* now = host_.document->image(index))
            now->password = hasPassword(image.path);
    };
    if (!ok || edited == shown) {
        if (passwordChanged) {
            showPassword();
            if (host_.show) host_.show();
        }
        return;
    }

    bool inUse = false;
    bool descriptionWritten = false;
    if (editing.description && edited.description != shown.description) {
        descriptionWritten = ports_.setDescription(image.path, edited.description);
        inUse = !descriptionWritten;
    }
    if (editing.label && edited.label != shown.label && !ports_.setLabel(image.path, edited.label))
        inUse = true;
    if (editing.comment && edited.comment != shown.comment &&
        !ports_.setComment(image.path, edited.comment.substr(0, 127)))
        inUse = true;
    if (inUse) dialogs_.tell(kInUse, ui::Icon::Warning);

    const bool recordChanged =
        edited.program != shown.program || edited.workingDirectory != shown.workingDirectory ||
        edited.defaultDrive != shown.defaultDrive || edited.ejectOnExit != shown.ejectOnExit ||
        edited.hotkey != shown.hotkey || descriptionWritten;
    // The record is read again, so what other programs changed while the sheet was open stays;
    // only the fields edited here are put into it.
    if (editing.catalogueFields && recordChanged && ports_.imageInfo(index, record)) {
        copyText(edited.program, record.program, sizeof record.program);
        copyText(edited.workingDirectory, record.parameters, sizeof record.parameters);
        // The catalogue's description follows the image file's, never runs ahead of it.
        if (descriptionWritten)
            copyText(edited.description, record.description, sizeof record.description);
        record.driveLetter = edited.defaultDrive;
        record.flag = edited.ejectOnExit ? 1 : 0;
        record.firstNumber = static_cast<int16_t>(edited.hotkey);
        log(1, format("SetMNGData|BaseData %d", index));
        if (!ports_.setImageInfo(index, record)) {
            dialogs_.tell(format("The catalogue entry of '%s' could not be changed.",
                                 image.description.c_str()),
                          ui::Icon::Error);
        }
    }
    if (auto known = ports_.catalogueImage ? ports_.catalogueImage(index) : std::nullopt) {
        host_.document->addImage(std::move(*known));
    }
    showPassword();
    if (host_.show) host_.show();
}

bool ImageOperations::changePassword(const std::string& path, const std::string& oldPassword) {
    std::string old = oldPassword;
    if (hasPassword(path) && old.empty() && !ports_.verifyPassword(path, old)) return false;
    const auto typed = dialogs_.askNewPassword();
    if (!typed) return false;
    if (typed->first != typed->second) {
        dialogs_.tell("The passwords entered were not identical.", ui::Icon::Error);
        return false;
    }
    if (ports_.setPassword(path, old, typed->first) != 0) {
        dialogs_.tell("Password not changed; please check your input.", ui::Icon::Error);
        return false;
    }
    return true;
}

void ImageOperations::createShortcut(const CatalogueImage& image) {
    const std::string tool = ports_.programFile ? ports_.programFile("OXTCmd.exe") : "";
    if (host_.desktopFolder.empty() || tool.empty()) return;
    const auto text = desktopEntry(tool, image.path);
    if (!text) {
        dialogs_.tell(format("Cannot create a shortcut for %s.", image.path.c_str()),
                      ui::Icon::Error);
        return;
    }
    std::error_code ec;
    fs::create_directories(host_.desktopFolder, ec);
    // A shortcut of another image of the same name is not replaced.
    const std::string name = fs::path(image.path).stem().string();
    std::string file = host_.desktopFolder + "/" + name + ".desktop";
    for (int n = 2; fs::exists(file, ec); ++n)
        file = host_.desktopFolder + "/" + name + format(" (%d)", n) + ".desktop";
    const std::string temp = file + ".tmp";
    std::ofstream out(temp, std::ios::trunc);
    out << *text;
    out.close();
    if (!out) {
        fs::remove(temp, ec);
        dialogs_.tell(format("Cannot create the shortcut %s.", file.c_str()), ui::Icon::Error);
        return;
    }
    fs::permissions(temp, fs::perms::owner_exec, fs::perm_options::add, ec);
    fs::rename(temp, file, ec);
    log(1, "Shortcut " + file);
}

// ---- Drag and drop, transfers ----

bool ImageOperations::dropOnDrive(const std::vector<TreeItem>& items, char letter) {
    if (items.size() != 1 || items.front().index <= 0) return false;
    char locked[64] = "";
    const std::string admin = ports_.adminDriveLetters ? ports_.adminDriveLetters() : "";
    std::strncpy(locked, admin.c_str(), sizeof locked - 1);
    if (std::strchr(locked, letter) != nullptr) {
        dialogs_.tell(format("The drive %c: is locked by the administrator.", letter),
                      ui::Icon::Warning);
        return false;
    }
    return insert(letter, items.front().index);
}

bool ImageOperations::dropOnFolder(const std::vector<TreeItem>& items, const std::string& target,
                                   bool copy) {
    MngDocument& document = *host_.document;
    ImageTree& tree = document.tree();
    const TreeFile targetBranch = document.branchOf(target, TreeFile::Global);
    if (copy) {
        std::vector<int> across;
        bool changed = false;
        for (const TreeItem& item : items) {
            if (item.index <= 0) continue;
            if (document.separated() &&
                document.branchOf(item.folder, TreeFile::Global) != targetBranch) {
                across.push_back(item.index);
                continue;
            }
            if (!catalogueWritable(item.index) || !treeWritable(target)) continue;
            if (holdsIn(target, item.index)) continue;
            changed |= placeInTree(item.index, target);
        }
        if (changed) {
            treeChanged();
        }
        if (!across.empty()) changed |= transfer(across, target);
        return changed;
    }
    Busy busy(*this, kBusyList);
    bool changed = false;
    for (const TreeItem& item : items) {
        if (!treeWritable(item.folder) || !treeWritable(target)) continue;
        if (document.separated() &&
            document.branchOf(item.folder, TreeFile::Global) != targetBranch)
            continue;
        if (item.index > 0) {
            if (comparePaths(item.folder, target) == 0) continue;
            // A move into a folder that already holds the image only leaves the old place.
            if (!tree.dropEntry(item.folder, item.index)) continue;
            if (!holdsIn(target, item.index)) placeInTree(item.index, target);
            changed = true;
            continue;
        }
        // A folder cannot go into itself or below itself, and a branch root stays.
        const auto roots = document.roots();
        if (std::find(roots.begin(), roots.end(), item.folder) != roots.end()) continue;
        if (ascii::startsWithIgnoreCase(target, item.folder)) continue;
        if (comparePaths(parentFolder(item.folder), target) == 0) continue;
        const std::string moved = target + folderName(item.folder) + "\\";
        if (tree.folder(moved) != nullptr) {
            dialogs_.tell(format("A folder with the name '%s' already exists.\n Please choose a "
                                 "different name.",
                                 folderName(item.folder).c_str()),
                          ui::Icon::Error);
            continue;
        }
        if (!linesFit(item.folder, moved)) {
            dialogs_.tell(kTooLong, ui::Icon::Error);
            continue;
        }
        tree.moveFolder(item.folder, moved);
        changed = true;
    }
    if (changed) {
        treeChanged();
    }
    return changed;
}

bool ImageOperations::transfer(const std::vector<int>& indexes, const std::string& targetFolder) {
    MngDocument& document = *host_.document;
    if (indexes.empty()) return false;
    const bool fromNetwork = indexes.front() >= kFirstGlobalIndex;
    for (int index : indexes) {
        if ((index >= kFirstGlobalIndex) != fromNetwork) {
            dialogs_.tell(
                "Your selection includes both local and network CDs. Please select the seperated "
                "view to move local and network CDs separately.",
                ui::Icon::Warning);
            return false;
        }
    }
    const AccessState a = access();
    const bool toNetwork = !fromNetwork;
    if (!(toNetwork ? a.canChangeGlobalCatalogue : a.canChangeLocalCatalogue)) return false;
    uint64_t bytes = 0;
    for (int index : indexes) {
        if (const CatalogueImage* image = document.image(index)) {
            std::error_code ec;
            for (const std::string& file : imageFiles(image->path)) {
                const uintmax_t size = fs::file_size(file, ec);
                if (!ec) bytes += size;
            }
        }
    }
    CopyRequest request;
    request.count = static_cast<int>(indexes.size());
    request.toNetwork = toNetwork;
    request.megabytes = (bytes + (1u << 20) - 1) >> 20;
    const char* lastKey = toNetwork ? "LastCopyPathGlobal" : "LastCopyPathLocal";
    request.folder = host_.setting ? host_.setting(lastKey) : std::string();
    const std::optional<CopyChoice> choice = dialogs_.askCopy(request);
    if (!choice) return false;
    if (choice->copyFiles) {
        std::error_code ec;
        fs::create_directories(choice->folder, ec);
        if (choice->folder.empty() || !fs::is_directory(choice->folder, ec)) {
            dialogs_.tell(
                "Please check the path you specified. The path as entered was not found and "
                "cannot be created.",
                ui::Icon::Error);
            return false;
        }
        const fs::space_info space = fs::space(choice->folder, ec);
        if (ec || space.available < bytes) {
            dialogs_.tell("Not enough space available to copy the ombrix(s) to the selected path.",
                          ui::Icon::Error);
            return false;
        }
        if (host_.setSetting) host_.setSetting(lastKey, choice->folder);
    }
    Busy busy(*this, kBusyList);
    bool changed = false;
    for (int index : indexes) {
        changed |=
            transferOne(index, choice->copyFiles, choice->folder, toNetwork, targetFolder) > 0;
    }
    if (changed) {
        treeChanged();
    }
    return changed;
}

int ImageOperations::transferOne(int index, bool copyFiles, const std::string& copyFolder,
                                 bool toNetwork, const std::string& targetFolder) {
    MngDocument& document = *host_.document;
    const CatalogueImage* found = document.image(index);
    OmxImageInfo record{};
    if (found == nullptr || !ports_.imageInfo(index, record)) return -1;
    const CatalogueImage image = *found;
    std::vector<std::string> copies;
    auto removeCopies = [&] {
        std::error_code ec;
        for (const auto& c : copies)
            fs::remove(c, ec);
        if (!copies.empty()) fs::remove(fs::path(copies.front()).parent_path(), ec);
    };
    if (copyFiles) {
        const std::vector<std::string> files = imageFiles(image.path);
        if (files.empty()) {
            dialogs_.tell(format("Image '%s' not found. Are you sure this is a .om4 image?",
                                 image.path.c_str()),
                          ui::Icon::Error);
            return -1;
        }
        const std::string name = fs::path(image.path).stem().string();
        std::string folder = copyFolder + "/" + name;
        std::error_code ec;
        for (int n = 2; fs::exists(folder, ec); ++n)
            folder = copyFolder + "/" + name + format(" (%d)", n);
        if (!fs::create_directory(folder, ec)) {
            dialogs_.tell(format("Cannot copy the ombrix called '%s'", image.description.c_str()),
                          ui::Icon::Error);
            return -1;
        }
        uint64_t total = 0;
        for (const auto& f : files) {
            const uintmax_t size = fs::file_size(f, ec);
            if (!ec) total += size;
        }
        const std::string title =
            format("Copying CD '%s' %s", image.description.c_str(),
                   toNetwork ? "from local to network" : "from network to local");
        const int result = dialogs_.runCopy(title, [&](const ProgressReport& report) {
            uint64_t copied = 0;
            for (const auto& f : files) {
                const std::string to = folder + "/" + fs::path(f).filename().string();
                const int r = copyFile(f, to, copied, total, report);
                if (r != 0) return r;
                copies.push_back(to);
            }
            return 0;
        });
        if (result != 0) {
            removeCopies();
            fs::remove(folder, ec);
            if (result != 7) {
                dialogs_.tell(
                    format("Cannot copy the ombrix called '%s'", image.description.c_str()),
                    ui::Icon::Error);
            }
            return -1;
        }
        copyText(folder + "/" + fs::path(image.path).filename().string(), record.path,
                 sizeof record.path);
    }
    // The target catalogue takes the image before the source lets it go, so a failure leaves
    // both as they were.
    const int added = ports_.addImage(record, toNetwork ? OMX_RANGE_SHARED : OMX_RANGE_LOCAL);
    if (added <= 0) {
        removeCopies();
        dialogs_.tell(format("Cannot copy the ombrix called '%s'", image.description.c_str()),
                      ui::Icon::Error);
        return -1;
    }
    // The added entry keeps the fields of the old one.
    ports_.setImageInfo(added, record);
    forgetImage(index);
    CatalogueImage moved = image;
    moved.index = added;
    moved.path = record.path;
    if (auto known = ports_.catalogueImage ? ports_.catalogueImage(added) : std::nullopt)
        moved = std::move(*known);
    document.addImage(std::move(moved));
    placeInTree(added, targetFolder);
    return added;
}

// ---- The contents pane ----

std::string ImageOperations::extractToTemporary(const contents::ImageContents& image, size_t track,
                                                uint32_t node, int& error) {
    const contents::Node* file = nodeOf(image, track, node);
    error = 0;
    if (file == nullptr) return {};
    std::error_code ec;
    if (host_.temporaryFolder.empty() || !fs::is_directory(host_.temporaryFolder, ec)) {
        dialogs_.tell("Temp directory not found.", ui::Icon::Error);
        error = 3;
        return {};
    }
    // The folder is the user's own: made with no rights for others, and used only when it is
    // a real folder of this user (never a link another account put there).
    const std::string folder = host_.temporaryFolder + "/Ombrix 4";
    ::mkdir(folder.c_str(), 0700);
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        info.st_uid != ::geteuid() || (info.st_mode & 077) != 0) {
        dialogs_.tell("Error creating Ombrix temp directory.", ui::Icon::Error);
        error = 3;
        return {};
    }
    const std::string target = folder + "/" + file->name;
    error = image.extract(track, node, target, true);
    if (error != 0) {
        dialogs_.tell(format("Cannot extract the '%s' file.", file->name.c_str()), ui::Icon::Error);
        return {};
    }
    return target;
}

void ImageOperations::openFile(const contents::ImageContents& image, size_t track, uint32_t node) {
    // The pane's reader stays as it is while this runs: the document is not read again.
    Busy busy(*this, kBusyList);
    const contents::Node* file = nodeOf(image, track, node);
    if (file == nullptr || file->directory) return;
    int error = 0;
    const std::string target = extractToTemporary(image, track, node, error);
    if (error != 0) return;
    const int result = ports_.openDocument(target);
    if (result == 31) {
        dialogs_.tell(format("There is no program linked to the '%s' file.", file->name.c_str()),
                      ui::Icon::Information);
    } else if (result == 2) {
        dialogs_.tell(format("'%s' file not found. ", file->name.c_str()), ui::Icon::Error);
    } else if (result != 0) {
        dialogs_.tell(format("Cannot open the '%s' file.", file->name.c_str()), ui::Icon::Error);
    }
}

void ImageOperations::extractFile(const contents::ImageContents& image, size_t track,
                                  uint32_t node) {
    // The pane's reader stays as it is while this runs: the document is not read again.
    Busy busy(*this, kBusyList);
    const contents::Node* file = nodeOf(image, track, node);
    if (file == nullptr || file->directory) return;
    const std::string start = host_.setting ? host_.setting("LastExtractPath") : std::string();
    const auto folder = dialogs_.chooseFolder("Extract", start);
    if (!folder) return;
    const std::string target = *folder + "/" + file->name;
    std::error_code ec;
    bool overwrite = false;
    if (fs::exists(target, ec)) {
        if (!dialogs_.ask(
                format("The file '%s' already exists. Do you want to replace it?", target.c_str())))
            return;
        overwrite = true;
    }
    if (image.extract(track, node, target, overwrite) != 0) {
        dialogs_.tell(format("Cannot extract the '%s' file.", file->name.c_str()), ui::Icon::Error);
        return;
    }
    if (host_.setSetting) host_.setSetting("LastExtractPath", *folder);
}

void ImageOperations::fileInformation(const contents::ImageContents& image, size_t track,
                                      uint32_t node) {
    const contents::Node* file = nodeOf(image, track, node);
    if (file == nullptr) return;
    FileInformation info;
    info.name = file->name;
    const size_t dot = file->name.rfind('.');
    info.type = file->directory            ? "File folder"
                : dot == std::string::npos ? "File"
                                           : ascii::toUpper(file->name.substr(dot + 1)) + " file";
    info.path = pathInImage(image.tracks()[track]->files, node);
    info.size = file->directory ? std::string() : sizeText(file->size);
    info.date = dateText(file->modified);
    dialogs_.showFileInformation(info);
}

// ---- Outside programs ----

void ImageOperations::startEditor(int index) {
    const CatalogueImage* image = host_.document->image(index);
    if (image == nullptr) return;
    const std::string editor = ports_.programFile("OMXEdit.exe");
    if (editor.empty() || !ports_.startProgram(editor, {image->path}))
        dialogs_.tell("Cannot start the image editor.", ui::Icon::Error);
}

void ImageOperations::startBuilder(char letter) {
    std::vector<std::string> arguments;
    if (letter != 0) arguments.push_back(std::string(1, letter) + ":");
    const std::string builder = ports_.programFile("OMXBuild.exe");
    if (builder.empty() || !ports_.startProgram(builder, arguments))
        dialogs_.tell("Cannot start the image builder.", ui::Icon::Error);
}

}  // namespace ombrix::mng
