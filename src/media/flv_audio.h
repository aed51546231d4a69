#pragma once

// The FLV audio tags and the onMetaData message of an RTMP stream.

#include "base/bytes.h"

#include <cstdint>

namespace ondaline::media {

inline constexpr std::uint8_t flvAACTag = 0xAF;  // AAC, 44 kHz, 16-bit, stereo: always, whatever the format
inline constexpr std::uint8_t aacSequenceHeader = 0x00;
inline constexpr std::uint8_t aacRawPacket = 0x01;

Bytes aacSequenceHeaderBody(ByteView audioSpecificConfig);
Bytes aacPacketBody(ByteView packet);

// "@setDataFrame", "onMetaData" and the ECMA array of the 15 properties.
Bytes onMetaDataBody(std::int64_t audioBitrate, double sampleRate, std::uint32_t channels);

}  // namespace ondaline::media
