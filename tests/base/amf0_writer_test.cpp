#include "base/amf0_writer.h"

#include <gtest/gtest.h>

using namespace ondaline;

TEST(AMF0Writer, EncodesEachValueExactly)
{
    Bytes out;
    appendAMF0String(out, "");
    EXPECT_EQ(out, (Bytes{0x02, 0x00, 0x00}));

    out.clear();
    appendAMF0Boolean(out, true);
    appendAMF0Boolean(out, false);
    appendAMF0Null(out);
    EXPECT_EQ(out, (Bytes{0x01, 0x01, 0x01, 0x00, 0x05}));

    out.clear();
    appendAMF0Number(out, 1.0);
    EXPECT_EQ(out, (Bytes{0x00, 0x3F, 0xF0, 0, 0, 0, 0, 0, 0}));

    out.clear();
    appendAMF0ObjectEnd(out);
    appendAMF0ECMAArrayEnd(out);
    EXPECT_EQ(out, (Bytes{0x00, 0x00, 0x09, 0x00, 0x00, 0x09}));

    out.clear();
    appendAMF0ECMAArrayStart(out, 3);
    EXPECT_EQ(out, (Bytes{0x08, 0x00, 0x00, 0x00, 0x03}));
}

TEST(AMF0Writer, WritesAnObjectAsKeyValuePairsWithoutKeyMarkers)
{
    // { app: "live", audio: true, fps: 24 }, as a connect command carries it.
    Bytes out;
    appendAMF0ObjectStart(out);
    EXPECT_TRUE(appendAMF0Property(out, "app", "live"));
    EXPECT_TRUE(appendAMF0Property(out, "audio", true));
    EXPECT_TRUE(appendAMF0Property(out, "fps", 24.0));
    appendAMF0ObjectEnd(out);
    const Bytes expected{0x03,                                                                    // object
                         0x00, 0x03, 'a', 'p', 'p', 0x02, 0x00, 0x04, 'l',  'i', 'v', 'e',        // app: "live"
                         0x00, 0x05, 'a', 'u', 'd', 'i',  'o',  0x01, 0x01,                       // audio: true
                         0x00, 0x03, 'f', 'p', 's', 0x00, 0x40, 0x38, 0,    0,   0,   0,   0, 0,  // fps: 24.0
                         0x00, 0x00, 0x09};
    EXPECT_EQ(out, expected);
}

TEST(AMF0Writer, RefusesTextsTooLongForTheLengthFieldAndLeavesTheBufferAlone)
{
    const std::string longest(0xFFFF, 'a');
    const std::string tooLong(0x10000, 'a');
    Bytes out;
    EXPECT_TRUE(appendAMF0String(out, longest));
    EXPECT_EQ(out.size(), 3u + 0xFFFF);
    EXPECT_EQ(out[1], 0xFF);
    EXPECT_EQ(out[2], 0xFF);

    out = Bytes{0x03};
    EXPECT_FALSE(appendAMF0String(out, tooLong));
    EXPECT_FALSE(appendAMF0Property(out, tooLong, "v"));
    EXPECT_FALSE(appendAMF0Property(out, "k", tooLong));
    EXPECT_FALSE(appendAMF0Property(out, tooLong, 1.0));
    EXPECT_FALSE(appendAMF0Property(out, tooLong, false));
    EXPECT_EQ(out, Bytes{0x03});
}
