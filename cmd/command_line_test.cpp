#include "cmd/command_line.h"

#include <gtest/gtest.h>

using namespace ombrix::cmd;

namespace {

std::vector<std::string> texts(const std::vector<Token>& tokens) {
    std::vector<std::string> out;
    for (const auto& t : tokens)
        out.push_back(t.text);
    return out;
}

using Strings = std::vector<std::string>;

TEST(Tokenize, BlanksSeparateAndQuotesKeepBlanksAndNest) {
    EXPECT_EQ(texts(tokenize("  /I\tdisc.om4   E: ")), (Strings{"/I", "disc.om4", "E:"}));
    EXPECT_EQ(texts(tokenize("/I \"/srv/my images/a b.om4\" F:")),
              (Strings{"/I", "/srv/my images/a b.om4", "F:"}));
    // A quoted program path inside a quoted value stays whole; the outer quotes go.
    EXPECT_EQ(texts(tokenize("/X \"\"/opt/my tools/run\" -a x\" /W /tmp")),
              (Strings{"/X", "\"/opt/my tools/run\" -a x", "/W", "/tmp"}));
    EXPECT_EQ(texts(tokenize("\"say \"hi\" there\" next")), (Strings{"say \"hi\" there", "next"}));
    // An unmatched quote runs to the end of the line.
    EXPECT_EQ(texts(tokenize("/I \"open ended E:")), (Strings{"/I", "\"open ended E:"}));
    EXPECT_EQ(texts(tokenize("")), Strings{});
    auto quoted = tokenize("\"/Q\" \"\" /Q");
    ASSERT_EQ(quoted.size(), 3u);
    EXPECT_TRUE(quoted[0].quoted);
    EXPECT_TRUE(quoted[1].quoted);
    EXPECT_EQ(quoted[1].text, "");
    EXPECT_FALSE(quoted[2].quoted);
}

TEST(SplitLine, ModeFlagsAreWholeTwoCharacterTokensAndTConsumesAPositiveNumber) {
    auto split = splitLine("/q -V ?h /? /n /I /var/images/t.om4 /tmp/q.om4 \"/V\"");
    EXPECT_EQ(split.modes, "QVH?N");
    // Absolute paths whose second character is a flag letter stay arguments, as does a quoted
    // flag.
    EXPECT_EQ(texts(split.arguments), (Strings{"/I", "/var/images/t.om4", "/tmp/q.om4", "/V"}));
    EXPECT_EQ(split.attempts, 0);

    split = splitLine("/T 3 /X prog");
    EXPECT_EQ(split.modes, "T");
    EXPECT_EQ(split.attempts, 3);
    EXPECT_EQ(texts(split.arguments), (Strings{"/X", "prog"}));
    // Not a positive decimal number: not consumed.
    for (const char* line : {"/T 0 x", "/T -2 x", "/T 3a x", "/T \"4\" x", "/T 99999999999 x"}) {
        split = splitLine(line);
        EXPECT_EQ(split.attempts, 0) << line;
        EXPECT_EQ(split.arguments.size(), 2u) << line;
    }
}

TEST(OptionLetter, OnlyUnquotedSlashOrDashWithOneLetter) {
    EXPECT_EQ(optionLetter({"/i", false}), 'I');
    EXPECT_EQ(optionLetter({"-X", false}), 'X');
    EXPECT_EQ(optionLetter({"/I", true}), 0);
    EXPECT_EQ(optionLetter({"/Ix", false}), 0);
    EXPECT_EQ(optionLetter({"E:", false}), 0);
    EXPECT_EQ(optionLetter({"/", false}), 0);
}

TEST(JoinArguments, ArgumentsWithBlanksSurviveTheRoundTrip) {
    Strings arguments{"/I", "/srv/my images/a.om4", "", "E:", "/X", "\"/opt/my app/run\" -v"};
    std::string line = joinArguments(arguments);
    EXPECT_EQ(line, "/I \"/srv/my images/a.om4\" E: /X \"\"/opt/my app/run\" -v\"");
    EXPECT_EQ(texts(tokenize(line)),
              (Strings{"/I", "/srv/my images/a.om4", "E:", "/X", "\"/opt/my app/run\" -v"}));
}

}  // namespace
