#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

// Disc images for tests, made by the outside mastering tool, and what the outside archive tool
// reads from them: the reference the image contents are compared with.
namespace ombrix::test {

// Runs a shell command; its standard output. `status` gets the exit status (-1 when killed).
std::string runCommand(const std::string& command, int* status = nullptr);
bool haveTool(const char* name);
// Whether the mastering and the archive tool the disc fixtures use are installed.
bool haveDiscTools();
std::string shellQuoted(const std::filesystem::path& path);

// A folder tree with nested folders, long and non-ASCII names, an empty file and files of
// several sizes, one of `bigFileBytes` (0: none) of mixed random and repeating data.
void makeSampleTree(const std::filesystem::path& dir, size_t bigFileBytes = 0);

// Masters `source` into an ISO 9660 image (with Joliet names when `joliet`); empty on failure.
std::filesystem::path makeIso(const std::filesystem::path& source, const std::filesystem::path& iso,
                              bool joliet, const std::string& volume = "TEST_DISC");

// The sample tree in <folder>/src mastered with Joliet names into <folder>/<name>; empty on
// failure.
std::filesystem::path makeSampleIso(const std::filesystem::path& folder,
                                    const std::string& name = "d.iso");

// One entry of a disc listing: its size (-1 for folders).
using DiscListing = std::map<std::string, int64_t>;
// The archive tool's listing of `iso` with Joliet names when present, else ISO names.
DiscListing referenceListing(const std::filesystem::path& iso);
// The archive tool's extraction of `iso` into `folder` (same names as the listing).
bool referenceExtract(const std::filesystem::path& iso, const std::filesystem::path& folder);
// A listing of a folder tree in the same form.
DiscListing folderListing(const std::filesystem::path& folder);
// Whether two trees hold the same files with the same bytes; the first difference in `why`.
bool sameTrees(const std::filesystem::path& a, const std::filesystem::path& b, std::string& why);

}  // namespace ombrix::test
