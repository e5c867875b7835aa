#include "omxcvt.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/image_writer.h"
#include "platform/export.h"
#include "platform/locked_file.h"

namespace img = ombrix::image;
using ombrix::platform::FileAccess;
using ombrix::platform::LockedFile;

namespace {

constexpr int kConverted = 0;
constexpr int kNotAnImage = 2;
constexpr int kFailed = 5;
constexpr int kCancelled = 7;
constexpr int kInvalidArgument = 87;
constexpr uint64_t kMaxPartBytes = uint64_t(1) << 31;  // block offsets of a part are 32-bit
constexpr uint32_t kChunkSectors = 256;

thread_local std::string t_lastError;

int failWith(int code, std::string text) {
    t_lastError = std::move(text);
    return code;
}

std::string defaultTarget(const std::string& source) {
    std::filesystem::path p(source);
    p.replace_extension(".om4");
    return p.string();
}

std::string trimmedLabel(const uint8_t* descriptor) {
    std::string label(reinterpret_cast<const char*>(descriptor + 40), 32);
    label.resize(strnlen(label.c_str(), 32));
    while (!label.empty() && label.back() == ' ')
        label.pop_back();
    return label;
}

// Removes what a failed or cancelled conversion left behind.
void removeOutputs(const std::string& target, uint32_t parts) {
    std::error_code ec;
    std::filesystem::remove(target, ec);
    for (uint32_t part = 0; part < parts; ++part)
        std::filesystem::remove(img::partFileName(target, 0, static_cast<int>(part)), ec);
}

int convert(const std::string& source, const OmxCvtOptions& o) {
    t_lastError.clear();
    if (o.storage < OMXCVT_PLAIN || o.storage > OMXCVT_DEFLATE)
        return failWith(kInvalidArgument, "unknown storage");
    if (o.sectorSize != 2048 && o.sectorSize != 2352)
        return failWith(kInvalidArgument, "the sector size must be 2048 or 2352");

    LockedFile iso;
    if (iso.open(source, FileAccess::Read) != 0)
        return failWith(kNotAnImage, "cannot open " + source);
    off_t size = 0;
    if (iso.size(size) != 0) return failWith(kFailed, "cannot read " + source);
    std::vector<uint8_t> descriptor(2048);
    size_t got = 0;
    if (size < 17 * 2048 || iso.readAt(descriptor.data(), 2048, 16 * 2048, got) != 0 ||
        got != 2048 || descriptor[0] != 1 || std::memcmp(descriptor.data() + 1, "CD001", 5) != 0)
        return failWith(kNotAnImage, source + " holds no ISO 9660 file system");
    const uint64_t sectors64 = (uint64_t(size) + 2047) / 2048;
    if (sectors64 > 0xFFFFFFFFu / 2) return failWith(kFailed, "the image is too large");
    const uint32_t sectors = static_cast<uint32_t>(sectors64);

    uint32_t perPart = o.sectorsPerPart;
    const uint32_t maxPerPart = static_cast<uint32_t>(kMaxPartBytes / o.sectorSize) & ~15u;
    if (perPart == 0) perPart = std::min(sectors, maxPerPart);
    if (perPart > maxPerPart)
        return failWith(kInvalidArgument, "too many sectors per part file for 2 GB parts");
    const uint32_t parts = (sectors + perPart - 1) / perPart;
    if (parts > 10) {
        // Part numbers are one digit in the file names.
        return failWith(kInvalidArgument,
                        "more than 10 track part files; raise the sectors per part");
    }

    const std::string target = o.target && *o.target ? o.target : defaultTarget(source);
    std::error_code ec;
    // Nothing is written before it is sure that no output is the source itself: the container
    // or a part file of the same name would be written over the image being read.
    std::vector<std::string> outputs{target};
    for (uint32_t part = 0; part < parts; ++part)
        outputs.push_back(img::partFileName(target, 0, static_cast<int>(part)));
    for (const std::string& output : outputs) {
        if (std::filesystem::equivalent(source, output, ec) ||
            std::filesystem::weakly_canonical(source, ec) ==
                std::filesystem::weakly_canonical(output, ec)) {
            return failWith(kFailed, output + " would write over the source");
        }
    }
    if (!o.overwrite && std::filesystem::exists(target))
        return failWith(kFailed, target + " exists");

    img::PartOptions partOptions{static_cast<uint8_t>(o.storage),
                                 static_cast<uint16_t>(o.sectorSize), 1};
    std::vector<uint8_t> chunk(size_t(kChunkSectors) * 2048);
    int lastPercent = -1;
    auto report = [&](uint64_t done) {
        int percent = static_cast<int>(done * 100 / sectors);
        if (percent == lastPercent || o.progress == nullptr) return true;
        lastPercent = percent;
        return o.progress(percent) != 0;
    };
    if (!report(0)) return kCancelled;
    for (uint32_t part = 0; part < parts; ++part) {
        const uint32_t first = part * perPart;
        const uint32_t count = std::min(perPart, sectors - first);
        img::PartWriter writer;
        std::string path = img::partFileName(target, 0, static_cast<int>(part));
        if (writer.open(path, partOptions, count, first) != 0) {
            removeOutputs(target, part + 1);
            return failWith(kFailed, "cannot create " + path);
        }
        for (uint32_t done = 0; done < count;) {
            uint32_t n = std::min(kChunkSectors, count - done);
            std::fill(chunk.begin(), chunk.end(), 0);
            if (iso.readAt(chunk.data(), size_t(n) * 2048,
                           static_cast<off_t>(uint64_t(first + done) * 2048), got) != 0) {
                removeOutputs(target, part + 1);
                return failWith(kFailed, "cannot read " + source);
            }
            if (writer.add(chunk.data(), n) != 0) {
                removeOutputs(target, part + 1);
                return failWith(kFailed, "cannot write " + path);
            }
            done += n;
            if (!report(uint64_t(first) + done)) {
                writer.finish();
                removeOutputs(target, part + 1);
                return kCancelled;
            }
        }
        if (writer.finish() != 0) {
            removeOutputs(target, part + 1);
            return failWith(kFailed, "cannot write " + path);
        }
    }

    img::ContainerSpec spec;
    spec.sectorsPerPart = perPart;
    // The size the image holds: whole sectors, as other readers of the header count it.
    spec.contentSize =
        static_cast<uint32_t>(std::min<uint64_t>(uint64_t(sectors) * 2048, 0xFFFFFFFFu));
    spec.description = o.description ? o.description : trimmedLabel(descriptor.data());
    if (o.password) spec.password = o.password;
    if (o.comment) spec.comment = o.comment;
    img::TrackRecord track;
    track.kind = img::kDataTrack;
    track.compressed = o.storage != OMXCVT_PLAIN;
    track.endSector = sectors;
    spec.tracks.push_back(track);
    spec.trackList.push_back({0x14, 1, 0});
    spec.leadOut = sectors;
    if (img::writeContainer(target, spec) != 0) {
        removeOutputs(target, parts);
        return failWith(kFailed, "cannot write " + target);
    }
    // Written over an earlier conversion: its further part files belong to no image now.
    if (o.overwrite) {
        for (int part = static_cast<int>(parts); part < 10; ++part) {
            std::filesystem::remove(img::partFileName(target, 0, part), ec);
        }
    }
    return kConverted;
}

}  // namespace

OMX_EXPORT int OMXConvertISO2OM4Ex(const char* isoPath, const OmxCvtOptions* options) {
    if (isoPath == nullptr || options == nullptr) return failWith(kInvalidArgument, "no image");
    try {
        return convert(isoPath, *options);
    } catch (const std::exception& e) {
        return failWith(kFailed, e.what());
    }
}

OMX_EXPORT int OMXConvertISO2OM4(const char* isoPath, int storage, int overwrite,
                                 OMXCvtProgressProc progress) {
    OmxCvtOptions o{};
    o.storage = storage;
    o.sectorSize = 2048;
    o.overwrite = overwrite;
    o.progress = progress;
    return OMXConvertISO2OM4Ex(isoPath, &o);
}

OMX_EXPORT int OMXConvertZRM2OM4(const char* zrmPath, int /*storage*/, int /*overwrite*/,
                                 OMXCvtProgressProc /*progress*/) {
    if (zrmPath == nullptr) return failWith(kInvalidArgument, "no image");
    LockedFile file;
    char signature[12] = {};
    size_t got = 0;
    if (file.open(zrmPath, FileAccess::Read) != 0 ||
        file.readAt(signature, sizeof signature, 140, got) != 0 || got != sizeof signature)
        return failWith(kNotAnImage, std::string("cannot read ") + zrmPath);
    if (std::strncmp(signature, "ZRM V1.0", 12) != 0 &&
        std::strncmp(signature, "ZRM V3.0", 12) != 0)
        return failWith(kNotAnImage, std::string(zrmPath) + " is not an older-format image");
    // The older format's track data layout is not known here, so such images are refused.
    return failWith(kNotAnImage, "images of the older format cannot be converted");
}

OMX_EXPORT int OMXGetLastCVTError(char* text, int size) {
    if (text != nullptr && size > 0) {
        size_t n = std::min(t_lastError.size(), static_cast<size_t>(size) - 1);
        std::memcpy(text, t_lastError.data(), n);
        text[n] = '\0';
    }
    return static_cast<int>(t_lastError.size());
}
