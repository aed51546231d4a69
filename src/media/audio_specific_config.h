#pragma once

#include "base/bytes.h"

#include <cstdint>
#include <optional>

namespace ondaline::media {

// The two-byte AudioSpecificConfig of AAC LC for a rate and channel count:
// the rate's index in the MPEG-4 table (the first within 1 Hz; 44100 Hz
// when none is), channel configuration min(channels, 7).
Bytes buildAudioSpecificConfig(double sampleRate, std::uint32_t channels);

// The decoder-specific information inside an MPEG-4 elementary-stream
// descriptor (a "magic cookie"); absent when there is none of at least two
// bytes. Never reads past the end.
std::optional<Bytes> extractASCFromMagicCookie(ByteView cookie);

}  // namespace ondaline::media
