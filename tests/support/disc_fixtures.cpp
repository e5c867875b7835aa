#include "support/disc_fixtures.h"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

#include "support/temp_root.h"

namespace fs = std::filesystem;

namespace ombrix::test {

std::string runCommand(const std::string& command, int* status) {
    std::string out;
    FILE* p = ::popen(command.c_str(), "r");
    if (p == nullptr) return out;
    std::array<char, 4096> buffer;
    while (size_t n = std::fread(buffer.data(), 1, buffer.size(), p))
        out.append(buffer.data(), n);
    int rc = ::pclose(p);
    if (status) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    return out;
}

bool haveTool(const char* name) {
    return runCommand(std::string("command -v ") + name + " >/dev/null 2>&1 && echo yes") ==
           "yes\n";
}

bool haveDiscTools() {
    return haveTool("xorriso") && haveTool("bsdtar");
}

std::string shellQuoted(const fs::path& p) {
    std::string out = "'";
    for (char c : p.string()) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

void makeSampleTree(const fs::path& dir, size_t bigFileBytes) {
    fs::create_directories(dir / "one/two/three");
    fs::create_directories(dir / "Grüße aus Köln");
    fs::create_directories(dir / "empty folder");
    writeFile(dir / "readme.txt", "hello\n");
    writeFile(dir / "empty.dat", "");
    writeFile(dir / "one/two/three/a file with a rather long name of many words.txt",
              std::string(5000, 'x'));
    writeFile(dir / "Grüße aus Köln/Übersicht.txt", "Straße\n");
    std::mt19937 rng(5);
    std::string data(300000, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (i / 4096) % 2 ? char(rng()) : char('a' + i % 23);
    writeFile(dir / "one/mixed.bin", data);
    writeFile(dir / "one/exact.bin", std::string(4 * 2048, 'e'));
    if (bigFileBytes) {
        std::ofstream big(dir / "big.bin", std::ios::binary);
        std::string piece(1 << 20, '\0');
        for (size_t done = 0; done < bigFileBytes; done += piece.size()) {
            for (size_t i = 0; i < piece.size(); ++i)
                piece[i] = (i / 8192) % 2 ? char(rng()) : char(i * 7 + done);
            size_t n = std::min(piece.size(), bigFileBytes - done);
            big.write(piece.data(), static_cast<std::streamsize>(n));
        }
    }
}

fs::path makeIso(const fs::path& source, const fs::path& iso, bool joliet,
                 const std::string& volume) {
    std::string cmd = "xorriso -as mkisofs " + std::string(joliet ? "-J -joliet-long " : "") +
                      "-V " + shellQuoted(volume) + " --modification-date=2024010203040500 -o " +
                      shellQuoted(iso) + " " + shellQuoted(source) + " >/dev/null 2>&1";
    int status = -1;
    runCommand(cmd, &status);
    return status == 0 ? iso : fs::path();
}

fs::path makeSampleIso(const fs::path& folder, const std::string& name) {
    makeSampleTree(folder / "src");
    return makeIso(folder / "src", folder / name, true);
}

DiscListing referenceListing(const fs::path& iso) {
    DiscListing out;
    std::istringstream in(
        runCommand("LC_ALL=C.UTF-8 bsdtar --options '!rockridge' -tvf " + shellQuoted(iso)));
    std::string line;
    while (std::getline(in, line)) {
        // mode links uid gid size month day time-or-year name
        std::istringstream fields(line);
        std::string mode, links, uid, gid, month, day, clock;
        int64_t size = 0;
        fields >> mode >> links >> uid >> gid >> size >> month >> day >> clock;
        std::string name;
        std::getline(fields, name);
        if (!name.empty() && name[0] == ' ') name.erase(0, 1);
        if (name == "." || name.empty()) continue;
        out[name] = mode[0] == 'd' ? -1 : size;
    }
    return out;
}

bool referenceExtract(const fs::path& iso, const fs::path& folder) {
    fs::create_directories(folder);
    int status = -1;
    runCommand("LC_ALL=C.UTF-8 bsdtar --options '!rockridge' -xf " + shellQuoted(iso) + " -C " +
                   shellQuoted(folder) + " 2>&1",
               &status);
    return status == 0;
}

DiscListing folderListing(const fs::path& folder) {
    DiscListing out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        std::string name = fs::relative(it->path(), folder).string();
        out[name] = it->is_directory() ? -1 : static_cast<int64_t>(it->file_size());
    }
    return out;
}

bool sameTrees(const fs::path& a, const fs::path& b, std::string& why) {
    DiscListing la = folderListing(a), lb = folderListing(b);
    if (la != lb) {
        why = "listings differ";
        return false;
    }
    for (const auto& [name, size] : la) {
        if (size < 0) continue;
        if (readFile(a / name) != readFile(b / name)) {
            why = "contents of " + name + " differ";
            return false;
        }
    }
    return true;
}

}  // namespace ombrix::test
