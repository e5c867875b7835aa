#include "manager/image_columns.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace ombrix::mng;

TEST(ImageColumns, ShownColumnsFollowTheSetting) {
    EXPECT_EQ(shownColumns("").size(), 15u);
    EXPECT_EQ(shownColumns("0413"), (std::vector<int>{1, 5, 14}));
    // Out of range, repeated, broken and odd trailing digits are passed over.
    EXPECT_EQ(shownColumns("00150404x12"), (std::vector<int>{1, 5}));
    EXPECT_EQ(shownColumns("14"), (std::vector<int>{1, 15}));
}

TEST(ImageColumns, CdTypeTexts) {
    EXPECT_EQ(cdTypeText(0), "Data CD");
    EXPECT_EQ(cdTypeText(2 | 0x1000), "Audio CD (Multisession CD)");
    EXPECT_EQ(cdTypeText(16), "Super Video CD");
    EXPECT_EQ(cdTypeText(3), "Unknown CD Type");
    EXPECT_EQ(cdTypeText(17), "Unknown CD Type");
    EXPECT_EQ(cdTypeText(32 | 0x700), "DVD-ROM with Video and Audio");
    EXPECT_EQ(cdTypeText(32 | 0x300), "DVD with Video and Audio");
    EXPECT_EQ(cdTypeText(32 | 0x500), "DVD-ROM with Audio");
    EXPECT_EQ(cdTypeText(32 | 0x600), "DVD-ROM with Video");
    EXPECT_EQ(cdTypeText(32 | 0x200), "DVD-Video");
    EXPECT_EQ(cdTypeText(32 | 0x400), "DVD-ROM");
    EXPECT_EQ(cdTypeText(32 | 0x100), "DVD-Audio");
    EXPECT_EQ(cdTypeText(32), "");
    EXPECT_EQ(viewText(4999), "local");
    EXPECT_EQ(viewText(5000), "network");
}

ListRow row(std::string description, std::string size, int64_t created, bool folder = false) {
    ListRow r;
    r.folder = folder;
    r.texts[0] = std::move(description);
    r.texts[4] = std::move(size);
    r.created = created;
    return r;
}

std::vector<std::string> sorted(std::vector<ListRow> rows, int key) {
    std::stable_sort(rows.begin(), rows.end(),
                     [key](const ListRow& a, const ListRow& b) { return rowBefore(a, b, key); });
    std::vector<std::string> out;
    for (const auto& r : rows)
        out.push_back(r.texts[0]);
    return out;
}

TEST(ImageColumns, RowsSortFoldersFirstSizesAsNumbersDatesByTime) {
    const std::vector<ListRow> rows{row("beta", "100", 30), row("Alpha", "9", 0),
                                    row("zeta", "", 10, true), row("gamma", "25.5", 20)};
    EXPECT_EQ(sorted(rows, 1), (std::vector<std::string>{"zeta", "Alpha", "beta", "gamma"}));
    EXPECT_EQ(sorted(rows, -1), (std::vector<std::string>{"gamma", "beta", "Alpha", "zeta"}));
    EXPECT_EQ(sorted(rows, 5), (std::vector<std::string>{"zeta", "Alpha", "gamma", "beta"}));
    EXPECT_EQ(sorted(rows, 6), (std::vector<std::string>{"Alpha", "zeta", "gamma", "beta"}));
}

}  // namespace
