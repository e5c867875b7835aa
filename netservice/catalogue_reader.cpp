// The network catalogue: publishing its entries under shared key numbers and telling the
// management service what changed.
#include <sys/stat.h>

#include <cstdio>

#include "common/inifile.h"
#include "log/oxtlog.h"
#include "netservice/global_values.h"
#include "netservice/shared_files.h"
#include "platform/ascii.h"
#include "platform/text_printf.h"

using netsvc::DeleteGlobal;
using netsvc::GlobalLock;
using netsvc::SetGlobal;

namespace {

constexpr std::string_view kKeyPrefix = "OMXImage_";

std::string keyOf(long number) {
    char key[32];
    std::snprintf(key, sizeof key, "OMXImage_%.4ld", number);
    return key;
}

}  // namespace

std::optional<long> CSharedFiles::PublishedNumber(std::string_view key) {
    if (!ombrix::ascii::startsWithIgnoreCase(key, kKeyPrefix)) return std::nullopt;
    auto digits = ombrix::ascii::digitsNumber(key.substr(kKeyPrefix.size()));
    if (!digits) return std::nullopt;
    long number = *digits < kSharedBase ? *digits + kSharedBase : *digits;
    if (number > kMaxKeyNumber) return std::nullopt;
    return number;
}

bool CSharedFiles::ReadImagesFile() {
    std::lock_guard guard(lock_);
    OXTLog(0, "Entering ReadImagesFile");
    bool pathChanged = false;
    Values before;
    Values after;
    bool ok = readImagesLocked(pathChanged, before, after);
    if (ok) {
        succeeded(kCatalogue);
        queueCatalogueChanges(pathChanged, before, after);
        return true;
    }
    // Programs reload the catalogue whole after a failed read; once per change of the file.
    if (fail(kCatalogue, "ReadImagesFile() failed")) {
        CMountRequest reload;
        reload.m_request = CMountRequest::kCatalogueReloaded;
        push_(reload);
    }
    return false;
}

bool CSharedFiles::readImagesLocked(bool& pathChanged, Values& before, Values& after) {
    // What was published last: every shared key up to the highest number published.
    auto collectBefore = [&] {
        long highest = std::atol(netsvc::GlobalValue("OMXIndexHiNet").c_str());
        netsvc::ForEachNumberedKey(kKeyPrefix,
                                   [&](const std::string&, long n, const std::string& value) {
                                       if (n >= kSharedBase && n <= highest && !value.empty())
                                           before[n] = value;
                                   });
    };
    // The entries go; the file stays the catalogue when there is one, so images can be added.
    auto clearEntries = [&] {
        collectBefore();
        for (const auto& entry : before)
            DeleteGlobal(keyOf(entry.first));
        DeleteGlobal("OMXIndexHiNet");
        DeleteGlobal("OMXImageCount");
    };
    auto clearAll = [&] {
        GlobalLock global(kLockGlobalMs);
        clearEntries();
        DeleteGlobal("OmxConfigFileNet");
    };

    auto path = PathOf(kCatalogue);
    if (!path) {
        clearAll();
        fail(kCatalogue, "Did not get ENV_OMX_CONFIG_PATHNET");
        return false;
    }
    OXTLog(0, "Image-File is %s", path->c_str());
    if (!WriteTimeOf(*path)) CreateEmptyFile(*path);
    pathChanged =
        !cataloguePath_.empty() && !ombrix::ascii::equalsIgnoreCase(cataloguePath_, *path);

    CIniFile file(*path);
    if (int rc = file.OpenAndLoad(false, CIniFile::kAttempts); rc != 0) {
        // Held by another program: what was published stays until the file can be read.
        fail(kCatalogue,
             ombrix::platform::format("Could not lock %s, Error: %d", path->c_str(), rc));
        return false;
    }
    const auto time = WriteTimeOf(file.Descriptor());
    file.Close();
    // Remembered once opened: a move to a file that cannot be read yet is announced when it can.
    cataloguePath_ = *path;

    GlobalLock global(kLockGlobalMs);
    if (!global) {
        fail(kCatalogue, "Could not lock environment");
        return false;
    }
    // An empty file, or one whose section has no entries, is an empty catalogue; a file of
    // something else has no entries to publish, but stays the file new images are added to.
    const CIniMap empty;
    const CIniMap* images = file.GetSection("Images");
    if (images == nullptr) {
        struct stat st {};
        if (time && ::stat(path->c_str(), &st) == 0 && st.st_size > 0) {
            clearEntries();
            SetGlobal("OmxConfigFileNet", *path);
            fail(kCatalogue, ombrix::platform::format("Could not get entries for %s", "Images"));
            return false;
        }
        images = &empty;
    }
    collectBefore();
    OXTLog(0, "Found %d entries", static_cast<int>(images->size()));
    size_t skipped = 0;
    for (const auto& [key, value] : *images) {
        // A value is text up to a zero byte; an entry without one is no entry.
        std::string_view text = value.substr(0, value.find('\0'));
        auto number = PublishedNumber(key);
        if (!number || text.empty()) {
            ++skipped;
            continue;
        }
        after[*number] = std::string(text);
    }
    if (skipped > 0)
        OXTLog(0, "Skipped %d entries of another key form or without a value",
               static_cast<int>(skipped));
    // Only what differs is written: a large catalogue with a few changes stays quick.
    for (const auto& [number, value] : before) {
        if (!after.contains(number)) DeleteGlobal(keyOf(number));
    }
    for (const auto& [number, value] : after) {
        auto old = before.find(number);
        if (old == before.end() || old->second != value) SetGlobal(keyOf(number), value);
    }
    long highest = after.empty() ? 0 : after.rbegin()->first;
    SetGlobal("OMXIndexHiNet", std::to_string(highest));
    SetGlobal("OMXImageCount", std::to_string(after.size()));
    SetGlobal("OmxConfigFileNet", *path);
    storeTime(kCatalogue, time);
    return true;
}

void CSharedFiles::queueCatalogueChanges(bool pathChanged, const Values& before,
                                         const Values& after) {
    auto send = [this](int32_t code, const std::string& text) {
        CMountRequest record;
        record.m_request = code;
        record.setText(text);
        push_(record);
    };
    if (pathChanged) {
        send(CMountRequest::kCatalogueReloaded, "");
        return;
    }
    std::vector<long> removed, added, changed;
    for (const auto& [number, value] : before) {
        auto now = after.find(number);
        if (now == after.end()) {
            removed.push_back(number);
        } else if (!ombrix::ascii::equalsIgnoreCase(now->second, value)) {
            changed.push_back(number);
        }
    }
    for (const auto& [number, value] : after) {
        if (!before.contains(number)) added.push_back(number);
    }
    // Each number ends in "|": numbers from 10000 on have more than four digits, so the list
    // could not be split again without a separator.
    auto listText = [](const std::vector<long>& numbers) {
        std::string text;
        for (long n : numbers) {
            char digits[16];
            std::snprintf(digits, sizeof digits, "%.4ld|", n);
            text += digits;
        }
        return text;
    };
    std::string removedText = listText(removed), addedText = listText(added),
                changedText = listText(changed);
    // A list that does not fit the record's text is announced as a reload as well.
    constexpr size_t kTextLimit = CMountRequest::kTextSize - 1;
    if (removed.size() > kMaxListedChanges || added.size() > kMaxListedChanges ||
        changed.size() > kMaxListedChanges || removedText.size() > kTextLimit ||
        addedText.size() > kTextLimit || changedText.size() > kTextLimit) {
        send(CMountRequest::kCatalogueReloaded, "");
        return;
    }
    if (!removed.empty()) send(CMountRequest::kImagesRemoved, removedText);
    if (!added.empty()) send(CMountRequest::kImagesAdded, addedText);
    if (!changed.empty()) send(CMountRequest::kImagesChanged, changedText);
}
