#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "manager/access_state.h"
#include "manager/client_ports.h"
#include "manager/image_contents.h"
#include "manager/mng_document.h"
#include "manager/notifications.h"
#include "manager/operation_dialogs.h"

// What the management program's commands do to images: adding (with conversion), searching,
// inserting and ejecting, deleting, folders, properties, moving and copying in the tree, moving
// images between the local and the network catalogue, and the contents pane's files. Each
// operation checks the right that guards it first, and holds its busy flag while it runs.
namespace ombrix::mng {

// How an image file's header reads.
enum HeaderState {
    kHeaderValid = 100,
    kHeaderUnknown = 101,
    kHeaderOlder = 102,
    kHeaderUnreadable = 103
};
HeaderState headerState(int readResult, const OmxImageHeader& header);

// Busy flags of the document while an operation runs.
enum BusyFlag {
    kBusyList = 0,
    kBusyTree = 1,
    kBusyAdding = 2,
    kBusyNewFolder = 3,
    kBusyDeleting = 4
};

// A name for a folder is refused when, after leading blanks, it is empty or holds one of these.
bool validFolderName(std::string_view name);
std::string_view withoutLeadingBlanks(std::string_view name);

// The files of an image: the container, its track part files and the files of the same base name
// with the extensions ".ICO", ".ANL" and ".SZQ", as far as they exist.
std::vector<std::string> imageFiles(const std::string& containerPath);

// Image files of `type` in a folder and its subfolders, extensions compared ignoring case.
// `found` hears the count as it grows and stops the search by returning false.
std::vector<std::string> findImageFiles(const std::string& folder, ImageFileType type,
                                        const std::function<bool(size_t found)>& found = {});

// The desktop entry of a shortcut that runs `tool` with the image; nothing when a path holds a
// control character no entry can carry.
std::optional<std::string> desktopEntry(const std::string& tool, const std::string& imagePath);

// A list row or tree entry an operation works on: an image in a folder, or a folder.
struct TreeItem {
    std::string folder;  // the folder path; for an image the folder holding it
    int index = 0;       // the image, 0 for the folder itself
};

class ImageOperations {
  public:
    struct Host {
        MngDocument* document = nullptr;
        std::function<AccessState()> access;
        BusyFlags* busy = nullptr;
        // An operation holding a busy flag has ended.
        std::function<void(int flag)> ended;
        std::function<void()> saveTrees;
        // The views show the document again.
        std::function<void()> show;
        // The list shows and selects an image (the one just added or moved).
        std::function<void(int index)> select;
        std::function<void(int level, const std::string& line)> log;
        std::function<std::string(std::string_view key)> setting;
        std::function<void(std::string_view key, const std::string& value)> setSetting;
        // The user's desktop and temporary folders.
        std::string desktopFolder;
        std::string temporaryFolder;
    };

    ImageOperations(Host host, ClientPorts ports, OperationDialogs& dialogs);

    // The catalogue range an image added below `folder` goes to (OMX_RANGE_LOCAL/SHARED).
    int rangeFor(const std::string& folder) const;

    // Adding. `add` asks for the files; `addFiles` converts ISO and older images first (asking
    // once whether to keep the sources, unless `keepSources` says), catalogues every file and
    // places it below `folder`; the tree files are written once at the end. The new indexes.
    void add(const std::string& folder);
    std::vector<int> addFiles(const std::vector<std::string>& files, const std::string& folder,
                              std::optional<bool> keepSources = std::nullopt);
    // Converts one file (number of count); the container's path, nothing when it failed or was
    // cancelled (the user was told why, except for a cancel).
    std::optional<std::string> convert(const std::string& path, int number, int count,
                                       bool keepSource);
    // "Find Existing Ombrixs" and the adding of what it found.
    void find(const std::string& folder, bool convertMode);

    // Drives. `insert` chooses the drive when `letter` is 0.
    bool insert(char letter, int index);
    bool eject(char letter);
    void ejectAll();
    bool ejectPhysical(char letter);
    void ejectAllPhysical();
    void explore(char letter);

    // Deleting the images (one after the other, with their folders) and a folder.
    void deleteImages(const std::vector<TreeItem>& images);
    void deleteFolder(const std::string& folder);

    // Folders: the new folder's path (empty when refused); a rename's success.
    std::string newFolder(const std::string& parent);
    bool renameFolder(const std::string& folder, const std::string& name);

    void properties(int index);

    // Dropping tree items onto a drive or folder; `copy` with Ctrl held.
    bool dropOnDrive(const std::vector<TreeItem>& items, char letter);
    bool dropOnFolder(const std::vector<TreeItem>& items, const std::string& target, bool copy);
    // Moves images between the local and the network catalogue, into `targetFolder` of the tree.
    bool transfer(const std::vector<int>& indexes, const std::string& targetFolder);

    // The contents pane's files: opening one with the desktop's program, extracting it to a
    // chosen folder, and its information.
    void openFile(const contents::ImageContents& image, size_t track, uint32_t node);
    void extractFile(const contents::ImageContents& image, size_t track, uint32_t node);
    void fileInformation(const contents::ImageContents& image, size_t track, uint32_t node);

    // Outside programs of the installation: the image editor with an image, the image builder
    // with a physical drive (0 for none).
    void startEditor(int index);
    void startBuilder(char letter);

  private:
    class Busy;
    AccessState access() const { return host_.access ? host_.access() : AccessState{}; }
    void log(int level, const std::string& line) const;
    bool catalogueWritable(int index) const;
    bool localWritable() const;
    // The tree files are written and the views show the document again.
    void treeChanged();
    // Takes an image's files off the disk after its password and access checks, with the
    // drives of this session that hold it ejected first; the message of a refusal otherwise.
    std::optional<std::string> deleteFromDisk(const CatalogueImage& image);
    bool hasPassword(const std::string& path) const;
    // Whether the tree lines of the entries below `from` still fit the reader's window when
    // they move to `to`.
    bool linesFit(std::string_view from, std::string_view to) const;
    bool treeWritable(const std::string& folder) const;
    // Both the catalogue and the tree that images added below `folder` go to are writable.
    bool mayAddTo(const std::string& folder) const;
    int addOne(const std::string& file, const std::string& folder);
    bool placeInTree(int index, const std::string& folder);
    bool holdsIn(const std::string& folder, int index) const;
    // Deletes an image's files; false (and nothing deleted after the first failure) on failure.
    bool deleteImageFiles(const CatalogueImage& image);
    // The root of the branch an image's index belongs to.
    std::string rootFor(int index) const;
    void forgetImage(int index);
    std::string extractToTemporary(const contents::ImageContents& image, size_t track,
                                   uint32_t node, int& error);
    // True when the password was changed.
    bool changePassword(const std::string& path, const std::string& oldPassword);
    void createShortcut(const CatalogueImage& image);
    int transferOne(int index, bool copyFiles, const std::string& copyFolder, bool toNetwork,
                    const std::string& targetFolder);

    Host host_;
    ClientPorts ports_;
    OperationDialogs& dialogs_;
};

}  // namespace ombrix::mng
