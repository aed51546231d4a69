#pragma once

// Where loud sound starts in a stream of AAC packets, as a decoder hears it:
// each packet is decoded with libavcodec, and a packet is an onset when one
// of its samples (any channel) goes past the threshold while nothing in the
// packet before did.

#include "base/bytes.h"

#include <cstddef>
#include <vector>

namespace ondaline::bench {

struct Onset {
    std::size_t packet;  // index into the packets given
    int sample;          // the first loud sample within that packet's decoded frame
};

// `asc` is the AudioSpecificConfig for raw packets; empty when each packet
// is a whole ADTS frame. Throws std::runtime_error when nothing decodes.
std::vector<Onset> findOnsets(const std::vector<Bytes>& packets, const Bytes& asc, float threshold);

}  // namespace ondaline::bench
