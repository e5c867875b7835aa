#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/ascii.h"
#include "platform/locked_file.h"

// The entries of one section, sorted by key: keys are stored upper case, values as read. The
// texts are views into storage owned by the CIniFile that holds the section, so a section is
// only looked at through that file (GetSection) and cannot be copied; take a CEntryList for a
// copy that lives on its own.
class CIniMap {
  public:
    using value_type = std::pair<std::string_view, std::string_view>;
    using const_iterator = std::vector<value_type>::const_iterator;

    CIniMap() = default;
    CIniMap(CIniMap&&) = default;
    CIniMap& operator=(CIniMap&&) = default;
    CIniMap(const CIniMap&) = delete;
    CIniMap& operator=(const CIniMap&) = delete;

    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    // `key` as stored, upper case.
    const_iterator find(std::string_view key) const;
    bool contains(std::string_view key) const { return find(key) != end(); }

    friend bool operator==(const CIniMap& a, const CIniMap& b) { return a.entries_ == b.entries_; }

  private:
    friend class CIniFile;
    void set(std::string_view key, std::string_view value);
    bool erase(std::string_view key);
    void append(std::string_view key, std::string_view value);
    void reserveFor(size_t bytes);
    void finishLoad();

    std::vector<value_type> entries_;
    bool sorted_ = true;  // false while a load has appended keys out of order
};

// Sections by name, stored upper case with their brackets: the line [Images] is "[IMAGES]".
using CIniMapMap = std::map<std::string, CIniMap, std::less<>>;

// One key and its value, as handed out by GetSectionEntries.
struct CEntry {
    std::string key;
    std::string value;
};
using CEntryList = std::vector<CEntry>;

namespace ombrix::ini {

// How the data files read a text: white space trimmed, then one pair of matching quotes ('"'
// or "'") around the rest removed.
[[gnu::always_inline]] inline std::string_view trimText(std::string_view s) {
    s = ascii::trim(s);
    if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.front() == s.back()) {
        s = s.substr(1, s.size() - 2);
    }
    return s;
}

}  // namespace ombrix::ini

// A shared ini-like data file (catalogue, administration file, server list, settings defaults),
// read whole into memory and written back whole.
//
// Between processes and servers the file lock is the exclusion: a reader shares the file with
// other readers and keeps writers out while it loads; a writer keeps everybody out from load
// until Close (or destruction), so a load-change-save-close sequence cannot lose a concurrent
// change. Opening retries while another process holds a conflicting lock.
//
// Section and key arguments are trimmed, unquoted and upper-cased before use; a section is named
// without brackets ("Images"). Results that are codes are 0 on success, else a Win32-style error
// (2 file not found, 3 path not found, 5 access denied, 32 sharing violation, ...) or -1.
// Every operation holds the object's mutex for its whole duration.
class CIniFile {
  public:
    // The number of attempts every caller of the system gives.
    static constexpr int kAttempts = ombrix::platform::LockedFile::kAttempts;

    // Nothing is opened yet.
    explicit CIniFile(std::string path);
    ~CIniFile();
    CIniFile(const CIniFile&) = delete;
    CIniFile& operator=(const CIniFile&) = delete;

    // Opens the file (for writing: created when missing, never truncated) and parses it into
    // memory, replacing what was loaded before. A sharing violation is retried every 50 ms up to
    // `attempts` times (at least once); any other error ends at once. On failure no sections
    // remain and the file is closed.
    int OpenAndLoad(bool write, int attempts);

    // Closes the file, which releases the lock; the data stay in memory.
    void Close();
    // The open file's descriptor (-1 when closed), e.g. to ask for its write time.
    int Descriptor() const { return file_.fd(); }
    bool IsOpen() const;

    // Rewrites the file opened for writing from memory and cuts it to the written length.
    // 6 when the file is not open, 5 when it was opened for reading only.
    int Save();

    // Replaces `names` with the section names (upper case, with brackets); returns their number.
    int GetSectionNames(std::vector<std::string>& names) const;

    // True when the section and key exist; `value` then holds the value.
    bool GetValue(std::string_view section, std::string_view key, std::string& value) const;

    // The section's map, or null. Valid until the sections of this object change.
    const CIniMap* GetSection(std::string_view section) const;

    // With a value: stores it, creating the section, and gives true. With null: removes the key
    // and gives true when it existed. False when section or key is empty, the section is missing
    // and no value is given, or the text could not be written back as given (a line break
    // anywhere, "=" in a section or key, a key beginning with ";").
    bool SetValue(std::string_view section, std::string_view key, const char* value);
    bool SetValue(std::string_view section, std::string_view key, std::string_view value);

    // True when the section existed.
    bool RemoveSection(std::string_view section);

    // Appends one entry per key of the section; false when the section is missing.
    bool GetSectionEntries(std::string_view section, CEntryList& entries) const;

    // Removes all sections.
    void Clear();

    const std::string& GetPath() const { return path_; }

  private:
    void parse();
    void clearSections();
    bool setValueLocked(std::string_view section, std::string_view key,
                        const std::string_view* value);

    const std::string& store(std::string_view text);
    std::string_view loadedLine(const CIniMap::value_type& entry) const;
    template <typename Piece, typename Entry>
    void forEachLine(const CIniMap& entries, Piece&& piece, Entry&& entry) const;

    const std::string path_;
    ombrix::platform::LockedFile file_;
    bool writable_ = false;
    // The texts of the sections: the loaded file (keys upper-cased in place) and every text set
    // since. Both are dropped only together with the sections.
    std::unique_ptr<char[]> loaded_;
    size_t loadedSize_ = 0;
    std::deque<std::string> added_;
    CIniMapMap sections_;
    mutable std::mutex mutex_;
};
