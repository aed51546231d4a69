#pragma once

// Serialises one RTMP message into chunks: a type-0 header on the first
// chunk, type-3 headers on the rest, the extended timestamp on every chunk
// when the timestamp is 0xFFFFFF or more. No state per chunk stream, so
// messages may be written from any thread in any order.

#include "base/bytes.h"

#include <cstdint>
#include <optional>
#include <string>

namespace ondaline::rtmp {

struct MessageHeader {
    std::uint8_t typeID;
    std::uint32_t streamID;  // message stream id
    std::uint8_t csID;       // chunk stream id, 2 to 63
    std::uint32_t timestamp = 0;
};

inline constexpr std::size_t maxMessageLength = 0xFFFFFF;

// The chunks of the whole message. Absent for what the one-byte basic header
// and the 24-bit length cannot carry (a chunk stream id outside 2 to 63, a
// payload over 16777215 bytes) or a chunk size below 1. An empty payload
// gives no bytes at all.
std::optional<Bytes> serializeMessage(const MessageHeader& header, ByteView payload, std::int64_t chunkSize);

// The diagnostic line for one of the first messages sent while live.
std::string describeMessage(std::int64_t index, const MessageHeader& header, ByteView payload, std::int64_t chunkSize);

}  // namespace ondaline::rtmp
