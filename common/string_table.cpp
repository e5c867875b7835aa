#include "common/string_table.h"

#include <map>

#include "common/language_resources.h"

namespace ombrix::strings {
namespace {

const std::map<int, const char*>& builtIn() {
    static const std::map<int, const char*> table = {
        {1, "Ombrix TS"},
        {2, "The password for '%s' is invalid!"},
        {3, "Ombrix TS"},
        {5, "Ombrix TS"},
        {7, "Error inserting / ejecting the ombrix.\n\nReason: %s"},
        {8, "Invalid index"},
        {9, "File not found"},
        {10, "Path not found"},
        {11, "Too many open files"},
        {12, "Cannot open file"},
        {13, "Access denied"},
        {14, "No Ombrix v4 image file"},
        {15, "Invalid header CRC"},
        {16, "Invalid password"},
        {17, "Image file is corrupt"},
        {19, "Insufficient available resources"},
        {20, "Invalid device"},
        {21, "Drive is locked"},
        {22, "Communication failed"},
        {23, "Function called with invalid argument"},
        {24, "The image file is already in use"},
        {25, "Unknown error"},
        {26, "Opening track file(s) failed"},
        {27, "Invalid drive"},
        {28, "Cannot eject ombrix"},
        {30, "Running in administration mode"},
        {31, "Administration mode"},
        {32, "Administration file not found"},
        {33, "Error on reading administration file"},
        {34, "Error on writing administration file"},
        {35, "Password in administration file is invalid"},
        {36, "Internal error"},
        {37, "The password is invalid"},
        {38, "Internal Error, Code = %d"},
        {39, "No free device found"},
        {42, "No permission to insert / eject "},
    };
    return table;
}

// The client library's own language file, loaded on first use.
LanguageResources& language() {
    static LanguageResources resources("oxtcomm", 1);
    return resources;
}

}  // namespace

std::optional<std::string> text(int id) {
    if (auto translated = language().text(id)) return translated;
    auto it = builtIn().find(id);
    if (it == builtIn().end()) return std::nullopt;
    return std::string(it->second);
}

std::string textOr(int id) {
    return text(id).value_or("");
}

}  // namespace ombrix::strings
