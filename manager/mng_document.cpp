#include "manager/mng_document.h"

#include <algorithm>
#include <ctime>
#include <unordered_map>
#include <utility>

#include "platform/ascii.h"
#include "platform/text_printf.h"

namespace ombrix::mng {
namespace {

constexpr std::string_view kLocalPrefix = "\\local";
constexpr std::string_view kNetworkPrefix = "\\network";

// The folder part of an entry's path: up to and with its last "\".
std::string_view folderOf(std::string_view path) {
    const size_t slash = path.rfind('\\');
    return slash == std::string_view::npos ? std::string_view() : path.substr(0, slash + 1);
}

}  // namespace

std::string parentFolder(const std::string& folder) {
    if (folder.size() < 2) return folder;
    const size_t slash = folder.rfind('\\', folder.size() - 2);
    return slash == std::string::npos ? std::string("\\") : folder.substr(0, slash + 1);
}

std::string folderName(const std::string& folderPath) {
    std::string_view path = folderPath;
    if (path.ends_with('\\')) path.remove_suffix(1);
    const size_t slash = path.rfind('\\');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

ViewOptions viewOptionsFrom(std::string_view settings) {
    ViewOptions options;
    if (settings.size() <= 6) return options;
    options.doubleClickInserts = settings[4] != '0';
    options.oneReferencePerImage = settings[6] != '0';
    return options;
}

void MngDocument::load(const DocumentSources& sources, const ViewOptions& options) {
    separated_ = options.separated;
    images_ = sources.catalogue ? sources.catalogue() : std::vector<CatalogueImage>{};
    std::sort(images_.begin(), images_.end(),
              [](const CatalogueImage& a, const CatalogueImage& b) { return a.index < b.index; });
    drives_ = sources.drives ? sources.drives() : std::vector<VirtualDrive>{};
    physicalDrives_ = sources.physicalDrives ? sources.physicalDrives() : std::string{};
    tree_ = ImageTree(options.oneReferencePerImage, sources.log);

    std::vector<int> indexes;
    for (const auto& i : images_)
        indexes.push_back(i.index);
    // Image files by name, any case, so that each tree line finds its image at once.
    std::unordered_map<std::string, int> byFile;
    for (const auto& i : images_)
        byFile.try_emplace(ascii::toUpper(i.path), i.index);
    auto indexOfFile = [&byFile](const std::string& file) {
        auto it = byFile.find(ascii::toUpper(file));
        return it == byFile.end() ? 0 : it->second;
    };
    const std::string_view local = prefixOf(TreeFile::Local);
    const std::string_view network = prefixOf(TreeFile::Global);
    tree_.read(TreeFile::Local,
               sources.localTreeLines ? sources.localTreeLines() : std::vector<std::string>{},
               local, indexOfFile);
    tree_.complete(TreeFile::Local, indexes, local);
    tree_.read(TreeFile::Global,
               sources.globalTreeLines ? sources.globalTreeLines() : std::vector<std::string>{},
               network, indexOfFile);
    tree_.complete(TreeFile::Global, indexes, network);
}

const CatalogueImage* MngDocument::image(int index) const {
    auto it = std::lower_bound(images_.begin(), images_.end(), index,
                               [](const CatalogueImage& i, int n) { return i.index < n; });
    return it != images_.end() && it->index == index ? &*it : nullptr;
}

CatalogueImage* MngDocument::image(int index) {
    return const_cast<CatalogueImage*>(std::as_const(*this).image(index));
}

void MngDocument::addImage(CatalogueImage image) {
    auto it = std::lower_bound(images_.begin(), images_.end(), image.index,
                               [](const CatalogueImage& i, int n) { return i.index < n; });
    if (it != images_.end() && it->index == image.index) {
        *it = std::move(image);
    } else {
        images_.insert(it, std::move(image));
    }
}

void MngDocument::removeImage(int index) {
    auto it = std::lower_bound(images_.begin(), images_.end(), index,
                               [](const CatalogueImage& i, int n) { return i.index < n; });
    if (it != images_.end() && it->index == index) images_.erase(it);
}

std::string MngDocument::createdText(int64_t seconds) {
    if (seconds <= 0) return {};
    const std::time_t t = seconds;
    std::tm local{};
    if (::localtime_r(&t, &local) == nullptr) return {};
    char text[64];
    std::strftime(text, sizeof text, "%x %X", &local);
    return text;
}

void MngDocument::setDrive(char letter, int index, std::string imagePath) {
    for (auto& d : drives_) {
        if (d.letter != letter) continue;
        d.index = index;
        d.imagePath = std::move(imagePath);
    }
}

TreeFile MngDocument::branchOf(std::string_view folderPath, TreeFile joint) const {
    if (!separated_) return joint;
    return ascii::startsWithIgnoreCase(folderPath, std::string(kLocalPrefix) + "\\")
               ? TreeFile::Local
               : TreeFile::Global;
}

std::string_view MngDocument::prefixOf(TreeFile file) const {
    if (!separated_) return {};
    return file == TreeFile::Local ? kLocalPrefix : kNetworkPrefix;
}

std::vector<std::string> MngDocument::roots() const {
    if (!separated_) return {"\\"};
    return {std::string(kLocalPrefix) + "\\", std::string(kNetworkPrefix) + "\\"};
}

std::vector<std::string> MngDocument::subfolders(const std::string& folder) const {
    std::vector<std::string> out;
    for (const auto& e : tree_.all()) {
        if (!e.isFolder() || e.path.size() <= folder.size()) continue;
        if (comparePaths(folderOf(std::string_view(e.path).substr(0, e.path.size() - 1)), folder) ==
            0) {
            out.push_back(e.path);
        }
    }
    return out;
}

std::vector<int> MngDocument::imagesIn(const std::string& folder) const {
    std::vector<int> out;
    for (const auto& e : tree_.all()) {
        if (e.isImage() &&
            comparePaths(std::string_view(e.path).substr(0, e.path.size() - 1), folder) == 0) {
            out.push_back(e.id);
        }
    }
    return out;
}

ListRow MngDocument::imageRow(const CatalogueImage& image) const {
    ListRow row;
    auto& t = row.texts;
    t[0] = image.description;
    t[1] = image.path;
    if (image.defaultDrive != 0 && image.defaultDrive != '0') {
        t[2] = std::string(1, static_cast<char>(ascii::upper(image.defaultDrive))) + ":";
    }
    for (const auto& d : drives_) {
        if (d.index != image.index) continue;
        if (!t[3].empty()) t[3] += ' ';
        t[3] += std::string(1, d.letter) + ":";
    }
    if (image.sizeBytes > 0) {
        t[4] = platform::format("%.1f", static_cast<double>(image.sizeBytes) / (1024.0 * 1024.0));
    }
    t[5] = createdText(image.created);
    t[7] = image.program;
    t[8] = image.workingDirectory;
    t[9] = image.password ? "yes" : "";
    t[12] = std::string(viewText(image.index));
    t[13] = cdTypeText(image.discType);
    row.created = image.created;
    return row;
}

ListRow MngDocument::folderRow(const std::string& folderPath) {
    ListRow row;
    row.folder = true;
    row.texts[0] = folderName(folderPath);
    return row;
}

}  // namespace ombrix::mng
