#include "base/bytes.h"

#include <gtest/gtest.h>

#include <limits>

using namespace ondaline;

TEST(Bytes, WritersAppendBigAndLittleEndianExactly)
{
    Bytes out;
    appendUInt8(out, 0xAB);
    appendUInt16BE(out, 0x0102);
    appendUInt24BE(out, 0x01020304);  // the top byte is dropped
    appendUInt32BE(out, 0x0A0B0C0D);
    appendUInt32LE(out, 1);
    appendDoubleBE(out, 1.0);
    appendText(out, "ok");
    EXPECT_EQ(out, (Bytes{0xAB, 0x01, 0x02, 0x02, 0x03, 0x04, 0x0A, 0x0B, 0x0C, 0x0D, 0x01, 0x00,
                          0x00, 0x00, 0x3F, 0xF0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 'o',  'k'}));
}

TEST(Bytes, ReadersRoundTripEveryWidth)
{
    Bytes out;
    appendUInt16BE(out, 0xBEEF);
    appendUInt24BE(out, 0xFFFFFF);
    appendUInt32BE(out, 0xDEADBEEF);
    appendUInt32LE(out, 0x12345678);
    appendDoubleBE(out, -1234.5e-7);
    EXPECT_EQ(readUInt16BE(out, 0), 0xBEEF);
    EXPECT_EQ(readUInt24BE(out, 2), 0xFFFFFFu);
    EXPECT_EQ(readUInt32BE(out, 5), 0xDEADBEEFu);
    EXPECT_EQ(readUInt32LE(out, 9), 0x12345678u);
    EXPECT_EQ(readDoubleBE(out, 13), -1234.5e-7);
    EXPECT_EQ(readUInt8(out, 0), 0xBE);
}

TEST(Bytes, ReadersAnswerAbsentInsteadOfReadingPastTheEnd)
{
    const Bytes data{1, 2, 3, 4, 5, 6, 7, 8};
    for (std::size_t at = 0; at <= data.size() + 1; ++at) {
        const std::size_t left = at < data.size() ? data.size() - at : 0;
        EXPECT_EQ(readUInt8(data, at).has_value(), left >= 1) << at;
        EXPECT_EQ(readUInt16BE(data, at).has_value(), left >= 2) << at;
        EXPECT_EQ(readUInt24BE(data, at).has_value(), left >= 3) << at;
        EXPECT_EQ(readUInt32BE(data, at).has_value(), left >= 4) << at;
        EXPECT_EQ(readUInt32LE(data, at).has_value(), left >= 4) << at;
        EXPECT_EQ(readDoubleBE(data, at).has_value(), left >= 8) << at;
    }
    const auto huge = std::numeric_limits<std::size_t>::max();
    EXPECT_FALSE(readUInt32BE(data, huge).has_value());
    EXPECT_FALSE(readUInt16BE(data, huge - 1).has_value());
    EXPECT_FALSE(readUInt8(ByteView(), 0).has_value());
}

TEST(ByteCursor, StaysPutOnAShortReadSoTheParserCanWaitForMore)
{
    const Bytes data{0x00, 0x10, 0xAA, 0xBB, 0xCC};
    ByteCursor cursor(data);
    EXPECT_EQ(cursor.uint16BE(), 0x0010);
    EXPECT_EQ(cursor.offset(), 2u);
    EXPECT_EQ(cursor.uint32BE(), std::nullopt);
    EXPECT_EQ(cursor.offset(), 2u);
    EXPECT_EQ(cursor.take(4), std::nullopt);
    const auto rest = cursor.take(3);
    ASSERT_TRUE(rest);
    EXPECT_EQ(Bytes(rest->begin(), rest->end()), (Bytes{0xAA, 0xBB, 0xCC}));
    EXPECT_TRUE(cursor.atEnd());
    EXPECT_EQ(cursor.uint8(), std::nullopt);
    EXPECT_TRUE(cursor.take(0).has_value());

    ByteCursor pastEnd(data, 99);
    EXPECT_EQ(pastEnd.remaining(), 0u);
    EXPECT_EQ(pastEnd.take(0), std::nullopt);
}
