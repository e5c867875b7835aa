#include "common/lz_codec.h"

#include <algorithm>
#include <array>

namespace ombrix::lz {
namespace {

constexpr size_t kMaxBlock = 0x9300;

// Reads the three interleaved streams. Any read past the end sets `bad` and yields 0, so a step
// is checked once after all its fields were read.
class StreamReader {
  public:
    StreamReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    uint32_t byte() {
        if (pos_ >= size_) return fail();
        return data_[pos_++];
    }
    uint32_t nibble() {
        if (nibblesLeft_ == 0 && !refill(nibbles_, nibblesLeft_, 8)) return fail();
        uint32_t v = nibbles_ & 0xF;
        nibbles_ >>= 4;
        --nibblesLeft_;
        return v;
    }
    uint32_t bit() {
        if (bitsLeft_ == 0 && !refill(bits_, bitsLeft_, 32)) return fail();
        uint32_t v = bits_ & 1;
        bits_ >>= 1;
        --bitsLeft_;
        return v;
    }
    // Distance of the "long" form: nibble h (0 means a second nibble plus 16), then a byte.
    uint32_t longDistance() {
        uint32_t h = nibble();
        if (h == 0) h = nibble() + 16;
        return h * 256 + byte();
    }
    uint32_t distanceBySelector() { return bit() ? longDistance() : byte(); }
    bool bad() const { return bad_; }

  private:
    uint32_t fail() {
        bad_ = true;
        return 0;
    }
    bool refill(uint32_t& word, int& left, int count) {
        if (size_ - pos_ < 4) return false;
        word = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 |
               uint32_t(data_[pos_ + 2]) << 16 | uint32_t(data_[pos_ + 3]) << 24;
        pos_ += 4;
        left = count;
        return true;
    }

    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
    uint32_t nibbles_ = 0;
    int nibblesLeft_ = 0;
    uint32_t bits_ = 0;
    int bitsLeft_ = 0;
    bool bad_ = false;
};

// Writes the streams in the order the reader takes them: a nibble or bit word is reserved at
// the cursor when its first nibble or bit is written and filled in as more follow.
class StreamWriter {
  public:
    void byte(uint32_t v) { out_.push_back(static_cast<uint8_t>(v)); }
    void nibble(uint32_t v) {
        if (nibblesUsed_ == 8) reserve(nibbleSlot_, nibblesUsed_);
        out_[nibbleSlot_ + nibblesUsed_ / 2] |=
            static_cast<uint8_t>((v & 0xF) << (4 * (nibblesUsed_ % 2)));
        ++nibblesUsed_;
    }
    void bit(uint32_t v) {
        if (bitsUsed_ == 32) reserve(bitSlot_, bitsUsed_);
        out_[bitSlot_ + bitsUsed_ / 8] |= static_cast<uint8_t>((v & 1) << (bitsUsed_ % 8));
        ++bitsUsed_;
    }
    void longDistance(uint32_t d) {
        uint32_t h = d >> 8;  // 1..31
        if (h < 16) {
            nibble(h);
        } else {
            nibble(0);
            nibble(h - 16);
        }
        byte(d & 0xFF);
    }
    void distanceWithSelector(uint32_t d) {
        bit(d >= 256);
        if (d >= 256)
            longDistance(d);
        else
            byte(d);
    }
    std::vector<uint8_t> take() { return std::move(out_); }

  private:
    void reserve(size_t& slot, int& used) {
        slot = out_.size();
        out_.resize(out_.size() + 4, 0);
        used = 0;
    }

    std::vector<uint8_t> out_;
    size_t nibbleSlot_ = 0;
    int nibblesUsed_ = 8;
    size_t bitSlot_ = 0;
    int bitsUsed_ = 32;
};

constexpr uint32_t kMaxDistance = 31 * 256 + 255;  // long form, h up to 31
constexpr uint32_t kMaxDistanceLength3 = 15 * 256 + 255;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 29 + 254;
constexpr size_t kMaxLiteralRun = 25 + 255;

void writeMatch(StreamWriter& w, size_t length, uint32_t d) {
    if (length == 3) {
        if (d < 256) {
            w.nibble(0);
            w.byte(d);
        } else if (d < 512) {
            w.nibble(3);
            w.byte(d - 256);
        } else {
            w.nibble(4);
            w.nibble(d >> 8);
            w.byte(d & 0xFF);
        }
    } else if (length <= 5) {
        if (d < 256) {
            w.nibble(static_cast<uint32_t>(length - 3));
            w.byte(d);
        } else {
            w.nibble(static_cast<uint32_t>(length + 1));
            w.longDistance(d);
        }
    } else if (length == 6) {
        w.nibble(7);
        w.distanceWithSelector(d);
    } else if (length <= 8) {
        w.nibble(8);
        w.bit(static_cast<uint32_t>(length - 7));
        w.distanceWithSelector(d);
    } else if (length <= 12) {
        w.nibble(9);
        w.bit(static_cast<uint32_t>((length - 9) >> 1));
        w.bit(static_cast<uint32_t>((length - 9) & 1));
        w.distanceWithSelector(d);
    } else if (length <= 28) {
        w.nibble(15);
        w.bit(0);
        w.nibble(static_cast<uint32_t>(length - 13));
        w.distanceWithSelector(d);
    } else {
        w.nibble(15);
        w.bit(1);
        w.bit(1);
        w.byte(static_cast<uint32_t>(length - 29));
        w.distanceWithSelector(d);
    }
}

void writeLiterals(StreamWriter& w, const uint8_t* p, size_t count) {
    while (count > 0) {
        size_t n = std::min(count, kMaxLiteralRun);
        if (n == 1 || n == 2) {
            w.nibble(static_cast<uint32_t>(9 + n));
        } else if (n <= 4) {
            w.nibble(12);
            w.bit(static_cast<uint32_t>(n - 3));
        } else if (n <= 8) {
            w.nibble(13);
            w.bit(static_cast<uint32_t>((n - 5) >> 1));
            w.bit(static_cast<uint32_t>((n - 5) & 1));
        } else if (n <= 24) {
            w.nibble(14);
            w.nibble(static_cast<uint32_t>(n - 9));
        } else {
            w.nibble(15);
            w.bit(1);
            w.bit(0);
            w.byte(static_cast<uint32_t>(n - 25));
        }
        for (size_t i = 0; i < n; ++i)
            w.byte(p[i]);
        p += n;
        count -= n;
    }
}

}  // namespace

long decode(std::span<const uint8_t> in, std::span<uint8_t> out) {
    const size_t capacity = std::min(out.size(), kMaxBlock);
    StreamReader r(in.data(), std::min(in.size(), capacity));
    std::array<uint16_t, kMaxBlock> items;  // output offset where each item starts
    size_t itemCount = 0;
    size_t length = 0;

    for (;;) {
        size_t matchLength = 0;
        size_t literals = 0;
        uint32_t d = 0;
        bool end = false;
        switch (uint32_t code = r.nibble()) {
            case 0:
            case 1:
            case 2:
                matchLength = 3 + code;
                d = r.byte();
                break;
            case 3:
                matchLength = 3;
                d = r.byte() + 256;
                break;
            case 4: {
                uint32_t m = r.nibble();
                if (m > 1) {
                    matchLength = 3;
                    d = m * 256 + r.byte();
                } else {
                    matchLength = m + 3;
                    d = 0;
                }
                break;
            }
            case 5:
            case 6:
                matchLength = code - 1;
                d = r.longDistance();
                break;
            case 7:
                matchLength = 6;
                d = r.distanceBySelector();
                break;
            case 8:
                matchLength = 7 + r.bit();
                d = r.distanceBySelector();
                break;
            case 9: {
                uint32_t high = r.bit();
                uint32_t low = r.bit();
                matchLength = 9 + 2 * high + low;
                d = r.distanceBySelector();
                break;
            }
            case 10:
            case 11: literals = code - 9; break;
            case 12: literals = 3 + r.bit(); break;
            case 13: {
                uint32_t high = r.bit();
                uint32_t low = r.bit();
                literals = 5 + 2 * high + low;
                break;
            }
            case 14: literals = 9 + r.nibble(); break;
            default:  // 15
                if (r.bit() == 0) {
                    matchLength = 13 + r.nibble();
                    d = r.distanceBySelector();
                } else if (r.bit() == 1) {
                    uint32_t f = r.byte();
                    if (f == 255) {
                        end = true;
                    } else {
                        matchLength = 29 + f;
                        d = r.distanceBySelector();
                    }
                } else {
                    literals = 25 + r.byte();
                }
                break;
        }
        if (r.bad()) return -1;
        if (end) return static_cast<long>(length);

        if (matchLength > 0) {
            if (size_t(d) + 1 > itemCount) return -1;
            if (matchLength > capacity - length) return -1;
            size_t source = items[itemCount - d - 1];
            items[itemCount++] = static_cast<uint16_t>(length);
            for (size_t k = 0; k < matchLength; ++k)
                out[length + k] = out[source + k];
            length += matchLength;
        } else {
            if (literals > capacity - length) return -1;
            for (size_t k = 0; k < literals; ++k) {
                uint8_t b = static_cast<uint8_t>(r.byte());
                if (r.bad()) return -1;
                items[itemCount++] = static_cast<uint16_t>(length);
                out[length++] = b;
            }
        }
    }
}

std::vector<uint8_t> encode(std::span<const uint8_t> in) {
    const size_t n = std::min(in.size(), kMaxBlock);
    const uint8_t* p = in.data();
    constexpr size_t kHashBits = 13;
    constexpr int kChainDepth = 48;
    constexpr size_t kLazyLimit = 32;
    std::vector<int32_t> head(size_t(1) << kHashBits, -1);
    std::vector<int32_t> previous;  // per item: the previous item with the same hash
    std::vector<uint32_t> itemStart;
    previous.reserve(n);
    itemStart.reserve(n);
    auto hash = [&](size_t pos) {
        uint32_t v = uint32_t(p[pos]) | uint32_t(p[pos + 1]) << 8 | uint32_t(p[pos + 2]) << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    };
    auto addItem = [&](size_t pos) {
        int32_t link = -1;
        if (pos + kMinMatch <= n) {
            uint32_t h = hash(pos);
            link = head[h];
            head[h] = static_cast<int32_t>(itemStart.size());
        }
        previous.push_back(link);
        itemStart.push_back(static_cast<uint32_t>(pos));
    };

    // The longest match at `at` whose source is an item start within reach, for the item that
    // would be number `current`.
    auto longestMatch = [&](size_t at, size_t current, uint32_t& distance) {
        size_t bestLength = 0;
        if (at + kMinMatch > n) return bestLength;
        const size_t limit = std::min(kMaxMatch, n - at);
        int depth = kChainDepth;
        for (int32_t j = head[hash(at)]; j >= 0 && depth-- > 0; j = previous[j]) {
            uint32_t d = static_cast<uint32_t>(current - size_t(j) - 1);
            if (d > kMaxDistance) break;
            size_t source = itemStart[j];
            size_t len = 0;
            while (len < limit && p[source + len] == p[at + len])
                ++len;
            if (len == 3 && d > kMaxDistanceLength3) continue;
            if (len > bestLength) {
                bestLength = len;
                distance = d;
                if (len == limit) break;
            }
        }
        return bestLength;
    };

    StreamWriter w;
    size_t pos = 0;
    size_t literalStart = 0;
    while (pos < n) {
        uint32_t distance = 0;
        size_t length = longestMatch(pos, itemStart.size(), distance);
        addItem(pos);
        if (length < kMinMatch) {
            ++pos;
            continue;
        }
        // One step of lazy matching: a clearly longer match one byte on wins over this one.
        if (length < kLazyLimit) {
            uint32_t nextDistance = 0;
            if (longestMatch(pos + 1, itemStart.size(), nextDistance) > length + 1) {
                ++pos;
                continue;
            }
        }
        writeLiterals(w, p + literalStart, pos - literalStart);
        writeMatch(w, length, distance);
        pos += length;
        literalStart = pos;
    }
    writeLiterals(w, p + literalStart, pos - literalStart);
    w.nibble(15);
    w.bit(1);
    w.bit(1);
    w.byte(255);
    return w.take();
}

}  // namespace ombrix::lz
