#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

// The arrangement of catalogued images in folders, kept in the tree files "OMXTree.dat" (one of
// the session user's, one shared by the pool), and the sorted tree of entries built from them.
//
// A folder's path begins and ends with "\" ("\" alone is the root); an image entry's path is
// its folder's followed by "!". In the separated view every path of a branch starts with the
// branch prefix ("\local" or "\network"), which files never hold.
namespace ombrix::mng {

struct TreeEntry {
    std::string path;
    // An image's index (> 0); for a folder kFolder plus the bits of the files it belongs to;
    // kDropped for an entry about to go.
    int id = 0;

    bool isImage() const { return id > 0; }
    bool isFolder() const { return id <= kFolder + 7 && id >= kFolder; }

    static constexpr int kFolder = -256;
    static constexpr int kGlobalBit = 2;
    static constexpr int kLocalBit = 4;
    static constexpr int kDropped = -1;
};

// The user's own tree file in the user's configuration folder.
std::string localTreeFile(const std::string& userConfigFolder);

// Which tree file: its images' index range and its folders' bit.
enum class TreeFile { Local, Global };

bool inRange(TreeFile file, int index);
int folderBit(TreeFile file);

// Case-insensitive order of tree paths (ASCII letters folded; other bytes as they are).
int comparePaths(std::string_view a, std::string_view b);

class ImageTree {
  public:
    using Log = std::function<void(int level, const std::string& line)>;
    explicit ImageTree(bool oneReferencePerImage = false, Log log = {})
        : oneReference_(oneReferencePerImage), log_(std::move(log)) {}

    // Places an entry by its path among the others (an equal path goes before the equal entry).
    // With one reference per image, a second entry of an image is refused: false.
    bool insert(std::string path, int id);
    // The entry of a folder path, or null.
    TreeEntry* folder(std::string_view path);
    bool holdsImage(int index) const;
    // Marks every entry of the image to go; the next write leaves them out.
    void dropImage(int index);
    // Marks the image's entry in `folderPath` to go; false when the folder holds none.
    bool dropEntry(std::string_view folderPath, int index);
    // Marks the folder, its subfolders and every entry in them to go, and returns the images
    // those entries held (each once).
    std::vector<int> dropFolder(std::string_view folderPath);
    // Gives every entry below `from` (a folder path) the folder path `to` in its place.
    void moveFolder(std::string_view from, std::string_view to);
    // The folders holding an entry of the image, in tree order.
    std::vector<std::string> foldersOf(int index) const;
    // Entries in order, without the dropped ones.
    std::vector<TreeEntry> entries() const;
    // Every entry in order, the dropped ones (kDropped) among them: no copy.
    const std::vector<TreeEntry>& all() const { return entries_; }
    size_t size() const { return entries_.size(); }

    // Adds the lines of a tree file. `lines` are the file's lines without their line ends;
    // `indexOfFile` names the catalogue index of an image file of this file's range (0 when the
    // catalogue does not hold it). Every folder on the way of a line gets an entry; lines that
    // begin with "\!" and images no longer catalogued are left out.
    void read(TreeFile file, const std::vector<std::string>& lines, std::string_view prefix,
              const std::function<int(const std::string& file)>& indexOfFile);
    // Gives the branch its root folder, and every catalogued image of the range that no entry
    // holds a place at that root.
    void complete(TreeFile file, const std::vector<int>& catalogued, std::string_view prefix);

    // The text of a tree file: each line "folder path|image file" or "folder path|" with CR LF.
    // `fileOf` names an image index's file as the catalogue knows it.
    std::string fileText(TreeFile file, std::string_view prefix,
                         const std::function<std::string(int index)>& fileOf) const;

  private:
    void log(int level, const std::string& line) const {
        if (log_) log_(level, line);
    }
    void addFoldersOnTheWay(std::string_view folderPath, std::string_view prefix, int bit);

    bool oneReference_;
    Log log_;
    std::vector<TreeEntry> entries_;  // sorted by path
};

// The lines of a tree file's bytes, as a reader with a window of 530 bytes sees them: lines end
// in LF (a CR before it is dropped), blank lines are passed over, and a line longer than the
// window is left out whole.
std::vector<std::string> treeFileLines(std::string_view bytes, const ImageTree::Log& log = {});

// Reads a tree file, creating it empty when missing; retries while another process holds it
// (`attempts` tries `pause` apart). 0 or the Win32-style code of the failure.
int loadTreeFile(const std::string& path, std::string& bytes, int attempts = 10,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(300));
// Replaces a tree file's contents with `text`, holding it alone; retried like loading. When it
// cannot be had, the file is left as it was.
int saveTreeFile(const std::string& path, std::string_view text, int attempts = 10,
                 std::chrono::milliseconds pause = std::chrono::milliseconds(300));

}  // namespace ombrix::mng
