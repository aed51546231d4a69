#pragma once

// Payloads of the messages a publisher sends: the AMF0 commands and the
// protocol control messages. Chunk streams, type ids and stream ids are the
// caller's (see the table in the engine's command senders).

#include "base/bytes.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace ondaline::rtmp {

// Message type ids.
inline constexpr std::uint8_t setChunkSizeType = 1;
inline constexpr std::uint8_t abortType = 2;
inline constexpr std::uint8_t acknowledgementType = 3;
inline constexpr std::uint8_t userControlType = 4;
inline constexpr std::uint8_t windowAckSizeType = 5;
inline constexpr std::uint8_t setPeerBandwidthType = 6;
inline constexpr std::uint8_t audioType = 8;
inline constexpr std::uint8_t videoType = 9;
inline constexpr std::uint8_t dataAMF0Type = 18;
inline constexpr std::uint8_t commandAMF0Type = 20;

// Chunk streams the client writes on.
inline constexpr std::uint8_t controlChunkStream = 2;
inline constexpr std::uint8_t commandChunkStream = 3;
inline constexpr std::uint8_t audioChunkStream = 4;
inline constexpr std::uint8_t videoChunkStream = 6;
inline constexpr std::uint8_t publishChunkStream = 8;

inline constexpr std::string_view flashVersion = "FMLE/3.0 (compatible; Ondaline)";

// Each AMF0 command is absent when a text does not fit an AMF0 string
// (over 65535 UTF-8 bytes).
std::optional<Bytes> connectCommand(double transactionID, std::string_view app, std::string_view tcUrl);
std::optional<Bytes> streamKeyCommand(std::string_view name, double transactionID, std::string_view streamKey);
Bytes createStreamCommand(double transactionID);
std::optional<Bytes> publishCommand(std::string_view streamKey);
Bytes deleteStreamCommand(double transactionID, std::uint32_t streamID);

Bytes uint32Payload(std::uint32_t value);  // Set Chunk Size, Acknowledgement, Window Acknowledgement Size
Bytes pingResponsePayload(std::uint32_t timestamp);

}  // namespace ondaline::rtmp
