#include "common/inifile.h"

#include <fcntl.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>

#include "platform/ascii.h"
#include "platform/win_error.h"

using ombrix::platform::FileAccess;
namespace ascii = ombrix::ascii;
namespace win = ombrix::win;

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isQuote(char c) {
    return c == '"' || c == '\'';
}

using ombrix::ini::trimText;

std::string sectionName(std::string_view trimmed) {
    std::string name;
    name.reserve(trimmed.size() + 2);
    name += '[';
    name += trimmed;
    name += ']';
    for (char& c : name)
        c = ascii::upper(c);
    return name;
}

bool needsQuotesSlow(std::string_view s) {
    if (ascii::isSpace(s.front()) || ascii::isSpace(s.back())) return true;
    return s.size() >= 2 && isQuote(s.front()) && s.front() == s.back();
}

// True when trimText would change `s`: such text is written inside quotes, so that it reads back
// exactly as stored. The common case, neither end white space (all of which sorts below '!') nor
// a quote, is settled inline.
inline bool needsQuotes(std::string_view s) {
    auto plain = [](char c) { return static_cast<unsigned char>(c) > ' ' && !isQuote(c); };
    return !s.empty() && !(plain(s.front()) && plain(s.back())) && needsQuotesSlow(s);
}

inline size_t textLength(std::string_view s) {
    return s.size() + (needsQuotes(s) ? 2 : 0);
}

constexpr size_t kChunkSize = 64 * 1024;

// Writes the file front to back through a fixed buffer, so saving a large file needs no buffer
// of its size. The first error sticks and ends the writing.
class ChunkWriter {
  public:
    explicit ChunkWriter(const ombrix::platform::LockedFile& file) : file_(file) {}

    void put(std::string_view s) {
        if (s.size() > kChunkSize - used_) {
            flush();
            if (s.size() >= kChunkSize) {
                write(s.data(), s.size());
                return;
            }
        }
        std::memcpy(buffer_.get() + used_, s.data(), s.size());
        used_ += s.size();
    }

    // One "key=value" line.
    void putEntry(std::string_view key, std::string_view value) {
        const size_t length = key.size() + value.size() + 3;
        if (length <= kChunkSize - used_ && !needsQuotes(key) && !needsQuotes(value)) {
            char* out = buffer_.get() + used_;
            std::memcpy(out, key.data(), key.size());
            out += key.size();
            *out++ = '=';
            std::memcpy(out, value.data(), value.size());
            out += value.size();
            *out++ = '\r';
            *out++ = '\n';
            used_ += length;
            return;
        }
        putText(key);
        put("=");
        putText(value);
        put("\r\n");
    }

    void putText(std::string_view s) {
        if (!needsQuotes(s)) return put(s);
        put("\"");
        put(s);
        put("\"");
    }

    // Flushes what is left; the first error, or 0.
    int finish() {
        flush();
        return error_;
    }

  private:
    void flush() {
        write(buffer_.get(), used_);
        used_ = 0;
    }
    void write(const char* data, size_t length) {
        if (error_ == 0 && length > 0) error_ = file_.writeAt(data, length, offset_);
        offset_ += static_cast<off_t>(length);
    }

    const ombrix::platform::LockedFile& file_;
    off_t offset_ = 0;
    int error_ = 0;
    size_t used_ = 0;
    std::unique_ptr<char[]> buffer_ = std::make_unique_for_overwrite<char[]>(kChunkSize);
};

// Three-way comparison of the eight bytes at `at` of both texts, read as big-endian words so
// that the order is that of their bytes, unsigned.
int compareWordAt(std::string_view a, std::string_view b, size_t at) {
    uint64_t x;
    uint64_t y;
    std::memcpy(&x, a.data() + at, 8);
    std::memcpy(&y, b.data() + at, 8);
    if (x == y) return 0;
    if constexpr (std::endian::native == std::endian::little) {
        x = __builtin_bswap64(x);
        y = __builtin_bswap64(y);
    }
    return x < y ? -1 : 1;
}

// Three-way comparison in the order of std::string_view (bytes unsigned), eight bytes at a time:
// keys of one section mostly share a long prefix ("OMXIMAGE_5...").
int compareKeys(std::string_view a, std::string_view b) {
    const size_t common = std::min(a.size(), b.size());
    size_t i = 0;
    for (; i + 8 <= common; i += 8) {
        if (int order = compareWordAt(a, b, i)) return order;
    }
    // The last bytes in one more word, overlapping the ones compared already.
    if (i < common && common >= 8) {
        if (int order = compareWordAt(a, b, common - 8)) return order;
        i = common;
    }
    for (; i < common; ++i) {
        const auto p = static_cast<unsigned char>(a[i]);
        const auto q = static_cast<unsigned char>(b[i]);
        if (p != q) return p < q ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool keyLess(const CIniMap::value_type& entry, std::string_view key) {
    return entry.first < key;
}

}  // namespace

CIniMap::const_iterator CIniMap::find(std::string_view key) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, keyLess);
    return it != entries_.end() && it->first == key ? it : entries_.end();
}

void CIniMap::set(std::string_view key, std::string_view value) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, keyLess);
    if (it != entries_.end() && it->first == key) {
        it->second = value;
    } else {
        entries_.emplace(it, key, value);
    }
}

bool CIniMap::erase(std::string_view key) {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), key, keyLess);
    if (it == entries_.end() || it->first != key) return false;
    entries_.erase(it);
    return true;
}

// Loading appends in file order, which is sorted for every file this class wrote; anything else
// is sorted once at the end.
void CIniMap::append(std::string_view key, std::string_view value) {
    if (!entries_.empty() && sorted_) {
        const int order = compareKeys(key, entries_.back().first);
        if (order == 0) {
            entries_.back().second = value;
            return;
        }
        if (order < 0) sorted_ = false;
    }
    entries_.emplace_back(key, value);
}

// Room for the entries of `bytes` of text at a guess of 40 bytes a line, so that a large section
// is not copied while it grows; what a short section leaves unused goes again in finishLoad.
void CIniMap::reserveFor(size_t bytes) {
    entries_.reserve(entries_.size() + bytes / 40);
}

void CIniMap::finishLoad() {
    if (entries_.capacity() > 2 * entries_.size() + 16) entries_.shrink_to_fit();
    if (sorted_) return;
    sorted_ = true;
    // Files are mostly made of long ascending runs (a sorted file with lines appended, numbered
    // keys in numeric order): merge neighbouring runs until one is left. The merges are stable,
    // so equal keys keep their file order.
    auto less = [](const value_type& a, const value_type& b) { return a.first < b.first; };
    std::vector<size_t> bounds{0};
    for (size_t i = 1; i < entries_.size(); ++i) {
        if (less(entries_[i], entries_[i - 1])) bounds.push_back(i);
    }
    bounds.push_back(entries_.size());
    const auto first = entries_.begin();
    while (bounds.size() > 2) {
        std::vector<size_t> merged{0};
        for (size_t j = 0; j + 1 < bounds.size(); j += 2) {
            const size_t end = j + 2 < bounds.size() ? bounds[j + 2] : bounds[j + 1];
            if (j + 2 < bounds.size())
                std::inplace_merge(first + bounds[j], first + bounds[j + 1], first + end, less);
            merged.push_back(end);
        }
        bounds = std::move(merged);
    }
    // Of a repeated key the last value read counts.
    auto out = entries_.begin();
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        if (std::next(it) != entries_.end() && std::next(it)->first == it->first) continue;
        *out++ = *it;
    }
    entries_.erase(out, entries_.end());
}

CIniFile::CIniFile(std::string path) : path_(std::move(path)) {}

CIniFile::~CIniFile() {
    Close();
}

void CIniFile::clearSections() {
    sections_.clear();
    added_.clear();
    loaded_.reset();
    loadedSize_ = 0;
}

const std::string& CIniFile::store(std::string_view text) {
    return added_.emplace_back(text);
}

int CIniFile::OpenAndLoad(bool write, int attempts) {
    std::lock_guard lock(mutex_);
    clearSections();
    writable_ = false;
    int err =
        file_.openRetrying(path_, write ? FileAccess::Write : FileAccess::Read, attempts, false);
    if (err != win::kSuccess) return err;
    try {
        err = file_.readAll(loaded_, loadedSize_);
        if (err == win::kSuccess) {
            parse();
            writable_ = write;
            return win::kSuccess;
        }
    } catch (...) {
        err = -1;
    }
    // Keep nothing of a failed load, and drop the file so a later Save cannot overwrite it
    // with partial data.
    clearSections();
    file_.close();
    return err;
}

void CIniFile::parse() {
    char* next = loaded_.get();
    char* const end = next + loadedSize_;
    if (std::string_view(next, loadedSize_).starts_with(kUtf8Bom)) next += kUtf8Bom.size();
    CIniMap* current = nullptr;
    while (next != end) {
        // Lines are taken whole, however long; the line end (LF or CR LF) goes with the trim.
        auto* newline =
            static_cast<char*>(std::memchr(next, '\n', static_cast<size_t>(end - next)));
        char* const lineEnd = newline != nullptr ? newline : end;
        std::string_view line = ascii::trim(std::string_view(next, lineEnd));
        char* c = next + (line.data() - next);
        next = newline != nullptr ? newline + 1 : end;
        if (line.empty()) continue;

        // Upper-case the text before the "=" in place: the loaded text is ours, and that text
        // is a key. (A line without "=" is upper-cased whole; only a section header is used of
        // such a line, and its name is upper-case anyway.)
        const size_t equals =
            current != nullptr ? ascii::upperUntil(c, line.size(), '=') : line.size();
        if (equals < line.size()) {
            std::string_view key = trimText(line.substr(0, equals));
            if (key.empty() || key.front() == ';') continue;
            current->append(key, trimText(line.substr(equals + 1)));
            continue;
        }
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            current = &sections_.try_emplace(sections_.end(), ascii::toUpper(line))->second;
            current->reserveFor(static_cast<size_t>(end - next));
        }
    }
    for (auto& section : sections_)
        section.second.finishLoad();
}

void CIniFile::Close() {
    std::lock_guard lock(mutex_);
    file_.close();
    writable_ = false;
}

bool CIniFile::IsOpen() const {
    std::lock_guard lock(mutex_);
    return file_.isOpen();
}

// The line "KEY=value\r\n" of an entry when the loaded text holds exactly that line: key and value
// are views into it with one byte between them and "\r\n" after. Only a load makes views into
// the loaded text, and a load's views touch the "=" (and the line end) only when trimming and
// unquoting took nothing away, so the line is the one a save would write.
inline std::string_view CIniFile::loadedLine(const CIniMap::value_type& entry) const {
    const auto [key, value] = entry;
    const auto begin = reinterpret_cast<uintptr_t>(loaded_.get());
    const auto k = reinterpret_cast<uintptr_t>(key.data());
    const auto v = reinterpret_cast<uintptr_t>(value.data());
    if (k < begin || v != k + key.size() + 1 || key.empty() ||
        v + value.size() + 2 > begin + loadedSize_) {
        return {};
    }
    const char* afterValue = value.data() + value.size();
    if (afterValue[0] != '\r' || afterValue[1] != '\n') return {};
    return {key.data(), key.size() + value.size() + 3};
}

// Calls `piece` with the text of the section's entries in order: runs of lines as loaded, in
// one piece each, and every other entry through `entry`.
template <typename Piece, typename Entry>
void CIniFile::forEachLine(const CIniMap& entries, Piece&& piece, Entry&& entry) const {
    std::string_view run;
    for (const auto& e : entries) {
        const std::string_view line = loadedLine(e);
        if (!line.empty() && !run.empty() && run.data() + run.size() == line.data()) {
            run = {run.data(), run.size() + line.size()};
            continue;
        }
        if (!run.empty()) piece(run);
        run = line;
        if (line.empty()) entry(e);
    }
    if (!run.empty()) piece(run);
}

int CIniFile::Save() {
    std::lock_guard lock(mutex_);
    if (!file_.isOpen()) return win::kInvalidHandle;
    if (!writable_) return win::kAccessDenied;
    try {
        size_t length = 0;
        for (const auto& [name, entries] : sections_) {
            length += name.size() + 2;
            for (const auto& [key, value] : entries)
                length += textLength(key) + textLength(value) + 3;
        }
        if (int err = file_.reserve(static_cast<off_t>(length))) return err;

        ChunkWriter out(file_);
        auto write = [&](const std::string& name, const CIniMap& entries) {
            out.put(name);
            out.put("\r\n");
            forEachLine(
                entries, [&](std::string_view run) { out.put(run); },
                [&](const CIniMap::value_type& e) { out.putEntry(e.first, e.second); });
        };
        // A header with "=" reads as a header only before the first section, which is the only
        // place a load can have found it (so there is at most one): write it first.
        for (const auto& [name, entries] : sections_) {
            if (name.find('=') != std::string::npos) write(name, entries);
        }
        for (const auto& [name, entries] : sections_) {
            if (name.find('=') == std::string::npos) write(name, entries);
        }
        if (int err = out.finish()) return err;
        return file_.truncate(static_cast<off_t>(length));
    } catch (...) {
        return -1;
    }
}

int CIniFile::GetSectionNames(std::vector<std::string>& names) const {
    std::lock_guard lock(mutex_);
    names.clear();
    try {
        names.reserve(sections_.size());
        for (const auto& section : sections_)
            names.push_back(section.first);
    } catch (...) {
        names.clear();
    }
    return static_cast<int>(names.size());
}

bool CIniFile::GetValue(std::string_view section, std::string_view key, std::string& value) const {
    std::lock_guard lock(mutex_);
    try {
        auto found = sections_.find(sectionName(trimText(section)));
        if (found == sections_.end()) return false;
        auto entry = found->second.find(ascii::toUpper(trimText(key)));
        if (entry == found->second.end()) return false;
        value = entry->second;
        return true;
    } catch (...) {
        return false;
    }
}

const CIniMap* CIniFile::GetSection(std::string_view section) const {
    std::lock_guard lock(mutex_);
    try {
        auto found = sections_.find(sectionName(trimText(section)));
        return found == sections_.end() ? nullptr : &found->second;
    } catch (...) {
        return nullptr;
    }
}

bool CIniFile::setValueLocked(std::string_view section, std::string_view key,
                              const std::string_view* value) {
    section = trimText(section);
    key = trimText(key);
    if (section.empty() || key.empty()) return false;
    // Refuse text that the file cannot carry: it would read back as other lines, another key or
    // a comment, and so corrupt or lose entries on the next load.
    constexpr std::string_view kNotInNames = "=\n";
    if (section.find_first_of(kNotInNames) != std::string_view::npos) return false;
    if (key.find_first_of(kNotInNames) != std::string_view::npos || key.front() == ';') {
        return false;
    }
    if (value != nullptr && value->find('\n') != std::string_view::npos) return false;

    const std::string upperKey = ascii::toUpper(key);
    if (value == nullptr) {
        auto found = sections_.find(sectionName(section));
        return found != sections_.end() && found->second.erase(upperKey);
    }
    CIniMap& entries = sections_[sectionName(section)];
    auto existing = entries.find(upperKey);
    std::string_view storedKey =
        existing != entries.end() ? existing->first : std::string_view(store(upperKey));
    entries.set(storedKey, store(*value));
    return true;
}

bool CIniFile::SetValue(std::string_view section, std::string_view key, const char* value) {
    if (value == nullptr) {
        std::lock_guard lock(mutex_);
        try {
            return setValueLocked(section, key, nullptr);
        } catch (...) {
            return false;
        }
    }
    return SetValue(section, key, std::string_view(value));
}

bool CIniFile::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    std::lock_guard lock(mutex_);
    try {
        return setValueLocked(section, key, &value);
    } catch (...) {
        return false;
    }
}

bool CIniFile::RemoveSection(std::string_view section) {
    std::lock_guard lock(mutex_);
    try {
        return sections_.erase(sectionName(trimText(section))) > 0;
    } catch (...) {
        return false;
    }
}

bool CIniFile::GetSectionEntries(std::string_view section, CEntryList& entries) const {
    std::lock_guard lock(mutex_);
    try {
        auto found = sections_.find(sectionName(trimText(section)));
        if (found == sections_.end()) return false;
        entries.reserve(entries.size() + found->second.size());
        for (const auto& [key, value] : found->second) {
            entries.push_back(CEntry{std::string(key), std::string(value)});
        }
        return true;
    } catch (...) {
        return false;
    }
}

void CIniFile::Clear() {
    std::lock_guard lock(mutex_);
    clearSections();
}
