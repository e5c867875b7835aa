// Loads arbitrary bytes as an ini file, queries everything that was loaded, changes it, saves it
// and checks that a save reads back to the same data.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "common/inifile.h"
#include "fuzz/fuzz_work_folder.h"

namespace {

const std::string& workFile() {
    static const std::string path = ombrix::fuzz::workFile("fuzz.dat");
    return path;
}

std::string readBytes(const std::string& path) {
    std::string out;
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) std::abort();
    char buffer[65536];
    ssize_t n;
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0)
        out.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return out;
}

// True when a name argument is used as given (no white space or quote pair to strip).
bool plain(std::string_view s) {
    auto space = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
    if (s.empty()) return true;
    if (space(s.front()) || space(s.back())) return false;
    return !(s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.front() == s.back());
}

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& path = workFile();
    ombrix::fuzz::writeWorkFile(path, data, size);

    CIniFile ini(path);
    check(ini.OpenAndLoad(false, 1) == 0);
    ini.Close();

    std::vector<std::string> names;
    const int count = ini.GetSectionNames(names);
    check(count == static_cast<int>(names.size()));
    for (const std::string& name : names) {
        check(name.size() >= 2 && name.front() == '[' && name.back() == ']');
        const std::string inner = name.substr(1, name.size() - 2);
        const CIniMap* section = ini.GetSection(inner);
        if (!plain(inner)) continue;
        check(section != nullptr);
        CEntryList entries;
        check(ini.GetSectionEntries(inner, entries) && entries.size() == section->size());
        for (const CEntry& entry : entries) {
            std::string value;
            if (plain(entry.key))
                check(ini.GetValue(inner, entry.key, value) && value == entry.value);
        }
    }

    // Change the loaded data with text taken from the input, then save and reload twice: the
    // second save must give the same bytes as the first.
    check(ini.OpenAndLoad(true, 1) == 0);
    const std::string_view text(reinterpret_cast<const char*>(data), size < 64 ? size : 64);
    ini.SetValue(text.substr(0, text.size() / 2), text.substr(text.size() / 2), text);
    ini.SetValue("Fuzz", text, text);
    if (!names.empty()) {
        ini.SetValue(names.front().substr(1, names.front().size() - 2), "K", nullptr);
        ini.RemoveSection(names.back().substr(1, names.back().size() - 2));
    }
    check(ini.Save() == 0);
    ini.Close();
    const std::string first = readBytes(path);

    CIniFile again(path);
    check(again.OpenAndLoad(true, 1) == 0);
    check(again.Save() == 0);
    again.Close();
    check(readBytes(path) == first);

    again.Clear();
    check(again.GetSectionNames(names) == 0);
    return 0;
}
