#include "manager/image_tree.h"

#include <algorithm>
#include <thread>
#include <unordered_set>

#include "platform/ascii.h"
#include "platform/locked_file.h"
#include "platform/win_error.h"

namespace ombrix::mng {
namespace {

constexpr size_t kLineWindow = 530;
constexpr int kLastLocalIndex = 4999;
constexpr int kFirstGlobalIndex = 5001;

bool startsWithPrefix(std::string_view path, std::string_view prefix) {
    return !prefix.empty() && ascii::startsWithIgnoreCase(path, prefix);
}

// Opens a tree file the way both directions need: tries again `pause` apart while another
// process holds it, any other failure ends the tries.
int openRetrying(platform::LockedFile& file, const std::string& path, platform::FileAccess access,
                 int attempts, std::chrono::milliseconds pause) {
    int err = win::kSharingViolation;
    for (int attempt = 0; attempt < attempts && err == win::kSharingViolation; ++attempt) {
        if (attempt > 0) std::this_thread::sleep_for(pause);
        err = file.open(path, access);
    }
    return err;
}

}  // namespace

std::string localTreeFile(const std::string& userConfigFolder) {
    std::string path = userConfigFolder;
    if (!path.empty() && !path.ends_with('/')) path += '/';
    return path + "OMXTree.dat";
}

bool inRange(TreeFile file, int index) {
    return file == TreeFile::Local ? index >= 1 && index <= kLastLocalIndex
                                   : index >= kFirstGlobalIndex;
}

int folderBit(TreeFile file) {
    return file == TreeFile::Local ? TreeEntry::kLocalBit : TreeEntry::kGlobalBit;
}

int comparePaths(std::string_view a, std::string_view b) {
    return ascii::compareIgnoreCase(a, b);
}

bool ImageTree::insert(std::string path, int id) {
    if (oneReference_ && id > 0 && holdsImage(id)) {
        log(2, "..?" + std::to_string(id) + " (" + path + ") is already in Tree? (1)");
        return false;
    }
    auto at = std::lower_bound(
        entries_.begin(), entries_.end(), path,
        [](const TreeEntry& e, const std::string& p) { return comparePaths(e.path, p) < 0; });
    log(2, "Ordered insert (only in MNG) -- :(" + path + ") " + std::to_string(id) + " (" +
               (at != entries_.end() ? at->path : std::string()) + ")");
    entries_.insert(at, TreeEntry{std::move(path), id});
    return true;
}

TreeEntry* ImageTree::folder(std::string_view path) {
    auto at = std::lower_bound(
        entries_.begin(), entries_.end(), path,
        [](const TreeEntry& e, std::string_view p) { return comparePaths(e.path, p) < 0; });
    for (; at != entries_.end() && comparePaths(at->path, path) == 0; ++at) {
        if (at->isFolder()) return &*at;
    }
    return nullptr;
}

bool ImageTree::holdsImage(int index) const {
    return std::any_of(entries_.begin(), entries_.end(),
                       [index](const TreeEntry& e) { return e.id == index; });
}

void ImageTree::dropImage(int index) {
    for (auto& e : entries_) {
        if (e.id == index) e.id = TreeEntry::kDropped;
    }
}

bool ImageTree::dropEntry(std::string_view folderPath, int index) {
    for (auto& e : entries_) {
        if (e.id == index && e.path.size() == folderPath.size() + 1 && e.path.back() == '!' &&
            comparePaths(std::string_view(e.path).substr(0, folderPath.size()), folderPath) == 0) {
            e.id = TreeEntry::kDropped;
            return true;
        }
    }
    return false;
}

std::vector<int> ImageTree::dropFolder(std::string_view folderPath) {
    std::vector<int> images;
    for (auto& e : entries_) {
        if (e.id == TreeEntry::kDropped || !ascii::startsWithIgnoreCase(e.path, folderPath))
            continue;
        if (e.isImage() && std::find(images.begin(), images.end(), e.id) == images.end())
            images.push_back(e.id);
        e.id = TreeEntry::kDropped;
    }
    return images;
}

void ImageTree::moveFolder(std::string_view from, std::string_view to) {
    for (auto& e : entries_) {
        if (ascii::startsWithIgnoreCase(e.path, from))
            e.path = std::string(to) + e.path.substr(from.size());
    }
    std::stable_sort(entries_.begin(), entries_.end(), [](const TreeEntry& a, const TreeEntry& b) {
        return comparePaths(a.path, b.path) < 0;
    });
}

std::vector<std::string> ImageTree::foldersOf(int index) const {
    std::vector<std::string> folders;
    for (const auto& e : entries_) {
        if (e.id == index) folders.push_back(e.path.substr(0, e.path.size() - 1));
    }
    return folders;
}

std::vector<TreeEntry> ImageTree::entries() const {
    std::vector<TreeEntry> out;
    out.reserve(entries_.size());
    std::copy_if(entries_.begin(), entries_.end(), std::back_inserter(out),
                 [](const TreeEntry& e) { return e.id != TreeEntry::kDropped; });
    return out;
}

void ImageTree::addFoldersOnTheWay(std::string_view folderPath, std::string_view prefix, int bit) {
    std::string_view rest = folderPath;
    if (rest.starts_with('\\')) rest.remove_prefix(1);
    std::string path(prefix);
    path += '\\';
    while (!rest.empty()) {
        const size_t end = rest.find_first_of("\\!");
        const std::string_view name = rest.substr(0, end);
        if (name.empty()) break;
        path += name;
        path += '\\';
        // A folder both files hold belongs to both: each file that names it keeps it.
        if (TreeEntry* existing = folder(path)) {
            existing->id |= bit;
        } else {
            insert(path, TreeEntry::kFolder | bit);
        }
        if (end == std::string_view::npos || rest[end] == '!') break;
        rest.remove_prefix(end + 1);
    }
}

void ImageTree::read(TreeFile file, const std::vector<std::string>& lines, std::string_view prefix,
                     const std::function<int(const std::string& file)>& indexOfFile) {
    const int bit = folderBit(file);
    for (size_t n = 0; n < lines.size(); ++n) {
        const std::string& line = lines[n];
        if (line.empty()) continue;
        if (line.starts_with("\\!")) {
            log(2, ".. problemline found *\\!* (" + std::to_string(n) + ")! -- ignore");
            continue;
        }
        const size_t bar = line.find('|');
        std::string folderPath = line.substr(0, bar);
        if (!folderPath.starts_with('\\')) folderPath.insert(0, 1, '\\');
        if (!folderPath.ends_with('\\')) folderPath += '\\';
        const std::string image = bar == std::string::npos ? std::string() : line.substr(bar + 1);
        if (!image.empty()) {
            const int index = indexOfFile(image);
            if (index > 0 && inRange(file, index)) {
                insert(std::string(prefix) + folderPath + "!", index);
            }
        }
        addFoldersOnTheWay(folderPath, prefix, bit);
    }
}

void ImageTree::complete(TreeFile file, const std::vector<int>& catalogued,
                         std::string_view prefix) {
    const std::string root = std::string(prefix) + "\\";
    if (TreeEntry* existing = folder(root)) {
        existing->id |= folderBit(file);
    } else {
        insert(root, TreeEntry::kFolder | folderBit(file));
    }
    std::unordered_set<int> held;
    for (const auto& e : entries_) {
        if (e.isImage()) held.insert(e.id);
    }
    // The images without a place go to the root together: one merge instead of an insert that
    // moves every later entry for each of them. Of equal paths the one placed last comes first,
    // as it does when they are placed one by one.
    std::vector<TreeEntry> added;
    for (int index : catalogued) {
        if (!inRange(file, index) || !held.insert(index).second) continue;
        log(2, "Ordered insert (only in MNG) -- :(" + root + "!) " + std::to_string(index) + " ()");
        added.push_back(TreeEntry{root + "!", index});
    }
    if (added.empty()) return;
    std::reverse(added.begin(), added.end());
    auto before = [](const TreeEntry& a, const TreeEntry& b) {
        return comparePaths(a.path, b.path) < 0;
    };
    std::stable_sort(added.begin(), added.end(), before);
    std::vector<TreeEntry> merged;
    merged.reserve(entries_.size() + added.size());
    std::merge(std::make_move_iterator(added.begin()), std::make_move_iterator(added.end()),
               std::make_move_iterator(entries_.begin()), std::make_move_iterator(entries_.end()),
               std::back_inserter(merged), before);
    entries_ = std::move(merged);
}

std::string ImageTree::fileText(TreeFile file, std::string_view prefix,
                                const std::function<std::string(int index)>& fileOf) const {
    const int bit = folderBit(file);
    std::string out;
    for (const auto& e : entries_) {
        if (e.id == TreeEntry::kDropped) continue;
        std::string_view path = e.path;
        if (startsWithPrefix(path, prefix)) path.remove_prefix(prefix.size());
        std::string line;
        if (e.isImage()) {
            if (!inRange(file, e.id) || !path.ends_with('!')) continue;
            const std::string image = fileOf(e.id);
            if (image.empty()) continue;  // no longer catalogued
            path.remove_suffix(1);
            line.append(path).append("|").append(image);
        } else {
            // A branch's root is no line of its own in the separated view.
            if ((e.id & bit) == 0 || path.empty() || (!prefix.empty() && path == "\\")) continue;
            line.append(path).append("|");
        }
        if (line == "\\!|") continue;
        out += line;
        out += "\r\n";
    }
    return out;
}

std::vector<std::string> treeFileLines(std::string_view bytes, const ImageTree::Log& log) {
    std::vector<std::string> lines;
    size_t at = 0;
    while (at < bytes.size()) {
        const std::string_view window = bytes.substr(at, kLineWindow);
        const size_t end = window.find('\n');
        if (end == std::string_view::npos && at + window.size() < bytes.size()) {
            // Longer than any line this system writes: left out whole, to its line end.
            const size_t next = bytes.find('\n', at);
            if (log)
                log(2, ".. line longer than " + std::to_string(kLineWindow) + " bytes -- ignore");
            at = next == std::string_view::npos ? bytes.size() : next + 1;
            continue;
        }
        std::string_view line = window.substr(0, end);
        at += end == std::string_view::npos ? window.size() : end + 1;
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty()) lines.emplace_back(line);
    }
    return lines;
}

int loadTreeFile(const std::string& path, std::string& bytes, int attempts,
                 std::chrono::milliseconds pause) {
    bytes.clear();
    platform::LockedFile file;
    int err = openRetrying(file, path, platform::FileAccess::Read, attempts, pause);
    if (err == win::kFileNotFound) {
        // A missing file is made, empty.
        err = openRetrying(file, path, platform::FileAccess::Write, attempts, pause);
        return err;
    }
    if (err != win::kSuccess) return err;
    return file.readAll(bytes);
}

int saveTreeFile(const std::string& path, std::string_view text, int attempts,
                 std::chrono::milliseconds pause) {
    // Rewritten in place, so the file keeps its owner and rights (the pool's file is shared).
    platform::LockedFile file;
    if (int err = openRetrying(file, path, platform::FileAccess::Write, attempts, pause)) {
        return err;
    }
    const auto length = static_cast<off_t>(text.size());
    if (int err = file.reserve(length)) return err;
    if (int err = file.writeAt(text.data(), text.size(), 0)) return err;
    return file.truncate(length);
}

}  // namespace ombrix::mng
