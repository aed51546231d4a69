#include "platform/random_bytes.h"

#include <gtest/gtest.h>

#include <array>

using ondaline::platform::randomBytes;

TEST(RandomBytes, FillsTheWholeBufferWithFreshBytes)
{
    std::array<std::uint8_t, 1528> a{}, b{};
    ASSERT_TRUE(randomBytes(a));
    ASSERT_TRUE(randomBytes(b));
    EXPECT_NE(a, b);
    // 1528 zero bytes from a working generator are all but impossible.
    EXPECT_NE(a, (std::array<std::uint8_t, 1528>{}));
    EXPECT_TRUE(randomBytes(std::span<std::uint8_t>()));
}
