#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/temp_root.h"

namespace reg = ombrix::registry;

namespace {

const char* kSettings = "HKLM\\SOFTWARE\\Norvane\\Ombrix TS v5\\GlobalSettings";

TEST(Registry, KeysAndNamesIgnoreCaseAndKeepSpelling) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(reg::setString(kSettings, "OXTLogLevel", "0"), 0);
    std::string text;
    ASSERT_EQ(reg::getString("hkey_local_machine\\software\\norvane\\OMBRIX TS V5\\globalsettings",
                             "oxtloglevel", text),
              0);
    EXPECT_EQ(text, "0");

    std::vector<std::string> subkeys;
    ASSERT_EQ(reg::listSubkeys("HKLM\\SOFTWARE\\NORVANE", subkeys), 0);
    ASSERT_EQ(subkeys.size(), 1u);
    EXPECT_EQ(subkeys[0], "Ombrix TS v5");
    std::vector<std::pair<std::string, reg::Value>> values;
    ASSERT_EQ(reg::listValues(kSettings, values), 0);
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].first, "OXTLogLevel");
}

TEST(Registry, MissingAndMistypedValuesGiveCodes) {
    ombrix::test::TempRoot root;
    std::string text;
    uint32_t number = 0;
    EXPECT_EQ(reg::getString(kSettings, "Nothing", text), 2);
    ASSERT_EQ(reg::setDword(kSettings, "OmxServerPort", 65535), 0);
    EXPECT_EQ(reg::getString(kSettings, "OmxServerPort", text), 13);
    ASSERT_EQ(reg::getDword(kSettings, "OmxServerPort", number), 0);
    EXPECT_EQ(number, 65535u);
    EXPECT_EQ(reg::setString("HKXX\\Software", "a", "b"), 87);
    EXPECT_EQ(reg::setString("HKU\\..\\x", "a", "b"), 87);
    EXPECT_EQ(reg::deleteValue(kSettings, "Nothing"), 2);
}

TEST(Registry, AwkwardDataSurvivesTheFile) {
    ombrix::test::TempRoot root;
    std::string awkward = std::string("line1\nline2\t\"quoted\" back\\slash =[x]\r") + '\x01';
    ASSERT_EQ(reg::setString(kSettings, "we\"ird=name", awkward), 0);
    std::string multi("a\0b\0\0", 5);
    ASSERT_EQ(reg::setValue(kSettings, "Multi", reg::Value{reg::kMultiString, multi}), 0);
    std::string binary("\0\xff\x10", 3);
    ASSERT_EQ(reg::setValue(kSettings, "Bin", reg::Value{reg::kBinary, binary}), 0);

    std::string text;
    ASSERT_EQ(reg::getString(kSettings, "WE\"IRD=NAME", text), 0);
    EXPECT_EQ(text, awkward);
    reg::Value value;
    ASSERT_EQ(reg::getValue(kSettings, "multi", value), 0);
    EXPECT_EQ(value.data, multi);
    ASSERT_EQ(reg::getValue(kSettings, "bin", value), 0);
    EXPECT_EQ(value.type, reg::kBinary);
    EXPECT_EQ(value.data, binary);
}

TEST(Registry, DeletingAKeyTakesItsSubkeysButNotItsNeighbours) {
    ombrix::test::TempRoot root;
    ASSERT_EQ(reg::setString("HKLM\\A\\B\\C", "x", "1"), 0);
    ASSERT_EQ(reg::setString("HKLM\\A\\BB", "y", "2"), 0);
    ASSERT_EQ(reg::deleteKey("HKLM\\a\\b"), 0);
    std::string text;
    EXPECT_EQ(reg::getString("HKLM\\A\\B\\C", "x", text), 2);
    EXPECT_EQ(reg::getString("HKLM\\A\\BB", "y", text), 0);
    EXPECT_EQ(reg::deleteKey("HKLM\\A\\B"), 2);
    EXPECT_NE(reg::deleteKey("HKLM"), 0);
}

TEST(Registry, JunkInTheHiveFileIsSkipped) {
    ombrix::test::TempRoot root;
    ombrix::test::writeFile(
        root / "registry/HKLM.reg",
        std::string("garbage\n\"orphan\"=REG_SZ:x\n[K]\n\"a\"=REG_SZ:ok\n"
                    "\"b\"=REG_BOGUS:1\n\"c\"=REG_BINARY:zz\n\"d\"=REG_SZ:bad\\x\n") +
            std::string("\0\0\xff", 3));
    std::string text;
    ASSERT_EQ(reg::getString("HKLM\\K", "a", text), 0);
    EXPECT_EQ(text, "ok");
    EXPECT_EQ(reg::getString("HKLM\\K", "b", text), 2);
    EXPECT_EQ(reg::getString("HKLM\\K", "c", text), 2);
    EXPECT_EQ(reg::getString("HKLM\\K", "d", text), 2);
}

TEST(Registry, ConcurrentWritersLoseNothing) {
    ombrix::test::TempRoot root;
    const int kEach = 40;
    pid_t child = fork();
    const char* who = child == 0 ? "child" : "parent";
    for (int i = 0; i < kEach; ++i) {
        reg::setString("HKLM\\Test", std::string(who) + std::to_string(i), "v");
    }
    if (child == 0) _exit(0);
    waitpid(child, nullptr, 0);
    std::vector<std::pair<std::string, reg::Value>> values;
    ASSERT_EQ(reg::listValues("HKLM\\Test", values), 0);
    EXPECT_EQ(values.size(), 2u * kEach);
}

}  // namespace
