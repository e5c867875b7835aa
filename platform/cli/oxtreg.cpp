// oxtreg: reads and changes the machine's registry from the command line.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace reg = ombrix::registry;

namespace {

const char* kUsage =
    "usage: oxtreg get KEY NAME\n"
    "       oxtreg set KEY NAME TYPE DATA   (TYPE: REG_SZ, REG_EXPAND_SZ, REG_DWORD, REG_QWORD,\n"
    "                                        REG_MULTI_SZ with entries split by '|', REG_BINARY "
    "hex)\n"
    "       oxtreg delete KEY [NAME]        (without NAME the key and its subkeys)\n"
    "       oxtreg list KEY                 (subkeys, then values)\n"
    "KEY begins with HKLM, HKCU or HKU\\<sid>, e.g. 'HKLM\\SOFTWARE\\Norvane\\Ombrix TS "
    "v5\\GlobalSettings'.\n"
    "The machine root is $OMBRIX_ROOT (default /var/lib/ombrix).\n";

int fail(const char* what, int code) {
    std::fprintf(stderr, "oxtreg: %s (error %d)\n", what, code);
    return 1;
}

std::string formatData(const reg::Value& value) {
    switch (value.type) {
        case reg::kString:
        case reg::kExpandString: return value.data;
        case reg::kMultiString: {
            std::string out = value.data;
            while (!out.empty() && out.back() == '\0')
                out.pop_back();
            for (char& c : out) {
                if (c == '\0') c = '|';
            }
            return out;
        }
        case reg::kDword:
        case reg::kQword: {
            unsigned long long n = 0;
            for (size_t i = value.data.size(); i-- > 0;) {
                n = n << 8 | static_cast<unsigned char>(value.data[i]);
            }
            return std::to_string(n);
        }
        default: {
            std::string out;
            char hex[3];
            for (unsigned char c : value.data) {
                std::snprintf(hex, sizeof hex, "%02x", c);
                out += hex;
            }
            return out;
        }
    }
}

bool parseData(uint32_t type, const std::string& text, reg::Value& out) {
    out.type = type;
    out.data.clear();
    switch (type) {
        case reg::kString:
        case reg::kExpandString: out.data = text; return true;
        case reg::kMultiString:
            out.data = text;
            for (char& c : out.data) {
                if (c == '|') c = '\0';
            }
            out.data += '\0';
            return true;
        case reg::kDword:
        case reg::kQword: {
            char* end = nullptr;
            errno = 0;
            unsigned long long n = std::strtoull(text.c_str(), &end, 0);
            if (text.empty() || *end != '\0' || errno != 0) return false;
            if (type == reg::kDword && n > 0xFFFFFFFFull) return false;
            for (int i = 0; i < (type == reg::kDword ? 4 : 8); ++i) {
                out.data += static_cast<char>(n >> (8 * i) & 0xFF);
            }
            return true;
        }
        default:
            if (text.size() % 2 != 0) return false;
            for (size_t i = 0; i < text.size(); i += 2) {
                char* end = nullptr;
                std::string pair = text.substr(i, 2);
                long byte = std::strtol(pair.c_str(), &end, 16);
                if (*end != '\0') return false;
                out.data += static_cast<char>(byte);
            }
            return true;
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.empty() || args[0] == "--help" || args[0] == "-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const std::string& command = args[0];
    if (command == "get" && args.size() == 3) {
        reg::Value value;
        if (int err = reg::getValue(args[1], args[2], value)) return fail("no such value", err);
        std::printf("%s\n", formatData(value).c_str());
        return 0;
    }
    if (command == "set" && args.size() == 5) {
        uint32_t type = 0;
        reg::Value value;
        if (!reg::typeFromName(args[3], type)) return fail("unknown value type", 87);
        if (!parseData(type, args[4], value)) return fail("data does not fit the type", 13);
        if (int err = reg::setValue(args[1], args[2], value)) return fail("cannot set value", err);
        return 0;
    }
    if (command == "delete" && (args.size() == 2 || args.size() == 3)) {
        int err = args.size() == 3 ? reg::deleteValue(args[1], args[2]) : reg::deleteKey(args[1]);
        if (err) return fail("cannot delete", err);
        return 0;
    }
    if (command == "list" && args.size() == 2) {
        std::vector<std::string> keys;
        std::vector<std::pair<std::string, reg::Value>> values;
        if (int err = reg::listSubkeys(args[1], keys)) return fail("no such key", err);
        reg::listValues(args[1], values);
        for (const auto& key : keys)
            std::printf("[%s]\n", key.c_str());
        for (const auto& [name, value] : values) {
            std::printf("%s\t%s\t%s\n", name.c_str(), reg::typeName(value.type).c_str(),
                        formatData(value).c_str());
        }
        return 0;
    }
    std::fputs(kUsage, stderr);
    return 2;
}
