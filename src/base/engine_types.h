#pragma once

// The small types through which the streaming engine is configured and
// observed. The engine class names them as its own members
// (Ondaline::StreamMode and so on).

#include "base/bytes.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ondaline {

// The publishing target. Its raw value is the text shown to the user.
enum class StreamMode { rtmp, youtube, facebook, kick, icecast };

inline constexpr std::array<StreamMode, 5> allStreamModes{StreamMode::rtmp, StreamMode::youtube, StreamMode::facebook,
                                                          StreamMode::kick, StreamMode::icecast};

std::string_view rawValue(StreamMode mode);
// Exactly the five display texts, letter for letter; anything else is absent.
std::optional<StreamMode> streamModeFromRawValue(std::string_view text);

// The streaming state. Its raw value is the text shown to the user; the
// trailing "…" is the one character U+2026.
enum class StreamState { idle, connecting, handshaking, negotiating, publishing, disconnecting, error };

std::string_view rawValue(StreamState state);
std::optional<StreamState> streamStateFromRawValue(std::string_view text);

// What a notice to the delegate means for the stream; its text is for the
// user only.
enum class NoticeKind {
    retrying,   // the stream was lost; a back-off reconnect is pending
    unhealthy,  // still live, but too slow: a reconnect follows shortly
    unstable,   // still live, and the latency reconnects are used up
    failure,    // the stream is over, or never started
};

// RTMP and audio settings.
struct Configuration {
    std::string serverURL;
    std::string streamKey;
    std::int64_t audioBitrate = 320000;  // bit/s
    double sampleRate = 44100.0;         // Hz
    std::uint32_t channels = 2;

    bool operator==(const Configuration&) const = default;
};

// Icecast settings.
struct IcecastConfig {
    std::string host;
    std::uint16_t port = 8000;
    std::string mountPoint = "/stream";
    std::string password;
    std::string username = "source";
    std::string streamName;
    std::string streamDescription;
    std::string streamGenre;
    bool isPublic = false;

    bool operator==(const IcecastConfig&) const = default;
};

// The RTMP reader's state for one incoming chunk stream.
struct ChunkStreamContext {
    std::uint32_t lastTimestamp = 0;
    std::int64_t lastMessageLength = 0;
    std::uint8_t lastMessageTypeID = 0;
    std::uint32_t lastMessageStreamID = 0;
    Bytes accumulatedData;            // payload gathered so far of the message being reassembled
    std::int64_t remainingBytes = 0;  // payload bytes still missing for that message

    bool operator==(const ChunkStreamContext&) const = default;
};

// Chunk stream id to its context; a stream seen first gets the defaults.
using ChunkStreamMap = std::unordered_map<std::uint16_t, ChunkStreamContext>;

}  // namespace ondaline
