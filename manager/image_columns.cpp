#include "manager/image_columns.h"

#include <algorithm>
#include <cstdlib>

#include "platform/ascii.h"

namespace ombrix::mng {

const std::array<ImageColumn, kColumnCount>& imageColumns() {
    static const std::array<ImageColumn, kColumnCount> columns{{
        {"Ombrix (description)", 169, SortAs::Text},
        {"Ombrix ", 243, SortAs::Text},
        {"Default drive", 78, SortAs::Text},
        {"In use", 84, SortAs::Text},
        {"Size (MB)", 71, SortAs::Number, true},
        {"Date created", 100, SortAs::Date},
        {"CD label", 84, SortAs::Text},
        {"Start program", 91, SortAs::Text},
        {"Working directory", 100, SortAs::Text},
        {"Password", 84, SortAs::Text},
        {"Comment", 100, SortAs::Text},
        {"Hotkey", 50, SortAs::Text},
        {"View", 50, SortAs::Text},
        {"CD type", 50, SortAs::Text},
        {"Category", 50, SortAs::Text},
    }};
    return columns;
}

std::vector<int> shownColumns(std::string_view rowOrder) {
    std::vector<int> shown{1};
    rowOrder = rowOrder.substr(0, 40);
    if (rowOrder.empty()) {
        for (int c = 2; c <= kColumnCount; ++c)
            shown.push_back(c);
        return shown;
    }
    for (size_t at = 0; at + 2 <= rowOrder.size(); at += 2) {
        const char tens = rowOrder[at];
        const char ones = rowOrder[at + 1];
        if (tens < '0' || tens > '9' || ones < '0' || ones > '9') continue;
        const int column = (tens - '0') * 10 + (ones - '0') + 1;
        if (column < 2 || column > kColumnCount) continue;
        if (std::find(shown.begin(), shown.end(), column) == shown.end()) shown.push_back(column);
    }
    return shown;
}

std::string cdTypeText(uint16_t discType) {
    constexpr uint16_t kRom = 0x400, kVideo = 0x200, kAudio = 0x100, kMultisession = 0x1000;
    std::string text;
    switch (discType & 0xFF) {
        case 0: text = "Data CD"; break;
        case 1: text = "Mixed Mode CD"; break;
        case 2: text = "Audio CD"; break;
        case 4: text = "CDI CD"; break;
        case 5: text = "Video CD"; break;
        case 6: text = "CD Extra"; break;
        case 7: text = "CD Text"; break;
        case 8: text = "Photo CD"; break;
        case 16: text = "Super Video CD"; break;
        case 32: {
            const bool rom = discType & kRom, video = discType & kVideo, audio = discType & kAudio;
            if (rom && video && audio)
                text = "DVD-ROM with Video and Audio";
            else if (video && audio)
                text = "DVD with Video and Audio";
            else if (rom && audio)
                text = "DVD-ROM with Audio";
            else if (rom && video)
                text = "DVD-ROM with Video";
            else if (video)
                text = "DVD-Video";
            else if (rom)
                text = "DVD-ROM";
            else if (audio)
                text = "DVD-Audio";
            break;
        }
        default: text = "Unknown CD Type"; break;
    }
    if (discType & kMultisession) text += " (Multisession CD)";
    return text;
}

std::string_view viewText(int index) {
    return index < 5000 ? "local" : "network";
}

namespace {

double numberOf(const std::string& text) {
    return std::strtod(text.c_str(), nullptr);
}

int compareRows(const ListRow& a, const ListRow& b, int column) {
    const auto& spec = imageColumns()[static_cast<size_t>(column - 1)];
    const std::string& x = a.texts[static_cast<size_t>(column - 1)];
    const std::string& y = b.texts[static_cast<size_t>(column - 1)];
    switch (spec.sortAs) {
        case SortAs::Number: {
            const double p = numberOf(x), q = numberOf(y);
            return p < q ? -1 : (p > q ? 1 : 0);
        }
        case SortAs::Date: return a.created < b.created ? -1 : (a.created > b.created ? 1 : 0);
        case SortAs::Text: break;
    }
    if (column == 1) {
        // Folder rows carry a prefix that sorts before any description.
        return ascii::compareIgnoreCase((a.folder ? "!!!" : "") + x, (b.folder ? "!!!" : "") + y);
    }
    return ascii::compareIgnoreCase(x, y);
}

}  // namespace

bool rowBefore(const ListRow& a, const ListRow& b, int sortKey) {
    const int column = std::clamp(std::abs(sortKey), 1, kColumnCount);
    const int order = compareRows(a, b, column);
    return sortKey < 0 ? order > 0 : order < 0;
}

}  // namespace ombrix::mng
