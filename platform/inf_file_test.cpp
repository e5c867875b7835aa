#include "platform/inf_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "support/temp_root.h"

namespace inf = ombrix::inf;
using Lines = std::vector<std::string>;

namespace {

Lines entries(const inf::InfFile& file, const char* section) {
    Lines out;
    if (const std::vector<inf::Entry>* list = file.section(section)) {
        for (const inf::Entry& e : *list)
            out.push_back(e.key + "|" + e.value);
    }
    return out;
}

TEST(InfFile, SectionsEntriesAndComments) {
    using namespace std::string_literals;
    inf::InfFile file;
    file.parse(
        "\xEF\xBB\xBForphan = before any section\r\n"
        "[Version]  ; comment\r\n"
        "  Class = SCSIAdapter ; comment\r\n"
        "; whole-line comment\r\n"
        "Text = \"a;b = c\" ; quoted ';' and '=' stay\r\n"
        "[models]\nsecond = 2\nfirst = 1\nno equals here\n"
        "[Broken\nstray = 2\n\0\x01\xff = x\n"
        "[ MODELS ]\nthird = 3 = three\n"s);
    EXPECT_EQ(file.sectionNames(), (Lines{"Version", "models"}));
    EXPECT_EQ(entries(file, "VERSION"), (Lines{"Class|SCSIAdapter", "Text|\"a;b = c\""}));
    // File order; a repeated section continues the first; a broken header's lines go nowhere.
    EXPECT_EQ(entries(file, "Models"),
              (Lines{"second|2", "first|1", "|no equals here", "third|3 = three"}));
    EXPECT_FALSE(file.section("models")->at(2).hasEquals);
    EXPECT_EQ(file.section("models")->at(2).line, 9);
    EXPECT_EQ(file.section("Broken"), nullptr);
}

TEST(InfFile, ValuesStringsAndFields) {
    inf::InfFile file;
    file.parse(
        "[Service]\nDisplayName = %Desc%\nBinary = %12%\\oxt%%drv\nDisplayName = second\n"
        "[Strings]\nDesc = \"Virtual \"\"CD\"\" adapter\"\n");
    EXPECT_EQ(file.value("SERVICE", "displayname"), "%Desc%");
    EXPECT_EQ(file.value("Service", "Missing"), std::nullopt);
    EXPECT_EQ(file.expand(*file.value("Service", "DisplayName")), "Virtual \"CD\" adapter");
    EXPECT_EQ(file.expand(*file.value("Service", "Binary")), "%12%\\oxt%drv");
    EXPECT_EQ(inf::splitFields(" a , \"b,c\" ,, d "), (Lines{"a", "\"b,c\"", "", "d"}));
}

TEST(InfFile, LoadsLongLinesAndRefusesWhatItCannotRead) {
    ombrix::test::TempRoot root;
    const std::string longValue(10000, 'x');
    ombrix::test::writeFile(root / "long.inf", "[S]\nk = " + longValue + "\n");
    inf::InfFile file;
    ASSERT_TRUE(file.load((root / "long.inf").string()));
    EXPECT_EQ(file.value("S", "k"), longValue);

    EXPECT_FALSE(file.load((root / "missing.inf").string()));
    EXPECT_TRUE(file.sectionNames().empty());  // nothing of the previous file stays
    EXPECT_FALSE(file.load(root.path().string()));
    // A file above the limit is refused unread (sparse, so it costs no disk).
    const std::string huge = (root / "huge.inf").string();
    int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, inf::InfFile::kMaxFileSize + 1), 0);
    ::close(fd);
    EXPECT_FALSE(file.load(huge));
}

}  // namespace
