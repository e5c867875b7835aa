#include "common/image_writer.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "common/image_header.h"
#include "common/lz_codec.h"
#include "common/md5_digest.h"
#include "platform/win_error.h"

namespace ombrix::image {
namespace {

void putLe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}
void putBe32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * (3 - i)));
}

}  // namespace

std::vector<uint8_t> compressBlock(uint8_t storage, const uint8_t* data, size_t length) {
    std::vector<uint8_t> out;
    if (storage == kLz) {
        out = lz::encode({data, length});
    } else if (storage == kDeflate) {
        uLongf size = compressBound(static_cast<uLong>(length));
        out.resize(size);
        if (compress2(out.data(), &size, data, static_cast<uLong>(length), 6) != Z_OK) return {};
        out.resize(size);
    }
    return out;
}

int PartWriter::open(const std::string& path, const PartOptions& options, uint32_t sectors,
                     uint32_t firstAddress) {
    options_ = options;
    sectors_ = sectors;
    added_ = 0;
    address_ = firstAddress;
    block_.clear();
    table_.clear();
    if (int err = file_.open(path, platform::FileAccess::Write)) return err;
    if (int err = file_.truncate(0)) return err;
    uint8_t h[kTrackHeaderSize] = {};
    h[9] = options.lengthStyle;
    h[22] = options.storage;
    h[25] = static_cast<uint8_t>(options.sectorSize & 0xFF);
    h[26] = static_cast<uint8_t>(options.sectorSize >> 8);
    uint32_t blocks = (sectors + kBlockSectors - 1) / kBlockSectors;
    written_ = kTrackHeaderSize;
    if (options.storage == kPlain) {
        putLe32(h + 43, kTrackHeaderSize);
    } else {
        putLe32(h + 31, kTrackHeaderSize);
        written_ += 4 * (uint64_t(blocks) + 1);
    }
    return file_.writeAt(h, sizeof h, 0);
}

int PartWriter::flushBlock() {
    if (block_.empty()) return 0;
    const size_t full = size_t(options_.sectorSize) * kBlockSectors;
    if (options_.storage == kPlain) {
        if (int err = file_.writeAt(block_.data(), block_.size(), static_cast<off_t>(written_)))
            return err;
        written_ += block_.size();
        block_.clear();
        return 0;
    }
    // A stored length of exactly 16 sectors means "not compressed", so only full blocks may be
    // stored as they are; a short last block is always compressed.
    std::vector<uint8_t> packed = compressBlock(options_.storage, block_.data(), block_.size());
    const std::vector<uint8_t>* data = &packed;
    if (block_.size() == full && (packed.empty() || packed.size() >= full)) data = &block_;
    if (data->empty() || (data != &block_ && data->size() >= full)) return win::kInvalidData;
    if (written_ + 2 + data->size() > UINT32_MAX) return win::kDiskFull;
    table_.push_back(static_cast<uint32_t>(written_));
    uint8_t lead[2] = {static_cast<uint8_t>(data->size() & 0xFF),
                       static_cast<uint8_t>(data->size() >> 8)};
    if (int err = file_.writeAt(lead, 2, static_cast<off_t>(written_))) return err;
    if (int err = file_.writeAt(data->data(), data->size(), static_cast<off_t>(written_ + 2)))
        return err;
    written_ += 2 + data->size();
    block_.clear();
    return 0;
}

int PartWriter::add(const uint8_t* userData, size_t count) {
    const size_t sectorSize = options_.sectorSize;
    for (size_t i = 0; i < count; ++i) {
        if (added_ >= sectors_) return win::kInvalidParameter;
        size_t at = block_.size();
        block_.resize(at + sectorSize);
        if (sectorSize == kRawSectorSize)
            makeRawSector(userData + i * kUserDataSize, address_ + added_, block_.data() + at);
        else
            std::memcpy(block_.data() + at, userData + i * kUserDataSize, kUserDataSize);
        ++added_;
        if (block_.size() == sectorSize * kBlockSectors)
            if (int err = flushBlock()) return err;
    }
    return 0;
}

int PartWriter::finish() {
    if (int err = flushBlock()) return err;
    if (options_.storage != kPlain) {
        table_.push_back(static_cast<uint32_t>(written_));
        std::vector<uint8_t> raw(table_.size() * 4);
        for (size_t i = 0; i < table_.size(); ++i)
            putLe32(raw.data() + 4 * i, table_[i]);
        if (int err = file_.writeAt(raw.data(), raw.size(), kTrackHeaderSize)) return err;
    }
    int err = file_.sync();
    file_.close();
    return err;
}

int writeContainer(const std::string& path, const ContainerSpec& spec) {
    OmxImageHeader h{};
    h.discType = spec.discType;
    h.trackCount = static_cast<uint8_t>(std::min<size_t>(spec.tracks.size(), kMaxTracks));
    h.sectorsPerPartFile = spec.sectorsPerPart;
    h.formatMark = kOmxFormatMark;
    // READ TOC format 0: data length, first and last track, descriptors, lead-out.
    size_t entries = std::min<size_t>(spec.trackList.size(), 99);
    uint16_t dataLength = static_cast<uint16_t>(2 + 8 * (entries + 1));
    h.trackList[0] = static_cast<uint8_t>(dataLength >> 8);
    h.trackList[1] = static_cast<uint8_t>(dataLength & 0xFF);
    h.trackList[2] = entries ? spec.trackList.front().number : 0;
    h.trackList[3] = entries ? spec.trackList[entries - 1].number : 0;
    for (size_t i = 0; i <= entries; ++i) {
        uint8_t* d = h.trackList + 4 + 8 * i;
        if (i < entries) {
            d[1] = spec.trackList[i].control;
            d[2] = spec.trackList[i].number;
            putBe32(d + 4, spec.trackList[i].address);
        } else {
            d[1] = 0x14;
            d[2] = 0xAA;
            putBe32(d + 4, spec.leadOut);
        }
    }
    h.contentSize = spec.contentSize;
    std::memcpy(h.containerMark, "OMXContainer", 13);
    std::memcpy(h.description, spec.description.data(),
                std::min(spec.description.size(), sizeof h.description - 1));
    if (!spec.password.empty()) {
        auto digest = md5Hex(spec.password);
        if (!digest) return win::kExtendedError;
        std::memcpy(h.passwordDigest, digest->c_str(), 33);
    }
    std::vector<uint8_t> table(h.trackCount * kTrackRecordSize, 0);
    for (size_t i = 0; i < h.trackCount; ++i) {
        uint8_t* r = table.data() + i * kTrackRecordSize;
        const TrackRecord& t = spec.tracks[i];
        r[0] = t.kind;
        r[1] = t.compressed;
        putLe32(r + 2, t.firstSector);
        putLe32(r + 6, t.endSector);
        std::memcpy(r + 22, t.dataPath.data(), std::min<size_t>(t.dataPath.size(), 259));
    }
    uint64_t end = sizeof h + table.size();
    if (!spec.comment.empty()) {
        h.commentOffset = static_cast<uint32_t>(end);
        h.commentLength = static_cast<uint32_t>(spec.comment.size());
        end += spec.comment.size();
    }
    h.trailingBlockOffset = spec.trailingBlockOffset;
    if (spec.sessionBlock) h.sessionBlockOffset = static_cast<uint32_t>(end);
    if (!header::setChecksum(h)) return win::kExtendedError;

    platform::LockedFile file;
    if (int err = file.open(path, platform::FileAccess::Write)) return err;
    if (int err = file.truncate(0)) return err;
    std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
    bytes.append(reinterpret_cast<const char*>(table.data()), table.size());
    bytes += spec.comment;
    if (spec.sessionBlock)
        bytes.append(reinterpret_cast<const char*>(spec.sessionBlock->data()), kSessionBlockSize);
    if (int err = file.writeAt(bytes.data(), bytes.size(), 0)) return err;
    return file.sync();
}

}  // namespace ombrix::image
