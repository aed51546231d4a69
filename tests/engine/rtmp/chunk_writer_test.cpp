#include "engine/rtmp/chunk_writer.h"

#include <gtest/gtest.h>

using namespace ondaline;
using namespace ondaline::rtmp;

TEST(ChunkWriter, SetChunkSizeMessageAsTheSpecOfRTMPShowsIt)
{
    // Set Chunk Size 4096 on chunk stream 2, stream 0, written at chunk size 128.
    const auto bytes = serializeMessage({1, 0, 2, 0}, Bytes{0x00, 0x00, 0x10, 0x00}, 128);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(*bytes,
              (Bytes{0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00}));
}

TEST(ChunkWriter, LongMessageContinuesWithType3Headers)
{
    Bytes payload(10000);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
    const auto bytes = serializeMessage({9, 1, 6, 1000}, payload, 4096);
    ASSERT_TRUE(bytes);
    ASSERT_EQ(bytes->size(), 12u + 4096 + 1 + 4096 + 1 + 1808);
    // Type 0: cs 6, timestamp 1000, length 10000, type 9, stream 1 little-endian.
    EXPECT_EQ(Bytes(bytes->begin(), bytes->begin() + 12),
              (Bytes{0x06, 0x00, 0x03, 0xE8, 0x00, 0x27, 0x10, 0x09, 0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ((*bytes)[12 + 4096], 0xC6);
    EXPECT_EQ((*bytes)[12 + 4096 + 1 + 4096], 0xC6);
    EXPECT_EQ(bytes->back(), payload.back());
    EXPECT_TRUE(std::equal(payload.begin() + 4096, payload.begin() + 8192, bytes->begin() + 12 + 4096 + 1));
}

TEST(ChunkWriter, ChunkBoundaryAtExactlyTheChunkSize)
{
    EXPECT_EQ(serializeMessage({8, 1, 4, 0}, Bytes(128, 0xAA), 128)->size(), 12u + 128);
    const auto oneMore = serializeMessage({8, 1, 4, 0}, Bytes(129, 0xAA), 128);
    ASSERT_EQ(oneMore->size(), 12u + 128 + 1 + 1);
    EXPECT_EQ((*oneMore)[140], 0xC4);
}

TEST(ChunkWriter, ExtendedTimestampOnEveryChunkFrom0xFFFFFF)
{
    const Bytes payload(200, 0x11);
    auto bytes = serializeMessage({8, 1, 4, 0xFFFFFE}, payload, 128);
    EXPECT_EQ(Bytes(bytes->begin() + 1, bytes->begin() + 4), (Bytes{0xFF, 0xFF, 0xFE}));
    EXPECT_EQ(bytes->size(), 12u + 128 + 1 + 72);

    bytes = serializeMessage({8, 1, 4, 0xFFFFFF}, payload, 128);
    EXPECT_EQ(Bytes(bytes->begin() + 1, bytes->begin() + 4), (Bytes{0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(bytes->begin() + 12, bytes->begin() + 16), (Bytes{0x00, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ((*bytes)[16 + 128], 0xC4);
    EXPECT_EQ(Bytes(bytes->begin() + 17 + 128, bytes->begin() + 21 + 128), (Bytes{0x00, 0xFF, 0xFF, 0xFF}));

    bytes = serializeMessage({8, 1, 4, 0x1000000}, payload, 128);
    EXPECT_EQ(Bytes(bytes->begin() + 12, bytes->begin() + 16), (Bytes{0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytes->size(), 16u + 128 + 5 + 72);
}

TEST(ChunkWriter, RefusesWhatTheHeaderCannotCarryAndWritesNothingForEmptyPayloads)
{
    EXPECT_EQ(serializeMessage({8, 1, 4, 0}, Bytes{}, 128), Bytes{});
    EXPECT_FALSE(serializeMessage({8, 1, 1, 0}, Bytes{1}, 128));
    EXPECT_FALSE(serializeMessage({8, 1, 64, 0}, Bytes{1}, 128));
    EXPECT_FALSE(serializeMessage({8, 1, 4, 0}, Bytes(0x1000000), 4096));
    EXPECT_FALSE(serializeMessage({8, 1, 4, 0}, Bytes{1}, 0));
}

TEST(ChunkWriter, DiagnosticLineShowsTheHeaderAndFirstBytes)
{
    Bytes payload(20);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_EQ(describeMessage(0, {8, 1, 4, 23}, payload, 4096),
              "Ondaline: MSG[0] type=0x08 cs=4 sid=1 len=20 ts=23 chunks=1 "
              "first16=[a0 a1 a2 a3 a4 a5 a6 a7 a8 a9 aa ab ac ad ae af]");
    EXPECT_EQ(describeMessage(9, {0x12, 1, 6, 0}, Bytes{}, 128),
              "Ondaline: MSG[9] type=0x12 cs=6 sid=1 len=0 ts=0 chunks=1 first16=[]");
    EXPECT_NE(describeMessage(1, {9, 1, 6, 0}, Bytes(300), 128).find(" chunks=3 "), std::string::npos);
}
