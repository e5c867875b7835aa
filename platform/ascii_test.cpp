#include "platform/ascii.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Against the byte-by-byte rule, for the stop byte at every place of the first words, none at
// all, lengths that are no multiple of eight, and bytes above 0x7F that must stay as they are.
TEST(Ascii, UpperUntilMatchesTheSimpleRule) {
    const std::string sample = "abcXYZ{}`@az\xC3\xA4\x80\xFF_09mnopqrstuvwxyz";
    for (size_t length = 0; length <= sample.size(); ++length) {
        for (size_t stop = 0; stop <= length; ++stop) {
            std::string text = sample.substr(0, length);
            if (stop < length) text[stop] = '=';
            std::string expected = text;
            size_t at = 0;
            while (at < expected.size() && expected[at] != '=') {
                expected[at] = ombrix::ascii::upper(expected[at]);
                ++at;
            }
            const size_t found = ombrix::ascii::upperUntil(text.data(), text.size(), '=');
            ASSERT_EQ(found, at) << length << " " << stop;
            ASSERT_EQ(text, expected) << length << " " << stop;
        }
    }
}

}  // namespace
