#pragma once

// The FLV video tags of an RTMP stream: the AVC sequence header and coded
// frames.

#include "base/bytes.h"

#include <optional>

namespace ondaline::media {

// The AVC decoder configuration record for one SPS and one PPS (4-byte NAL
// lengths). Absent when the SPS has no profile bytes or a set is too long
// for its 16-bit length.
std::optional<Bytes> avcDecoderConfigurationRecord(ByteView sps, ByteView pps);

// 0x17 (key) or 0x27, the AVC packet type (0 sequence header, 1 NAL units),
// a zero composition time, then the data.
Bytes videoTagBody(bool keyFrame, std::uint8_t packetType, ByteView data);

}  // namespace ondaline::media
