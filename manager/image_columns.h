#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The columns of the management program's image list: titles, default widths, which are shown
// in which order, the texts derived from an image, and how rows sort.
namespace ombrix::mng {

enum class SortAs { Text, Number, Date };

struct ImageColumn {
    std::string_view title;
    int defaultWidth;
    SortAs sortAs;
    bool rightAligned = false;
};

constexpr int kColumnCount = 15;
const std::array<ImageColumn, kColumnCount>& imageColumns();

// The shown columns, numbered from 1, in their order: the description first, then the optional
// ones as the setting lists them (two digits each, "01" for column 2), or all when it is empty.
// Numbers out of range and repeats are passed over.
std::vector<int> shownColumns(std::string_view rowOrder);

// The "CD type" text of a disc type (its low byte the kind, its high byte flags).
std::string cdTypeText(uint16_t discType);
// The "View" text: "local" below index 5000, "network" from there on.
std::string_view viewText(int index);

// One row as the list sorts it: a folder row sorts before images; `dates` hold the creation
// times of the image files (0 when unknown).
struct ListRow {
    bool folder = false;
    std::array<std::string, kColumnCount> texts;
    int64_t created = 0;
};

// The order of two rows by a sort key: the column number from 1, negative for descending.
// True when `a` comes before `b`.
bool rowBefore(const ListRow& a, const ListRow& b, int sortKey);

}  // namespace ombrix::mng
