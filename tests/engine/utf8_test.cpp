#include "engine/utf8.h"

#include <gtest/gtest.h>

using namespace ondaline;

namespace {
bool valid(std::initializer_list<int> bytes)
{
    Bytes data;
    for (int b : bytes) data.push_back(static_cast<std::uint8_t>(b));
    return isValidUTF8(data);
}
}  // namespace

TEST(UTF8, AcceptsWellFormedText)
{
    const std::string text = "Caf\u00e9 \u2014 \u266b \U0001F3B5";
    EXPECT_TRUE(isValidUTF8(ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())));
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
    EXPECT_FALSE(valid({0xE2, 0x80}));              // cut short
    EXPECT_FALSE(valid({0xC3, 0x41}));              // bad continuation
    EXPECT_FALSE(decodeUTF8(Bytes{0xFF}).has_value());
    EXPECT_EQ(decodeUTF8(Bytes{'h', 'i'}), "hi");
}
