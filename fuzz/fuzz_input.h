#pragma once

// Views and cuts of the raw fuzz input.

#include "base/bytes.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace ondaline::fuzz {

inline std::string_view asText(ByteView bytes) { return {reinterpret_cast<const char*>(bytes.data()), bytes.size()}; }

// The input cut at its 0xFF bytes (a byte UTF-8 never has, so text parts
// stay free to hold anything else) into at most `count` parts, the last
// keeping the rest. Never empty: an input without 0xFF is one part.
std::vector<ByteView> splitAtFF(ByteView bytes, std::size_t count);

// Piece sizes for feeding a stream in reads the way a socket may deliver
// it, drawn from `seed`: its low two bits choose the largest piece (1, 7, 64
// or 4096 bytes), the rest seeds the sizes.
class PieceSizes {
public:
    explicit PieceSizes(std::uint8_t seed);
    std::size_t next();

private:
    std::size_t largest_;
    std::uint32_t state_;
};

}  // namespace ondaline::fuzz
