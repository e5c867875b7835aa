#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/omx_image_types.h"
#include "manager/mng_document.h"

// The client library's calls the image operations make, one function each, so the operations
// can be tested against a catalogue kept in memory. The program fills them with the library.
namespace ombrix::mng {

struct ClientPorts {
    // Catalogue. add: the new index, 0 when already catalogued, -1 on failure.
    std::function<int(OmxImageInfo& record, int range)> addImage;
    std::function<void(int index)> removeImage;
    std::function<bool(int index, OmxImageInfo& record)> imageInfo;
    std::function<bool(int index, const OmxImageInfo& record)> setImageInfo;
    // Whether the local range (below 5001) can be written at all; the client library keeps
    // every entry it adds in the shared range.
    std::function<bool()> localCatalogueWritable;
    // An entry as the views show it.
    std::function<std::optional<CatalogueImage>(int index)> catalogueImage;
    // The image file. header: 0 when read.
    std::function<int(const std::string& path, OmxImageHeader& header)> header;
    // The label and whether it can be changed; empty when none.
    std::function<std::string(const std::string& path, bool& changeable)> label;
    std::function<std::string(const std::string& path)> comment;
    // 0 when the file opens with the access (OMX_ACCESS_READ/WRITE).
    std::function<int(const std::string& path, unsigned access)> checkAccess;
    // Changes of the image file: true when written.
    std::function<bool(const std::string& path, const std::string& description)> setDescription;
    std::function<bool(const std::string& path, const std::string& label)> setLabel;
    std::function<bool(const std::string& path, const std::string& comment)> setComment;
    // 0 when set.
    std::function<int(const std::string& path, const std::string& oldPassword,
                      const std::string& newPassword)>
        setPassword;
    // Asks the image's password when it has one: true (with the password typed) when it was
    // right or there is none.
    std::function<bool(const std::string& path, std::string& typed)> verifyPassword;

    // Drives.
    std::function<int(char letter, int index)> insertIndex;
    std::function<int(char letter)> eject;
    std::function<void(int result)> reportInsertError;
    std::function<bool(char letter)> ejectPhysical;
    std::function<std::string()> adminDriveLetters;
    // The folder a drive letter's disc is read at.
    std::function<std::string(char letter)> driveFolder;

    // Conversion: 0 converted, 2/8 not an image, 5 failed (lastConversionError), 7 cancelled.
    using Progress = std::function<bool(int percent)>;
    std::function<int(const std::string& path, const Progress& progress)> convertIso;
    std::function<int(const std::string& path, const Progress& progress)> convertOlder;
    std::function<std::string()> lastConversionError;

    // The desktop: opening a document or folder with the user's program (0, or 31 when no
    // program takes it), starting a program of the installation.
    std::function<int(const std::string& path)> openDocument;
    // The file of a program of the installation ("OXTCmd.exe"), empty when it is missing.
    std::function<std::string(const std::string& program)> programFile;
    std::function<bool(const std::string& file, const std::vector<std::string>& arguments)>
        startProgram;
};

}  // namespace ombrix::mng
