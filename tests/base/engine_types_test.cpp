#include "base/engine_types.h"

#include <gtest/gtest.h>

using namespace ondaline;

TEST(StreamMode, RawValuesAreTheDisplayTextsExactly)
{
    std::vector<std::string_view> texts;
    for (auto mode : allStreamModes) texts.push_back(rawValue(mode));
    EXPECT_EQ(texts, (std::vector<std::string_view>{"RTMP", "YouTube Live", "Facebook Live", "Kick", "Icecast"}));
    for (auto mode : allStreamModes) EXPECT_EQ(streamModeFromRawValue(rawValue(mode)), mode);

    EXPECT_EQ(streamModeFromRawValue("rtmp"), std::nullopt);
    EXPECT_EQ(streamModeFromRawValue("youtube"), std::nullopt);
    EXPECT_EQ(streamModeFromRawValue("youtube live"), std::nullopt);
    EXPECT_EQ(streamModeFromRawValue(""), std::nullopt);
}

TEST(StreamState, RawValuesUseTheEllipsisCharacter)
{
    EXPECT_EQ(rawValue(StreamState::idle), "Idle");
    EXPECT_EQ(rawValue(StreamState::publishing), "Live");
    EXPECT_EQ(rawValue(StreamState::error), "Error");
    EXPECT_EQ(rawValue(StreamState::connecting).size(), 13u);
    EXPECT_EQ(rawValue(StreamState::handshaking).size(), 17u);
    EXPECT_EQ(rawValue(StreamState::negotiating).size(), 14u);
    EXPECT_EQ(rawValue(StreamState::disconnecting).size(), 16u);
    EXPECT_EQ(rawValue(StreamState::handshaking), "RTMP Handshake\u2026");

    for (auto s : {StreamState::idle, StreamState::connecting, StreamState::handshaking, StreamState::negotiating,
                   StreamState::publishing, StreamState::disconnecting, StreamState::error}) {
        EXPECT_EQ(streamStateFromRawValue(rawValue(s)), s);
    }
    EXPECT_EQ(streamStateFromRawValue("Connecting..."), std::nullopt);
    EXPECT_EQ(streamStateFromRawValue("live"), std::nullopt);
}

TEST(EngineRecords, DefaultsAndNamedConstruction)
{
    const Configuration config;
    EXPECT_EQ(config.serverURL, "");
    EXPECT_EQ(config.streamKey, "");
    EXPECT_EQ(config.audioBitrate, 320000);
    EXPECT_EQ(config.sampleRate, 44100.0);
    EXPECT_EQ(config.channels, 2u);

    const IcecastConfig icecast;
    EXPECT_EQ(icecast.port, 8000);
    EXPECT_EQ(icecast.mountPoint, "/stream");
    EXPECT_EQ(icecast.username, "source");
    EXPECT_TRUE(icecast.host.empty() && icecast.password.empty() && icecast.streamName.empty() &&
                icecast.streamDescription.empty() && icecast.streamGenre.empty());
    EXPECT_FALSE(icecast.isPublic);

    const Configuration named{.serverURL = "rtmp://a/live", .streamKey = "k", .sampleRate = 48000.0};
    EXPECT_EQ(named.audioBitrate, 320000);
    EXPECT_EQ(named.sampleRate, 48000.0);
    EXPECT_EQ(named.channels, 2u);

    ChunkStreamMap streams;
    EXPECT_EQ(streams[3], ChunkStreamContext{});
    EXPECT_EQ(streams[3].remainingBytes, 0);
    EXPECT_TRUE(streams[3].accumulatedData.empty());
}
