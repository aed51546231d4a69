#include "platform/text.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ondaline::platform;

namespace {
bool valid(std::initializer_list<int> bytes)
{
    std::vector<std::uint8_t> data;
    for (int b : bytes) data.push_back(static_cast<std::uint8_t>(b));
    return isValidUTF8(std::span<const std::uint8_t>(data));
}
}  // namespace

TEST(UTF8, AcceptsWellFormedText)
{
    EXPECT_TRUE(isValidUTF8("Caf\u00e9 \u2014 \u266b \U0001F3B5"));
    EXPECT_TRUE(valid({}));
    EXPECT_TRUE(valid({0x7F}));
    EXPECT_TRUE(valid({0xEF, 0xBF, 0xBF}));        // U+FFFF
    EXPECT_TRUE(valid({0xF4, 0x8F, 0xBF, 0xBF}));  // U+10FFFF
}

TEST(UTF8, RejectsMalformedSequences)
{
    EXPECT_FALSE(valid({0x80}));                    // stray continuation
    EXPECT_FALSE(valid({0xC0, 0x80}));              // overlong NUL
    EXPECT_FALSE(valid({0xE0, 0x80, 0x80}));        // overlong
    EXPECT_FALSE(valid({0xED, 0xA0, 0x80}));        // surrogate
    EXPECT_FALSE(valid({0xF4, 0x90, 0x80, 0x80}));  // above U+10FFFF
    EXPECT_FALSE(valid({0xF5, 0x80, 0x80, 0x80}));
    EXPECT_FALSE(valid({0xE2, 0x80}));  // cut short
    EXPECT_FALSE(valid({0xC3, 0x41}));  // bad continuation
    const std::vector<std::uint8_t> bad{0xFF}, good{'h', 'i'};
    EXPECT_FALSE(decodeUTF8(bad).has_value());
    EXPECT_EQ(decodeUTF8(good), "hi");
}

TEST(Trim, RemovesUnicodeWhitespaceAndNewlinesAtBothEndsOnly)
{
    EXPECT_EQ(trimWhitespaceAndNewlines("  /srv/station\n"), "/srv/station");
    EXPECT_EQ(trimWhitespaceAndNewlines("\t\r\n\v\f"), "");
    EXPECT_EQ(trimWhitespaceAndNewlines(""), "");
    EXPECT_EQ(trimWhitespaceAndNewlines("a b\tc"), "a b\tc");
    // No-break space, ideographic space, line separator, next line.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u00a0\u3000key\u2028\u0085"), "key");
    EXPECT_EQ(trimWhitespaceAndNewlines("\u2003caf\u00e9\u200a"), "caf\u00e9");
    // Zero-width space is not white space; malformed bytes stop the trim.
    EXPECT_EQ(trimWhitespaceAndNewlines("\u200bx\u200b"), "\u200bx\u200b");
    EXPECT_EQ(trimWhitespaceAndNewlines(" \xff \x80"), "\xff \x80");
}

TEST(ShownName, FormatCharactersAndControlsBecomeMarksAndTheRestStays)
{
    // Direction controls, isolates, zero-width and tag characters, a soft
    // hyphen, and a byte order mark: each one mark.
    EXPECT_EQ(withFormatCharactersShown("Radio \u202e(Ward 7) live end\u202c"), "Radio \ufffd(Ward 7) live end\ufffd");
    EXPECT_EQ(withFormatCharactersShown("\u2067a\u2069\u200bb\u200fc\u00add\ufeff\U000e0041"),
              "\ufffda\ufffd\ufffdb\ufffdc\ufffdd\ufffd\ufffd");
    EXPECT_EQ(withFormatCharactersShown("mpv\n\x1b[2J\x85"), "mpv\u240a\u241b[2J\ufffd");
    EXPECT_EQ(withFormatCharactersShown("caf\u00e9 \u05e9\u05dc\u05d5\u05dd \U0001f3b5"),
              "caf\u00e9 \u05e9\u05dc\u05d5\u05dd \U0001f3b5");
    EXPECT_EQ(withFormatCharactersShown("\xff\xc3"), "\ufffd\ufffd");
}
