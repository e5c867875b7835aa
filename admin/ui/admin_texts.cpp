#include "admin/ui/admin_texts.h"

#include <map>
#include <mutex>

namespace ombrix::admin {
namespace {

const std::map<int, const char*>& builtIn() {
    static const std::map<int, const char*> texts = {
        {129, "Description"},
        {130, "File"},
        {131, "Ombrix user:"},
        {133, "Drives"},
        {134, "Caution: you might be overwriting an important drive letter!"},
        {136, "Cannot initialize notification mechanism."},
        {144, "Status"},
        {149, "Up"},
        {150, "Down"},
        {151, "Search on disk"},
        {152, "Delete"},
        {153, "Edit"},
        {154, "Add"},
        {155, "Pool name"},
        {156, "Path"},
        {157, "Choose a path for the pool definition file"},
        {158, "Cannot create pool definition file"},
        {171, "Could not get SessionDrives!"},
        {172, "Failure on setting drive letters"},
        {173, "Insert / Eject '%s' failed on '%s' \nReason: %s"},
        {174, "Settings for the administrative view"},
        {32771, "Update the administrative view"},
        {32772, "Eject CDs from selected drives\nEject"},
        {32773, "Load a CD in the selected drives\nInsert"},
        {32776, "Show or hide the toolbar"},
        {32777, "Show or hide tool button texts"},
        {32778, "Edit drives for the selected session\nDrives"},
        {32779, "Define user and group profiles for Ombrix TS\nProfiles"},
        {32781, "Eject a CD from all drives\nEject CD"},
        {32783, "In use"},
        {32786, "Update the selected server"},
        {32788, "Available"},
        {32789, "Virtual drive"},
        {32790, "Server pool management\nServer pools"},
        {32791, "Server in this pool definition"},
        {32792, "Start the Ombrix settings program\nSettings"},
        {59393, "Show or hide the status bar"},
    };
    return texts;
}

std::mutex sourceLock;
std::function<std::optional<std::string>(int)>& source() {
    static std::function<std::optional<std::string>(int)> current;
    return current;
}

}  // namespace

std::string adminText(int id) {
    std::function<std::optional<std::string>(int)> from;
    {
        std::lock_guard guard(sourceLock);
        from = source();
    }
    if (from) {
        if (std::optional<std::string> own = from(id); own && !own->empty()) return *own;
    }
    auto it = builtIn().find(id);
    return it == builtIn().end() ? std::string() : std::string(it->second);
}

QString adminQText(int id) {
    return QString::fromStdString(adminText(id));
}

void setAdminTextSource(std::function<std::optional<std::string>(int id)> from) {
    std::lock_guard guard(sourceLock);
    source() = std::move(from);
}

std::string fillText(const std::string& pattern, const std::vector<std::string>& args) {
    std::string out;
    size_t next = 0;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size()) {
            const char kind = pattern[i + 1];
            if (kind == '%') {
                out += '%';
                ++i;
                continue;
            }
            if (kind == 's' || kind == 'd') {
                if (next < args.size()) out += args[next++];
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

QString withMnemonic(const QString& label) {
    for (qsizetype i = 0; i + 1 < label.size(); ++i) {
        if (label[i] == '&') {
            if (label[i + 1] != '&') return label;
            ++i;  // "&&" is a literal ampersand
        }
    }
    return "&" + label;
}

}  // namespace ombrix::admin
