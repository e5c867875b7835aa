#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/user_interface.h"

// The dialogs the image operations ask the user through. The program shows Qt windows; tests
// answer from a script.
namespace ombrix::mng {

enum class DeleteAnswer { Yes, YesToAll, No, Cancel };
enum class FolderDeletion { MoveToRoot, Exclude, DeleteEntirely, Cancel };
enum class ImageFileType { Om4 = 0, Zrm = 1, Iso = 2 };

// Long work run under a progress dialog: called on a worker thread with a report function that
// takes the percentage done and returns false once the user has cancelled (and confirmed it).
using ProgressReport = std::function<bool(int percent)>;
using ProgressWork = std::function<int(const ProgressReport& report)>;

// What the property sheet shows of an image, and what the user may change there.
struct ImageProperties {
    // General
    std::string description;
    std::string program;
    std::string workingDirectory;
    std::string label;
    char defaultDrive = 0;  // 0 for none
    bool ejectOnExit = false;
    uint16_t hotkey = 0;  // virtual key in the low byte, modifier flags in the high byte
    // Statistics
    std::string fileName;
    std::string sizeMegabytes;
    std::string created;
    std::string inUse;
    std::string cdType;
    // Comment
    std::string comment;
    // Tracks
    struct Track {
        std::string name;
        std::string compression;  // "none", "low", "medium", "high"
        std::string type;         // "Data track", "Digital audio track", "Data track (non ISO)"
        friend bool operator==(const Track&, const Track&) = default;
    };
    std::vector<Track> tracks;
    // Category: the folders that hold the image.
    std::vector<std::string> folders;

    friend bool operator==(const ImageProperties&, const ImageProperties&) = default;
};

struct PropertyEditing {
    bool description = false;
    bool catalogueFields = false;  // start program, working directory, default drive, eject
    bool label = false;
    bool comment = false;
    bool changePassword = false;
    bool createShortcut = false;
};

struct CopyRequest {
    int count = 0;
    bool toNetwork = false;
    uint64_t megabytes = 0;
    std::string folder;  // the last one used
};

struct CopyChoice {
    bool copyFiles = true;
    std::string folder;
};

// The "Find Existing Ombrixs" dialog's start and result.
struct FindSetup {
    std::string folder;  // the last one searched
    ImageFileType type = ImageFileType::Om4;
    // Searches a folder and its subfolders; `found` is told the count as it grows and may stop
    // the search by returning false.
    std::function<std::vector<std::string>(const std::string& folder, ImageFileType type,
                                           const std::function<bool(size_t found)>& found)>
        search;
};

struct FindResult {
    std::string folder;
    std::vector<std::string> files;
    bool keepSources = true;  // "Copy the image files before converting them"
};

// One file of an image as the contents pane's "File Information" shows it.
struct FileInformation {
    std::string name;
    std::string type;
    std::string path;  // inside the image
    std::string size;
    std::string date;
};

class OperationDialogs {
  public:
    virtual ~OperationDialogs() = default;

    virtual void tell(const std::string& text, ui::Icon icon) = 0;
    // A question with Yes and No; true for Yes.
    virtual bool ask(const std::string& text) = 0;

    // "Add image files": the files chosen, none when cancelled.
    virtual std::vector<std::string> chooseImageFiles() = 0;
    // "Convert Ombrixs": whether the sources are kept, nothing when cancelled.
    virtual std::optional<bool> askConversion() = 0;
    // "Conversion" of file `number` of `count`: runs `work`, returns its result.
    virtual int runConversion(int number, int count, const std::string& file,
                              const ProgressWork& work) = 0;
    virtual std::optional<FindResult> findImages(const FindSetup& setup) = 0;

    // "Delete the selected ombrix?": `fromDisk` holds the check box (in and out).
    virtual DeleteAnswer askDeleteImage(const std::string& description, bool& fromDisk) = 0;
    virtual FolderDeletion askDeleteFolder(const std::string& folder) = 0;

    // "Copy ombrixs", then the copy under a progress dialog titled `title`.
    virtual std::optional<CopyChoice> askCopy(const CopyRequest& request) = 0;
    virtual int runCopy(const std::string& title, const ProgressWork& work) = 0;

    // "Ombrix - Image File Properties": edits `properties` in place; true on OK. The two
    // buttons call back while the sheet is open.
    virtual bool editProperties(ImageProperties& properties, const PropertyEditing& editing,
                                const std::function<void()>& changePassword,
                                const std::function<void()>& createShortcut) = 0;
    // "Change password": the new password as typed twice, nothing when cancelled.
    virtual std::optional<std::pair<std::string, std::string>> askNewPassword() = 0;

    // A folder chosen by the user, nothing when cancelled.
    virtual std::optional<std::string> chooseFolder(const std::string& title,
                                                    const std::string& start) = 0;
    virtual void showFileInformation(const FileInformation& file) = 0;
};

}  // namespace ombrix::mng
