#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "manager/image_columns.h"
#include "manager/image_tree.h"

// What the management program shows, read from the catalogue, the session's drives and the
// tree files: the folders and images of the tree, the drives, and the list's row texts.
namespace ombrix::mng {

struct CatalogueImage {
    int index = 0;
    std::string path;
    std::string description;
    char defaultDrive = 0;  // 0 for none
    std::string program;
    std::string workingDirectory;
    uint16_t discType = 0;
    bool password = false;
    uint64_t sizeBytes = 0;  // 0 when the file cannot be read
    int64_t created = 0;     // seconds since 1970, 0 when unknown
};

struct VirtualDrive {
    char letter = 0;
    int index = -1;  // the catalogue index it holds; -1 when empty or not catalogued
    std::string imagePath;
};

// Where the document's facts come from; tests answer from tables.
struct DocumentSources {
    std::function<std::vector<CatalogueImage>()> catalogue;
    std::function<std::vector<VirtualDrive>()> drives;
    // The letters of the machine's own CD drives, in letter order.
    std::function<std::string()> physicalDrives;
    std::function<std::vector<std::string>()> localTreeLines;
    std::function<std::vector<std::string>()> globalTreeLines;
    ImageTree::Log log;
};

struct ViewOptions {
    bool separated = false;
    bool oneReferencePerImage = false;
    // A double click on an image inserts it into its drive; otherwise it opens its properties.
    bool doubleClickInserts = false;
};

// The options of "OmxMngSettings": seven characters, each other than '0' setting its option,
// read only when the text is longer than six.
ViewOptions viewOptionsFrom(std::string_view settings);

class MngDocument {
  public:
    void load(const DocumentSources& sources, const ViewOptions& options);

    const ImageTree& tree() const { return tree_; }
    ImageTree& tree() { return tree_; }
    bool separated() const { return separated_; }
    // The branch prefix of a tree file's entries ("" in the joint view).
    std::string_view prefixOf(TreeFile file) const;
    const std::vector<VirtualDrive>& drives() const { return drives_; }
    const std::string& physicalDrives() const { return physicalDrives_; }
    const std::vector<CatalogueImage>& images() const { return images_; }
    const CatalogueImage* image(int index) const;
    CatalogueImage* image(int index);
    // Keeps the catalogue's change in the document, so the views show it without reading the
    // catalogue again.
    void addImage(CatalogueImage image);
    void removeImage(int index);
    // What a drive of the session holds now (index -1 and no path when empty).
    void setDrive(char letter, int index, std::string imagePath);
    // The text of an image's creation time as the list shows it.
    static std::string createdText(int64_t seconds);
    // The branch a folder path lies in: the global one for paths of the "network" branch, the
    // local one for the "local" branch; in the joint view `joint`.
    TreeFile branchOf(std::string_view folderPath, TreeFile joint) const;
    // The branch roots shown: "\" in the joint view, "\local\" and "\network\" when separated.
    std::vector<std::string> roots() const;
    // The folders right below a folder path, as full paths, in tree order.
    std::vector<std::string> subfolders(const std::string& folder) const;
    // The images right in a folder, in tree order.
    std::vector<int> imagesIn(const std::string& folder) const;

    // The list's texts for an image and for a subfolder's row.
    ListRow imageRow(const CatalogueImage& image) const;
    static ListRow folderRow(const std::string& folderPath);

  private:
    ImageTree tree_;
    std::vector<VirtualDrive> drives_;
    std::string physicalDrives_;
    std::vector<CatalogueImage> images_;
    bool separated_ = false;
};

// The folder's own name: the last part of its path ("\Games\Action\" -> "Action").
std::string folderName(const std::string& folderPath);
// The folder above a folder path ("\Games\Action\" -> "\Games\"); the root stays the root.
std::string parentFolder(const std::string& folderPath);

}  // namespace ombrix::mng
