// omxcontents: lists and extracts the files of an image without inserting it.
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "manager/image_contents.h"

namespace fs = std::filesystem;
namespace oc = ombrix::contents;

namespace {

const char* kUsage =
    "usage: omxcontents list IMAGE.om4\n"
    "       omxcontents extract [--overwrite] IMAGE.om4 FOLDER [PATH...]\n"
    "list: one line per folder and file of the image's data tracks: type (d or -), size in\n"
    "bytes, modification time (UTC) and path.\n"
    "extract: copies the files below the given paths (default: all) into FOLDER, keeping their\n"
    "folders; an existing file is kept unless --overwrite is given.\n"
    "With several data tracks, paths begin with \"track<N>/\" (N counted from 1).\n"
    "A file system that cannot be read, or holds more than a disc may (folders deeper than\n"
    "255, more than 2,097,152 entries), is not shown.\n"
    "Exit status: 0 done, 1 a file or the image could not be read, 2 bad arguments.\n";

int usageError(const std::string& what) {
    std::fprintf(stderr, "omxcontents: %s\n%s", what.c_str(), kUsage);
    return 2;
}

// The data tracks whose file system could be walked.
std::vector<const oc::TrackContents*> dataTracks(const oc::ImageContents& image) {
    std::vector<const oc::TrackContents*> out;
    for (const auto& t : image.tracks()) {
        if (t->data && t->walkResult == oc::kWalkDone) out.push_back(t.get());
    }
    return out;
}

// Says which tracks hold a file system that is not shown, and why; whether there was one.
bool reportRefusedTracks(const oc::ImageContents& image) {
    bool any = false;
    for (const auto& t : image.tracks()) {
        if (!t->data || t->walkResult == oc::kWalkDone || t->walkResult == oc::kWalkNoDescriptor)
            continue;
        std::fprintf(stderr, "omxcontents: track %zu: %s\n", t->index + 1,
                     t->walkResult == oc::kWalkTooLarge
                         ? "its file system holds more than a disc may (not shown)"
                         : "its file system cannot be read");
        any = true;
    }
    return any;
}

std::string prefixOf(const oc::TrackContents& t, size_t dataTrackCount) {
    return dataTrackCount > 1 ? "track" + std::to_string(t.index + 1) + "/" : std::string();
}

std::string timeText(int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    ::gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &tm);
    return text;
}

// Node `from` and every node below it, each folder before its contents. Walked with a list of
// its own, not the call stack, so no depth of folders can exhaust it.
std::vector<uint32_t> subtree(const oc::FileSystem& files, uint32_t from) {
    std::vector<uint32_t> order, pending{from};
    while (!pending.empty()) {
        const uint32_t index = pending.back();
        pending.pop_back();
        order.push_back(index);
        const auto& children = files.nodes[index].children;
        pending.insert(pending.end(), children.rbegin(), children.rend());
    }
    return order;
}

int list(const oc::ImageContents& image) {
    auto tracks = dataTracks(image);
    for (const auto* t : tracks) {
        const std::string prefix = prefixOf(*t, tracks.size());
        for (uint32_t index : subtree(t->files, 0)) {
            if (index == 0) continue;
            const oc::Node& node = t->files.nodes[index];
            std::printf("%c %12llu %s %s%s\n", node.directory ? 'd' : '-',
                        static_cast<unsigned long long>(node.size), timeText(node.modified).c_str(),
                        prefix.c_str(), t->files.path(index).c_str());
        }
    }
    return 0;
}

int extractOne(const oc::ImageContents& image, const oc::TrackContents& t, uint32_t index,
               const fs::path& folder, bool overwrite) {
    const oc::Node& node = t.files.nodes[index];
    const fs::path target = folder / t.files.path(index);
    std::error_code ec;
    fs::create_directories(node.directory ? target : target.parent_path(), ec);
    if (ec) {
        std::fprintf(stderr, "omxcontents: cannot create %s: %s\n", target.c_str(),
                     ec.message().c_str());
        return 1;
    }
    if (node.directory) return 0;
    int rc = image.extract(t.index, index, target.string(), overwrite);
    if (rc == oc::kTargetExists) {
        std::fprintf(stderr, "omxcontents: %s exists (kept)\n", target.c_str());
        return 1;
    }
    if (rc != 0) {
        std::fprintf(stderr, "omxcontents: cannot extract %s (error %d)\n", target.c_str(), rc);
        return 1;
    }
    return 0;
}

int extractNode(const oc::ImageContents& image, const oc::TrackContents& t, uint32_t index,
                const fs::path& folder, bool overwrite) {
    int result = 0;
    for (uint32_t node : subtree(t.files, index))
        result |= extractOne(image, t, node, folder, overwrite);
    return result;
}

int extract(const oc::ImageContents& image, const fs::path& folder,
            const std::vector<std::string>& paths, bool overwrite) {
    auto tracks = dataTracks(image);
    int result = 0;
    if (paths.empty()) {
        for (const auto* t : tracks)
            result |= extractNode(image, *t, 0, folder / prefixOf(*t, tracks.size()), overwrite);
        return result;
    }
    for (std::string path : paths) {
        while (!path.empty() && path.front() == '/')
            path.erase(0, 1);
        bool found = false;
        for (const auto* t : tracks) {
            std::string prefix = prefixOf(*t, tracks.size());
            std::string inTrack = path;
            if (!prefix.empty()) {
                if (path.compare(0, prefix.size(), prefix) != 0 && path + "/" != prefix) {
                    continue;
                }
                inTrack = path.size() > prefix.size() ? path.substr(prefix.size()) : "";
            }
            long node = t->files.find(inTrack);
            if (node < 0) continue;
            found = true;
            result |=
                extractNode(image, *t, static_cast<uint32_t>(node), folder / prefix, overwrite);
        }
        if (!found) {
            std::fprintf(stderr, "omxcontents: %s: not in the image\n", path.c_str());
            result = 1;
        }
    }
    return result;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args;
    bool overwrite = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (arg == "--overwrite") {
            overwrite = true;
        } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            return usageError("unknown option '" + arg + "'");
        } else {
            args.push_back(arg);
        }
    }
    if (args.size() < 2) return usageError("missing arguments");
    const std::string& command = args[0];
    if (command != "list" && command != "extract")
        return usageError("unknown command '" + command + "'");
    if (command == "list" && args.size() != 2) return usageError("list takes one image");
    if (command == "extract" && args.size() < 3)
        return usageError("extract needs an image and a folder");

    oc::ImageContents image;
    int rc = image.open(args[1]);
    if (rc != 0) {
        std::fprintf(stderr, "omxcontents: cannot read %s (error %d)\n", args[1].c_str(), rc);
        return 1;
    }
    image.wait();
    const bool refused = reportRefusedTracks(image);
    if (dataTracks(image).empty()) {
        if (!refused)
            std::fprintf(stderr, "omxcontents: %s has no readable file system\n", args[1].c_str());
        return 1;
    }
    int result = command == "list"
                     ? list(image)
                     : extract(image, args[2], {args.begin() + 3, args.end()}, overwrite);
    return refused ? 1 : result;
}
