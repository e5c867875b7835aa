// Adding, changing and removing shared catalogue entries: the global catalogue file is changed
// under its lock and the network access service is asked to publish it anew.
#include "common/catalogue_edit.h"

#include <cstring>
#include <optional>
#include <string>

#include "common/catalogue_entry.h"
#include "common/debug_trace.h"
#include "common/image_header.h"
#include "common/inifile.h"
#include "common/oxtcomm.h"
#include "common/unc_path.h"
#include "oxtenv.h"
#include "oxthelp.h"
#include "oxtlog.h"
#include "platform/ascii.h"
#include "platform/export.h"

using ombrix::debugTrace;
using namespace ombrix::catalogue;

namespace {

constexpr size_t kPathField = 259;

std::optional<std::string> catalogueFile() {
    return globalValue("OmxConfigFileNet");
}

bool samePath(std::string_view entry, std::string_view path) {
    return ombrix::ascii::equalsIgnoreCase(entryPath(entry), path);
}

// The key of the entry for `path`: the given key when its entry is that image, else the first
// entry of the section that is, else empty. Published indexes need not match file keys (keys
// below 5000 are published 5000 higher), so the path decides.
std::string keyForPath(const CIniFile& file, const std::string& key, std::string_view path) {
    std::string value;
    if (file.GetValue(kImagesSection, key, value) && samePath(value, path)) return key;
    CEntryList entries;
    file.GetSectionEntries(kImagesSection, entries);
    for (const CEntry& entry : entries) {
        if (samePath(entry.value, path)) return entry.key;
    }
    return {};
}

// Writes a new entry under the first free key from `index` on. 0 and the index used, else a
// failure already traced.
int addToImgFile(int index, const std::string& entry, int& usedIndex) {
    if (index < kSharedBase) {
        debugTrace("AddToImgFile() dwIndex = %d, szEntry = %s", index, entry.c_str());
        return -1;
    }
    auto path = catalogueFile();
    if (!path) {
        debugTrace("Could not get Imagepathname");
        return -1;
    }
    CIniFile file(*path);
    if (int err = file.OpenAndLoad(true, CIniFile::kAttempts)) return err;
    // Another program may have added the same image since the store was published.
    if (!keyForPath(file, "", entryPath(entry)).empty()) {
        debugTrace("ExistsImage returned true");
        return 1;
    }
    std::string key = imageKey(index);
    std::string existing;
    if (file.GetValue(kImagesSection, key, existing)) {
        debugTrace("Found %s in Ini, using lookup", key.c_str());
        for (index = kFirstSharedIndex; index <= kLastLookupIndex; ++index) {
            if (!file.GetValue(kImagesSection, imageKey(index), existing)) break;
        }
        if (index > kLastLookupIndex) return -1;
        key = imageKey(index);
    }
    if (!file.SetValue(kImagesSection, key, entry)) return -1;
    if (int err = file.Save()) return err;
    file.Close();
    usedIndex = index;
    return 0;
}

int firstFreeSharedIndex() {
    int highest = OMXGetIndexHiNet();
    for (int index = kFirstSharedIndex; index <= highest; ++index) {
        if (!entryText(index)) return index;
    }
    return highest + 1;
}

}  // namespace

namespace ombrix::catalogue {

int changeEntry(int index, const OmxImageInfo& info, bool takeDescription) {
    debugTrace("Entering OMXSetImageInfoFromIndex_int()");
    OXTLog(0, "Setting Image info, index = %d", index);
    auto currentText = entryText(index);
    if (!currentText) return 0;
    OmxImageInfo current;
    parseEntry(*currentText, current);

    auto letter = [](char c) { return c == 0 ? '0' : c; };
    bool same = std::strncmp(info.program, current.program, sizeof info.program) == 0 &&
                std::strncmp(info.parameters, current.parameters, sizeof info.parameters) == 0 &&
                std::strncmp(info.description, current.description, 128) == 0 &&
                info.firstNumber == current.firstNumber &&
                info.secondNumber == current.secondNumber &&
                letter(info.driveLetter) == letter(current.driveLetter) &&
                (info.flag != 0) == (current.flag != 0);
    if (same) {
        OXTLog(0, "Image info has already this information, index = %d", index);
        debugTrace("Image info for %d has already this information", index);
        return 1;
    }

    OmxImageInfo updated = info;
    std::memcpy(updated.path, current.path, sizeof updated.path);
    if (!takeDescription) std::memcpy(updated.description, current.description, 129);
    std::string entry = formatEntry(updated);
    std::string imagePath = current.path;

    auto fail = [&] {
        OXTLog(3, "SetInImgFile() failed, index = %d, name = %s", index, imagePath.c_str());
        return 0;
    };
    if (index < kSharedBase) return fail();
    auto path = catalogueFile();
    if (!path) {
        OXTLog(3, "Could not get OMX_ENV_CONFIG_FILENET");
        return fail();
    }
    CIniFile file(*path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) {
        OXTLog(3, "Could not lock %s", path->c_str());
        return fail();
    }
    std::string key = keyForPath(file, imageKey(index), imagePath);
    if (key.empty()) return fail();  // the image left the file meanwhile: nothing to change
    if (!file.SetValue(kImagesSection, key, entry)) {
        OXTLog(3, "Failed to set entry, pSet = %s, Entry = %s", key.c_str(), entry.c_str());
        return fail();
    }
    if (file.Save() != 0) {
        OXTLog(3, "Could not write %s", path->c_str());
        return fail();
    }
    file.Close();
    OMXTSReReadImgFile();
    return 1;
}

}  // namespace ombrix::catalogue

OMX_EXPORT int OMXAddImageCheck(OmxImageInfo* info, int /*range: always shared*/, int strict) {
    debugTrace("Entering OMXAddImage_int()");
    if (info == nullptr) {
        debugTrace("No Info");
        return -1;
    }
    // A path that fills the field without its terminator, or whose shared form would not fit
    // it, is not catalogued cut short: the cut path may name another image.
    if (strnlen(info->path, sizeof info->path) >= sizeof info->path) {
        debugTrace("Path too long");
        return -1;
    }
    std::string path = ombrix::toUncForm(info->path);
    if (path.size() > kPathField) {
        debugTrace("Path too long");
        return -1;
    }
    if (OMXGetIndexFromImageFile(path.c_str(), OMX_RANGE_SHARED) != -1) {
        debugTrace("ExistsImage returned true");
        return 0;
    }
    std::memset(info->path, 0, sizeof info->path);
    path.copy(info->path, kPathField);

    std::string description;
    OmxImageHeader header;
    if (ombrix::header::read(path, header) != 0) {
        if (strict) return -1;
    } else if (ombrix::header::hasContainerMark(header)) {
        description = ombrix::header::description(header);
    } else {
        auto compat = globalValue("Omx3xCompat");
        if (!compat || *compat != "1") {
            debugTrace("Found invalid Signature");
            return -1;
        }
        if (!ombrix::header::olderFormatDescription(header, description)) return -1;
    }
    std::memset(info->description, 0, sizeof info->description);
    description.copy(info->description, 128);

    int index = firstFreeSharedIndex();
    std::string entry = formatEntry(*info);
    int usedIndex = index;
    int result = addToImgFile(index, entry, usedIndex);
    if (result == 1) return 0;  // already in the file
    if (result != 0) {
        debugTrace("AddToImgFile() returned: %d", result);
        return -1;
    }
    OMXTSReReadImgFile();
    return usedIndex;
}

OMX_EXPORT int OMXAddImage(OmxImageInfo* info, int range) {
    return OMXAddImageCheck(info, range, 1);
}

OMX_EXPORT int OMXSetImageInfoFromIndex(int index, const OmxImageInfo* info) {
    debugTrace("Entering OMXSetImageInfoFromIndex()");
    if (info == nullptr) return 0;
    return changeEntry(index, *info, false);
}

OMX_EXPORT int OMXRemoveImage(int index) {
    constexpr int kResult = -1;  // callers do not use the result
    debugTrace("Entering OMXRemoveImage()");
    debugTrace("Entering OMXRemoveImage_int()");
    if (index < kSharedBase) return kResult;
    auto text = entryText(index);
    if (!text) return kResult;
    std::string imagePath(entryPath(*text));
    ombrix::catalogue::ejectFromSessionDrives(imagePath);

    auto path = catalogueFile();
    if (!path) return kResult;
    CIniFile file(*path);
    if (file.OpenAndLoad(true, CIniFile::kAttempts) != 0) {
        OXTLog(3, "Could not lock %s", path->c_str());
        return kResult;
    }
    const std::string key = keyForPath(file, imageKey(index), imagePath);
    const bool removedKey =
        !key.empty() && file.SetValue(kImagesSection, key, nullptr) && file.Save() == 0;
    // The catalogue is free again before anybody is told to read it.
    file.Close();
    if (removedKey) {
        int removed = indexOfKey(key);
        if (removed >= 0 && removed < kSharedBase) removed += kSharedBase;  // as published
        if (removed == OMXGetIndexHiNet()) {
            EnvSetGlobalValue("OMXIndexHiNet", std::to_string(removed - 1).c_str());
        }
    }
    OMXTSReReadImgFile();
    return kResult;
}
