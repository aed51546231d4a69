#include "engine/rtmp/chunk_reader.h"

#include "engine/rtmp/chunk_writer.h"

#include "support/bytes_helpers.h"

#include <gtest/gtest.h>

using namespace ondaline;
using namespace ondaline::rtmp;
using ondaline::test::concat;
using ondaline::test::text;

namespace {

struct Reader {
    ChunkReader reader;
    std::vector<Message> messages;

    std::optional<std::string> feed(const Bytes& bytes)
    {
        reader.append(bytes);
        return reader.process([this](Message&& m) {
            messages.push_back(std::move(m));
            return true;
        });
    }
};

}  // namespace

TEST(ChunkReader, BasicHeadersOfOneTwoAndThreeBytes)
{
    // One-byte payload messages of type 20 on chunk streams 3, 69 and 320.
    Reader r;
    const Bytes type0Tail{0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x14, 0x00, 0x00, 0x00, 0x00, 0x7A};
    EXPECT_FALSE(r.feed(concat({{0x03}, type0Tail, {0x00, 0x05}, type0Tail, {0x01, 0x00, 0x01}, type0Tail})));
    ASSERT_EQ(r.messages.size(), 3u);
    EXPECT_TRUE(r.reader.chunkStreams().contains(3));
    EXPECT_TRUE(r.reader.chunkStreams().contains(69));
    EXPECT_TRUE(r.reader.chunkStreams().contains(320));
    EXPECT_EQ(r.messages[2].data, Bytes{0x7A});
}

TEST(ChunkReader, ReassemblesAcrossChunksAndReadsWithType0Ids)
{
    Bytes payload(300);
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<std::uint8_t>(i);
    const Bytes wire = *serializeMessage({20, 7, 3, 0}, payload, 128);  // 128 + 128 + 44
    Reader r;
    // Byte by byte: nothing is delivered until the last chunk is whole.
    for (std::size_t i = 0; i + 1 < wire.size(); ++i) {
        EXPECT_FALSE(r.feed(Bytes{wire[i]}));
        EXPECT_TRUE(r.messages.empty()) << i;
    }
    EXPECT_FALSE(r.feed(Bytes{wire.back()}));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].typeID, 20);
    EXPECT_EQ(r.messages[0].streamID, 7u);
    EXPECT_EQ(r.messages[0].data, payload);
    EXPECT_EQ(r.reader.bufferedBytes(), 0u);
}

TEST(ChunkReader, Type1And2HeadersReuseWhatTheStreamKnows)
{
    Reader r;
    // Type 0 (length 2, type 8, stream 1), then type 1 (new length 1, type 9),
    // type 2 (timestamp delta only: same length and type) and type 3.
    EXPECT_FALSE(r.feed(Bytes{0x04, 0, 0, 10, 0, 0, 2,    0x08, 1,    0, 0, 0, 0xA1, 0xA2, 0x44,
                              0,    0, 5, 0,  0, 1, 0x09, 0xB1, 0x84, 0, 0, 5, 0xB2, 0xC4, 0xB3}));
    ASSERT_EQ(r.messages.size(), 4u);
    EXPECT_EQ(r.messages[0].data, (Bytes{0xA1, 0xA2}));
    EXPECT_EQ(r.messages[1].typeID, 9);
    EXPECT_EQ(r.messages[1].streamID, 1u);
    EXPECT_EQ(r.messages[2].data, Bytes{0xB2});
    EXPECT_EQ(r.messages[3].data, Bytes{0xB3});
}

TEST(ChunkReader, Type1HeaderDropsAnUnfinishedMessage)
{
    Reader r;
    r.reader.setInChunkSize(2);
    EXPECT_FALSE(r.feed(Bytes{0x04, 0, 0, 0, 0, 0, 4, 0x08, 1,   0, 0, 0, 0xAA, 0xAA,  // half of 4 bytes
                              0x44, 0, 0, 0, 0, 0, 1, 0x08, 0xBB}));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].data, Bytes{0xBB});
}

TEST(ChunkReader, ExtendedTimestampsOnTheFirstChunkAndEveryContinuation)
{
    Bytes payload(200, 0x5C);
    Reader r;
    EXPECT_FALSE(r.feed(*serializeMessage({9, 1, 6, 0x1234567}, payload, 128)));
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].data, payload);
    EXPECT_EQ(r.reader.chunkStreams().at(6).lastTimestamp, 0x1234567u);

    // At exactly 0xFFFFFF the extended field is there too.
    EXPECT_FALSE(r.feed(*serializeMessage({9, 1, 6, 0xFFFFFF}, payload, 128)));
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[1].data, payload);
}

TEST(ChunkReader, ChunkSizeChangeAppliesToTheNextChunkInTheSameBuffer)
{
    Reader r;
    const Bytes setChunkSize = *serializeMessage({1, 0, 2, 0}, Bytes{0x00, 0x00, 0x10, 0x00}, 128);
    const Bytes big = *serializeMessage({20, 0, 3, 0}, Bytes(4000, 0x33), 4096);  // one chunk at 4096
    r.reader.append(concat({setChunkSize, big}));
    const auto error = r.reader.process([&](Message&& m) {
        if (m.typeID == 1) r.reader.setInChunkSize(4096);
        r.messages.push_back(std::move(m));
        return true;
    });
    EXPECT_FALSE(error);
    ASSERT_EQ(r.messages.size(), 2u);
    EXPECT_EQ(r.messages[1].data.size(), 4000u);
}

TEST(ChunkReader, EmptyMessagesAndUnknownStreamsDeliverNothing)
{
    Reader r;
    EXPECT_FALSE(r.feed(Bytes{0x03, 0, 0, 0, 0, 0, 0, 0x14, 0, 0, 0, 0,  // length 0
                              0xC9, 0x89, 0, 0, 0}));                    // type 3 and 2 on new streams
    EXPECT_TRUE(r.messages.empty());
    EXPECT_EQ(r.reader.bufferedBytes(), 0u);
}

TEST(ChunkReader, BoundsOnWhatAServerMaySend)
{
    {
        Reader r;  // 1 MiB + 1 announced
        const auto error = r.feed(Bytes{0x03, 0, 0, 0, 0x10, 0x00, 0x01, 0x14, 0, 0, 0, 0});
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, "message of 1048577 bytes is over the 1048576-byte limit");
    }
    {
        Reader r;  // exactly 1 MiB is fine
        EXPECT_FALSE(r.feed(Bytes{0x03, 0, 0, 0, 0x10, 0x00, 0x00, 0x14, 0, 0, 0, 0}));
    }
    {
        Reader r;  // chunk stream id 65599 from the three-byte form
        const auto error = r.feed(Bytes{0x01, 0xFF, 0xFF, 0, 0, 0, 0, 0, 1, 0x14, 0, 0, 0, 0, 0});
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, "chunk stream id 65599 is out of range");
    }
    {
        Reader r;  // the 33rd chunk stream
        Bytes wire;
        for (int id = 3; id < 3 + 33; ++id) {
            const Bytes one = *serializeMessage({20, 0, static_cast<std::uint8_t>(id), 0}, Bytes{1}, 128);
            wire.insert(wire.end(), one.begin(), one.end());
        }
        const auto error = r.feed(wire);
        ASSERT_TRUE(error);
        EXPECT_EQ(*error, "more than 32 chunk streams");
        EXPECT_EQ(r.messages.size(), 32u);
    }
}

TEST(ChunkReader, ReceiverMayStopOrResetTheReader)
{
    const Bytes two = concat({*serializeMessage({20, 0, 3, 0}, Bytes{1}, 128),
                              *serializeMessage({20, 0, 3, 0}, Bytes{2}, 128)});
    ChunkReader reader;
    reader.append(two);
    int delivered = 0;
    EXPECT_FALSE(reader.process([&](Message&&) {
        ++delivered;
        return false;
    }));
    EXPECT_EQ(delivered, 1);
    EXPECT_EQ(reader.bufferedBytes(), 13u);  // the second message waits

    EXPECT_FALSE(reader.process([&](Message&&) {
        reader.reset();  // a new connection began inside the receiver
        return true;
    }));
    EXPECT_EQ(reader.bufferedBytes(), 0u);
    EXPECT_EQ(reader.inChunkSize(), 128);
}
