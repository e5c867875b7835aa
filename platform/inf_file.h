#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// Reader for driver INF files: "[section]" headers, "key = value" lines and ';' comments.
// Sections are found without regard to case; a name that appears twice is one section with the
// lines of both. Entries stay in file order, since callers rely on "the first entry".
// Text is kept as written (quotes and %tokens% included) apart from trimming blanks.
namespace ombrix::inf {

struct Entry {
    std::string key;    // text before the first '=' outside quotes, trimmed; empty without '='
    std::string value;  // text after that '=', trimmed; the whole line when there is no '='
    bool hasEquals = false;
    int line = 0;  // 1-based line number in the file
};

class InfFile {
  public:
    // Files above this size are refused rather than read into memory.
    static constexpr size_t kMaxFileSize = 16u << 20;

    // Reads a file; false when it cannot be read or is too large (the object is then empty).
    bool load(const std::string& path);
    void parse(std::string_view text);

    // The entries of a section in file order, or null when the file has no such section.
    const std::vector<Entry>* section(std::string_view name) const;
    // The value of the first entry named `key` (case-insensitive) in `section`.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    // Section names in the order they first appear.
    std::vector<std::string> sectionNames() const;

    // Replaces %name% tokens with their [Strings] values ("%%" is a single '%') and removes
    // the quotes around a quoted text. Unknown tokens stay as written.
    std::string expand(std::string_view text) const;

  private:
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    std::vector<Section> sections_;
    std::unordered_map<std::string, size_t> index_;  // upper-cased name -> position in sections_
};

// Splits a value at commas outside quotes; each field is trimmed. An empty text has no fields.
std::vector<std::string> splitFields(std::string_view value);

// The text without one pair of surrounding double quotes; "" inside stands for one quote.
std::string unquote(std::string_view text);

}  // namespace ombrix::inf
