#include "platform/inf_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/ascii.h"
#include "platform/unique_fd.h"

namespace ombrix::inf {
namespace {

// The line without its comment: ';' starts one unless it stands inside double quotes.
std::string_view stripComment(std::string_view line) {
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '"') {
            quoted = !quoted;
        } else if (line[i] == ';' && !quoted) {
            return line.substr(0, i);
        }
    }
    return line;
}

size_t findOutsideQuotes(std::string_view text, char wanted, size_t from = 0) {
    bool quoted = false;
    for (size_t i = from; i < text.size(); ++i) {
        if (text[i] == '"') {
            quoted = !quoted;
        } else if (text[i] == wanted && !quoted) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

bool InfFile::load(const std::string& path) {
    sections_.clear();
    index_.clear();
    platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) return false;
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    if (static_cast<unsigned long long>(info.st_size) > kMaxFileSize) return false;

    std::string text;
    char buffer[65536];
    while (true) {
        ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        // The file may grow while it is read; the limit still holds.
        if (text.size() + static_cast<size_t>(n) > kMaxFileSize) return false;
        text.append(buffer, static_cast<size_t>(n));
    }
    parse(text);
    return true;
}

void InfFile::parse(std::string_view text) {
    sections_.clear();
    index_.clear();
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    if (text.substr(0, kBom.size()) == kBom) text.remove_prefix(kBom.size());

    Section* current = nullptr;
    int lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;

        line = ascii::trim(stripComment(line));
        if (line.empty()) continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            if (close == std::string_view::npos) {
                // A broken header: its lines belong to no section rather than to the previous one.
                current = nullptr;
                continue;
            }
            std::string name(ascii::trim(line.substr(1, close - 1)));
            std::string upper = ascii::toUpper(name);
            auto found = index_.find(upper);
            if (found == index_.end()) {
                found = index_.emplace(upper, sections_.size()).first;
                sections_.push_back(Section{name, {}});
            }
            current = &sections_[found->second];
            continue;
        }
        if (current == nullptr) continue;  // lines before the first section mean nothing

        Entry entry;
        entry.line = lineNumber;
        size_t equals = findOutsideQuotes(line, '=');
        if (equals == std::string_view::npos) {
            entry.value = std::string(line);
        } else {
            entry.hasEquals = true;
            entry.key = std::string(ascii::trim(line.substr(0, equals)));
            entry.value = std::string(ascii::trim(line.substr(equals + 1)));
        }
        current->entries.push_back(std::move(entry));
    }
}

const std::vector<Entry>* InfFile::section(std::string_view name) const {
    auto found = index_.find(ascii::toUpper(ascii::trim(name)));
    return found == index_.end() ? nullptr : &sections_[found->second].entries;
}

std::optional<std::string> InfFile::value(std::string_view sectionName,
                                          std::string_view key) const {
    const std::vector<Entry>* entries = section(sectionName);
    if (entries == nullptr) return std::nullopt;
    for (const Entry& entry : *entries) {
        if (entry.hasEquals && ascii::equalsIgnoreCase(entry.key, key)) return entry.value;
    }
    return std::nullopt;
}

std::vector<std::string> InfFile::sectionNames() const {
    std::vector<std::string> names;
    names.reserve(sections_.size());
    for (const Section& s : sections_)
        names.push_back(s.name);
    return names;
}

std::string InfFile::expand(std::string_view text) const {
    std::string out;
    std::string_view rest = ascii::trim(text);
    while (!rest.empty()) {
        size_t open = rest.find('%');
        if (open == std::string_view::npos) {
            out += rest;
            break;
        }
        size_t close = rest.find('%', open + 1);
        if (close == std::string_view::npos) {
            out += rest;
            break;
        }
        out += rest.substr(0, open);
        std::string_view token = rest.substr(open + 1, close - open - 1);
        if (token.empty()) {
            out += '%';
        } else if (std::optional<std::string> found = value("Strings", token)) {
            out += unquote(*found);
        } else {
            out += rest.substr(open, close - open + 1);
        }
        rest.remove_prefix(close + 1);
    }
    return unquote(out);
}

std::vector<std::string> splitFields(std::string_view value) {
    std::vector<std::string> fields;
    if (ascii::trim(value).empty()) return fields;
    size_t start = 0;
    while (true) {
        size_t comma = findOutsideQuotes(value, ',', start);
        size_t end = comma == std::string_view::npos ? value.size() : comma;
        fields.emplace_back(ascii::trim(value.substr(start, end - start)));
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return fields;
}

std::string unquote(std::string_view text) {
    text = ascii::trim(text);
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::string(text);
    std::string out;
    std::string_view inner = text.substr(1, text.size() - 2);
    for (size_t i = 0; i < inner.size(); ++i) {
        out += inner[i];
        if (inner[i] == '"' && i + 1 < inner.size() && inner[i + 1] == '"') ++i;
    }
    return out;
}

}  // namespace ombrix::inf
