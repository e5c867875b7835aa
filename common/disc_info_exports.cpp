// Disc information exports: volume label and date, comment, track table and sessions.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "common/debug_trace.h"
#include "common/image_container.h"
#include "common/image_header.h"
#include "common/md5_digest.h"
#include "common/oxtcomm_admin.h"
#include "common/oxtcomm_disc.h"
#include "common/oxtcomm_drives.h"
#include "common/raw_sector.h"
#include "platform/ascii.h"
#include "platform/export.h"
#include "platform/locked_file.h"
#include "platform/shell_execute.h"
#include "platform/win_error.h"

namespace img = ombrix::image;
namespace win = ombrix::win;
using ombrix::platform::FileAccess;
using ombrix::platform::LockedFile;

namespace {

constexpr size_t kDescriptorIdOffset = 40;
constexpr size_t kIdLength = 32;

void copyText(const std::string& text, char* buffer, size_t size) {
    if (size == 0) return;
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

// Decodes UTF-8 into code points; a byte that does not start a valid sequence stands for itself.
std::vector<uint32_t> codePoints(const char* text) {
    std::vector<uint32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p) {
        uint32_t c = *p;
        int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        bool valid = extra > 0;
        for (int i = 1; valid && i <= extra; ++i)
            valid = (p[i] & 0xC0) == 0x80;
        if (valid) {
            c &= 0x3F >> extra;
            for (int i = 1; i <= extra; ++i)
                c = c << 6 | (p[i] & 0x3F);
            p += extra + 1;
        } else {
            ++p;
        }
        out.push_back(c);
    }
    return out;
}

// Locates the disc's data track and reads its volume identity.
int volumeOf(const std::string& path, img::Container& c, size_t& track, img::VolumeInfo& info) {
    if (int err = img::readContainer(path, c)) return err;
    if (!img::findDataTrack(c, track)) return win::kExtendedError;
    return img::readVolumeInfo(path, c, track, info);
}

}  // namespace

OMX_EXPORT int OMXGetISOLabel(const char* imagePath, char* buffer, int size, int* changeable) {
    ombrix::debugTrace("Entering OMXGetISOLabel()");
    if (imagePath == nullptr || buffer == nullptr) return win::kInvalidParameter;
    img::Container c;
    size_t track = 0;
    img::VolumeInfo info;
    if (volumeOf(imagePath, c, track, info) != 0) return win::kExtendedError;
    if (size <= 0 || info.label.size() + 1 > static_cast<size_t>(size)) return win::kMoreData;
    copyText(info.label, buffer, static_cast<size_t>(size));
    if (changeable != nullptr) *changeable = info.changeable ? 1 : 0;
    return 0;
}

OMX_EXPORT int OMXChangeIsoLabel(unsigned char* block, int blockSize, const char* label) {
    if (block == nullptr || label == nullptr) return 0;
    size_t sectorSize;
    if (blockSize == 0x8000)
        sectorSize = img::kUserDataSize;
    else if (blockSize == 0x9300)
        sectorSize = img::kRawSectorSize;
    else
        return 0;
    unsigned char* primary = nullptr;
    unsigned char* joliet = nullptr;
    unsigned char* primarySector = nullptr;
    unsigned char* jolietSector = nullptr;
    for (size_t k = 0; k < img::kBlockSectors; ++k) {
        unsigned char* sector = block + k * sectorSize;
        unsigned char* d = sector;
        if (sectorSize == img::kRawSectorSize) d = sector + (sector[15] == 1 ? 16 : 24);
        if (d[0] == 255 || std::memcmp(d + 1, "CD001", 5) != 0) break;
        if (d[0] == 1 && primary == nullptr) {
            primary = d;
            primarySector = sector;
        }
        if (d[0] == 2 && d[88] == '%' && d[89] == '/' &&
            (d[90] == '@' || d[90] == 'C' || d[90] == 'E')) {
            joliet = d;
            jolietSector = sector;
            break;
        }
    }
    if (primary == nullptr) return 0;
    std::vector<uint32_t> chars = codePoints(label);
    unsigned char* id = primary + kDescriptorIdOffset;
    std::memset(id, 0, kIdLength);
    for (size_t i = 0; i < chars.size() && i < kIdLength; ++i) {
        uint32_t ch = chars[i];
        if (ch >= 'a' && ch <= 'z') ch -= 'a' - 'A';
        bool allowed = (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') || ch == '_';
        id[i] = allowed ? static_cast<unsigned char>(ch) : '_';
    }
    if (joliet != nullptr) {
        unsigned char* jid = joliet + kDescriptorIdOffset;
        std::memset(jid, 0, kIdLength);
        for (size_t i = 0; i < chars.size() && i < kIdLength / 2; ++i) {
            uint32_t ch = chars[i] > 0xFFFF ? '_' : chars[i];
            jid[2 * i] = static_cast<unsigned char>(ch >> 8);
            jid[2 * i + 1] = static_cast<unsigned char>(ch & 0xFF);
        }
    }
    if (sectorSize == img::kRawSectorSize) {
        // Raw sectors carry checks over their data; keep them valid for the changed sectors.
        img::updateSectorChecks(primarySector);
        if (jolietSector != nullptr) img::updateSectorChecks(jolietSector);
    }
    return 1;
}

namespace {

// The volume descriptors (sectors 16 to 31 of the data track) of plain part files, wherever the
// parts split them: each sector is read from and written back to the part that holds it.
int changePlainLabel(const std::string& imagePath, size_t track, uint32_t perPart,
                     const char* label) {
    std::map<uint32_t, img::TrackFile> parts;
    auto partOf = [&](uint32_t part) -> img::TrackFile* {
        auto it = parts.find(part);
        if (it != parts.end()) return &it->second;
        auto path = img::findPartFile(imagePath, static_cast<int>(track), static_cast<int>(part));
        if (!path) return nullptr;
        img::TrackFile file;
        if (file.open(*path, FileAccess::Update) != 0 || file.header().storage != img::kPlain) {
            return nullptr;
        }
        return &parts.emplace(part, std::move(file)).first->second;
    };
    img::TrackFile* first = partOf(0);
    if (first == nullptr) return win::kExtendedError;
    const uint64_t sectorSize = first->header().sectorSize;
    std::vector<unsigned char> block(size_t(sectorSize) * img::kBlockSectors, 0);
    struct Place {
        img::TrackFile* file;
        off_t offset;
    };
    std::vector<Place> places;
    for (uint32_t k = 0; k < img::kBlockSectors; ++k) {
        const uint32_t sector = uint32_t(img::kBlockSectors) + k;
        const uint32_t part = perPart != 0 ? sector / perPart : 0;
        const uint32_t inPart = perPart != 0 ? sector % perPart : sector;
        img::TrackFile* file = partOf(part);
        if (file == nullptr || file->header().sectorSize != sectorSize) break;
        const off_t at =
            static_cast<off_t>(file->header().firstSectorOffset + uint64_t(inPart) * sectorSize);
        size_t got = 0;
        if (file->file().readAt(block.data() + k * sectorSize, sectorSize, at, got) != 0 ||
            got != sectorSize) {
            break;  // the track ends here
        }
        places.push_back({file, at});
    }
    if (places.empty()) return win::kExtendedError;
    if (!OMXChangeIsoLabel(block.data(), static_cast<int>(block.size()), label))
        return win::kExtendedError;
    for (size_t k = 0; k < places.size(); ++k) {
        if (int err = places[k].file->file().writeAt(block.data() + k * sectorSize, sectorSize,
                                                     places[k].offset)) {
            return err;
        }
    }
    img::dropCachedBlock();
    for (auto& [number, file] : parts) {
        if (int err = file.file().sync()) return err;
    }
    return 0;
}

}  // namespace

OMX_EXPORT int OMXChangeIsoLabelFile(const char* imagePath, const char* label) {
    ombrix::debugTrace("Entering OMXChangeIsoLabelFile()");
    if (imagePath == nullptr || label == nullptr) return win::kInvalidParameter;
    img::Container c;
    if (img::readContainer(imagePath, c) != 0) return win::kExtendedError;
    size_t track = 0;
    if (!img::findDataTrack(c, track)) return win::kExtendedError;
    auto path = img::findPartFile(imagePath, static_cast<int>(track), 0);
    if (!path) return win::kExtendedError;
    img::TrackFile file;
    if (int err = file.open(*path, FileAccess::Update)) {
        return err == win::kInvalidData || err == win::kHandleEof ? win::kExtendedError : err;
    }
    if (file.header().storage == img::kPlain) {
        file = img::TrackFile();
        return changePlainLabel(imagePath, track, c.header.sectorsPerPartFile, label);
    }
    // A compressed track: its second block, when it is stored uncompressed in one part.
    const uint32_t blockBytes = file.blockBytes();
    img::BlockLocation where;
    if (file.locateBlock(1, where) != 0 || where.length != blockBytes)
        return win::kExtendedError;  // a compressed block is never written
    std::vector<unsigned char> block(blockBytes, 0);
    size_t got = 0;
    if (int err =
            file.file().readAt(block.data(), blockBytes, static_cast<off_t>(where.offset), got))
        return err;
    if (got != blockBytes) return win::kExtendedError;
    if (!OMXChangeIsoLabel(block.data(), static_cast<int>(blockBytes), label))
        return win::kExtendedError;
    if (int err = file.file().writeAt(block.data(), blockBytes, static_cast<off_t>(where.offset)))
        return err;
    img::dropCachedBlock();
    return file.file().sync();
}

OMX_EXPORT int OMXGetComment(const char* imagePath, char* buffer, int size) {
    if (imagePath == nullptr) return -1;
    LockedFile file;
    if (file.open(imagePath, FileAccess::Read) != 0) return -1;
    OmxImageHeader h;
    if (ombrix::header::read(file, h) != 0) return -1;
    size_t got = 0;
    if (h.commentOffset == 0 || h.commentLength == 0) return 0;
    off_t fileSize = 0;
    if (file.size(fileSize) != 0) return -1;
    // The text must lie in the file; a damaged header never makes us allocate more than that.
    if (h.commentLength > INT32_MAX ||
        uint64_t(h.commentOffset) + h.commentLength > uint64_t(fileSize))
        return -1;
    std::string text(h.commentLength, '\0');
    if (file.readAt(text.data(), text.size(), h.commentOffset, got) != 0 || got != text.size())
        return -1;
    if (buffer != nullptr && size > 0) copyText(text, buffer, static_cast<size_t>(size));
    return static_cast<int>(h.commentLength);
}

OMX_EXPORT int OMXSetComment(const char* imagePath, const char* text) {
    ombrix::debugTrace("Entering OMXSetComment()");
    if (imagePath == nullptr || text == nullptr) return win::kInvalidParameter;
    OmxImageHeader h;
    if (int err = ombrix::header::read(imagePath, h)) return err;
    if (!ombrix::header::checksumMatches(h)) return win::kExtendedError;
    LockedFile file;
    if (int err = file.open(imagePath, FileAccess::Update)) return err;
    size_t got = 0;
    // Read again under the writer's lock, so a change made meanwhile is not overwritten.
    if (int err = file.readAt(&h, sizeof h, 0, got)) return err;
    if (got != sizeof h || !ombrix::header::checksumMatches(h)) return win::kExtendedError;
    off_t fileSize = 0;
    if (int err = file.size(fileSize)) return err;
    const uint64_t newLength = std::strlen(text);
    if (newLength > UINT32_MAX) return win::kExtendedError;

    if (h.commentOffset == 0 || h.commentLength == 0) {
        if (uint64_t(fileSize) + newLength > UINT32_MAX) return win::kExtendedError;
        if (int err = file.writeAt(text, newLength, fileSize)) return err;
        h.commentOffset = static_cast<uint32_t>(fileSize);
        h.commentLength = static_cast<uint32_t>(newLength);
        if (!ombrix::header::setChecksum(h)) return win::kExtendedError;
        if (int err = file.writeAt(&h, sizeof h, 0)) return err;
        return file.sync();
    }

    // Rebuild: the bytes before the comment, the new text, the bytes after the old comment.
    const uint64_t oldStart = h.commentOffset;
    const uint64_t oldEnd = oldStart + h.commentLength;
    if (oldStart < sizeof h || oldEnd > uint64_t(fileSize)) return win::kExtendedError;
    const int64_t delta = int64_t(newLength) - int64_t(h.commentLength);
    if (int64_t(fileSize) + delta > int64_t(UINT32_MAX)) return win::kExtendedError;
    std::string rebuilt;
    rebuilt.reserve(static_cast<size_t>(fileSize + delta));
    char piece[1000];
    for (uint64_t at = 0; at < oldStart;) {
        size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof piece, oldStart - at));
        if (int err = file.readAt(piece, n, static_cast<off_t>(at), got)) return err;
        if (got != n) return win::kExtendedError;
        rebuilt.append(piece, n);
        at += n;
    }
    rebuilt.append(text, newLength);
    std::string tail(static_cast<size_t>(fileSize - oldEnd), '\0');
    if (int err = file.readAt(tail.data(), tail.size(), static_cast<off_t>(oldEnd), got))
        return err;
    if (got != tail.size()) return win::kExtendedError;
    rebuilt += tail;
    if (h.trailingBlockOffset >= oldEnd)
        h.trailingBlockOffset = static_cast<uint32_t>(h.trailingBlockOffset + delta);
    if (h.sessionBlockOffset >= oldEnd)
        h.sessionBlockOffset = static_cast<uint32_t>(h.sessionBlockOffset + delta);
    h.commentLength = static_cast<uint32_t>(newLength);
    if (!ombrix::header::setChecksum(h)) return win::kExtendedError;
    std::memcpy(rebuilt.data(), &h, sizeof h);
    // Written over the old bytes first and cut afterwards, so the file is never empty.
    if (int err = file.writeAt(rebuilt.data(), rebuilt.size(), 0)) return err;
    if (int err = file.truncate(static_cast<off_t>(rebuilt.size()))) return err;
    return file.sync();
}

OMX_EXPORT int OMXGetTrkTable(const char* imagePath, void* buffer, int size) {
    if (imagePath == nullptr || buffer == nullptr || size < 0) return 0;
    img::Container c;
    if (img::readContainer(imagePath, c, false) != 0) return 0;
    std::memset(buffer, 0, static_cast<size_t>(size));
    if (c.trackTable.size() > static_cast<size_t>(size)) return 0;
    if (!c.trackTable.empty()) std::memcpy(buffer, c.trackTable.data(), c.trackTable.size());
    return static_cast<int>(c.tracks.size());
}

OMX_EXPORT int OMXIsAnyTrackCompressed(const char* imagePath) {
    if (imagePath == nullptr) return -1;
    LockedFile file;
    if (file.open(imagePath, FileAccess::Read) != 0) return -1;
    OmxImageHeader h;
    if (ombrix::header::read(file, h) != 0) return -1;
    size_t got = 0;
    size_t count = std::min<size_t>(h.trackCount, img::kMaxTracks);
    std::vector<uint8_t> table(count * img::kTrackRecordSize);
    if (file.readAt(table.data(), table.size(), sizeof h, got) != 0 || got != table.size())
        return 255;
    for (size_t i = 0; i < count; ++i) {
        if (table[i * img::kTrackRecordSize + 1] != 0) return 1;
    }
    return 0;
}

OMX_EXPORT int OMXGetSessions(const char* imagePath, OmxSessionInfo* sessions, int size) {
    if (imagePath == nullptr || sessions == nullptr || size < 0) return 0;
    img::Container c;
    if (img::readContainer(imagePath, c) != 0) return 0;
    const int count = c.sessionCount();
    if (static_cast<size_t>(count) * sizeof(OmxSessionInfo) > static_cast<size_t>(size)) return 0;
    const std::vector<img::TocEntry> list = img::trackList(c.header);
    for (int s = 1; s <= count; ++s) {
        OmxSessionInfo& out = sessions[s - 1];
        std::memset(&out, 0, sizeof out);
        int first = 0, last = 0;
        if (c.sessionBlock) {
            if (!c.sessionTracks(s, first, last)) first = last = 0;
        } else if (!list.empty()) {
            first = list.front().number;
            last = list.back().number;
        }
        out.firstTrack = first;
        out.lastTrack = last;
        int data = 0, audio = 0;
        const img::TocEntry* firstData = nullptr;
        for (const img::TocEntry& e : list) {
            if (e.number < first || e.number > last) continue;
            if (e.control & 4) {
                if (data++ == 0) firstData = &e;
            } else {
                ++audio;
            }
        }
        out.kind = (data == 1 && audio == 0)  ? 1
                   : (data == 0 && audio > 0) ? 2
                   : (data > 0 && audio > 0)  ? 3
                                              : 4;
        if (firstData == nullptr || firstData->number == 0) continue;
        size_t index = firstData->number - 1u;
        img::VolumeInfo info;
        if (img::readVolumeInfo(imagePath, c, index, info) != 0) continue;
        out.firstDataTrack = firstData->number;
        out.startAddress = static_cast<int32_t>(firstData->address);
        copyText(info.label, out.label, sizeof out.label);
        copyText(info.date, out.date, sizeof out.date);
    }
    return count;
}

OMX_EXPORT int OMXIsAnalogAudio(char drive) {
    char path[300] = "";
    if (!OMXGetMountedFileFromDrive(drive, path, sizeof path) || path[0] == '\0') return 0;
    img::Container c;
    if (img::readContainer(path, c, false) != 0) return 0;
    return img::hasAudioTrack(c) ? 1 : 0;
}

OMX_EXPORT long OMXBuildOMX(const char* imagePath) {
    if (imagePath == nullptr) return ombrix::platform::kShellFileNotFound;
    char install[4096] = "";
    OMXGetInstallPath(install, sizeof install);
    // The image editor is an outside tool in the installation's system folder, under any case
    // of its name.
    std::string folder = std::string(install) + "system";
    std::filesystem::path editor = ombrix::platform::findProgramFile(folder, "Omxedit.exe");
    if (editor.empty()) editor = std::filesystem::path(folder) / "Omxedit";
    const std::string line =
        "\"" + editor.string() + "\" /COMX:" + ombrix::platform::quoteArgument(imagePath);
    return OMXExecute(line.c_str(), "");
}
