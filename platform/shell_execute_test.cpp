#include "platform/shell_execute.h"

#include <gtest/gtest.h>

namespace {

using ombrix::platform::quoteArgument;
using ombrix::platform::splitArguments;

TEST(ShellArguments, AQuotedArgumentIsReadBackWhole) {
    for (const std::string argument : {"/srv/images/disc.om4", "with blank", "say \"hi\"", "end\\",
                                       "a\\\"b", "\\\\x\\\\", "-switch", "", "tab\there"}) {
        const std::vector<std::string> read =
            splitArguments("prog " + quoteArgument(argument) + " /x");
        ASSERT_EQ(read.size(), 3u) << argument;
        EXPECT_EQ(read[1], argument);
        EXPECT_EQ(read[2], "/x");
    }
}

}  // namespace
