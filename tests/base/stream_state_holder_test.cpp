#include "base/stream_state_holder.h"

#include "support/log_capture.h"

#include <gtest/gtest.h>

#include <atomic>

using ondaline::StreamState;
using ondaline::StreamStateHolder;
using ondaline::test::LogCapture;

TEST(StreamStateHolder, LogsAndAnnouncesEachRealChangeOnce)
{
    std::atomic<int> announcements{0};
    StreamStateHolder state([&] { ++announcements; });
    LogCapture log;

    EXPECT_EQ(state.get(), StreamState::idle);
    state.set(StreamState::idle);
    EXPECT_TRUE(log.messages().empty());
    EXPECT_EQ(announcements, 0);

    state.set(StreamState::connecting);
    state.set(StreamState::handshaking);
    state.set(StreamState::handshaking);
    EXPECT_EQ(log.messages(),
              (std::vector<std::string>{"Ondaline: State → Connecting…", "Ondaline: State → RTMP Handshake…"}));
    EXPECT_EQ(announcements, 2);
}

TEST(StreamStateHolder, IsConnectedOnlyWhilePublishing)
{
    StreamStateHolder state(nullptr);
    for (auto s : {StreamState::idle, StreamState::connecting, StreamState::handshaking, StreamState::negotiating,
                   StreamState::disconnecting, StreamState::error}) {
        state.set(s);
        EXPECT_FALSE(state.isConnected());
    }
    state.set(StreamState::publishing);
    EXPECT_TRUE(state.isConnected());
}
