#include "fuzz_input.h"

namespace ondaline::fuzz {

std::vector<ByteView> splitAtFF(ByteView bytes, std::size_t count)
{
    std::vector<ByteView> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size() && parts.size() + 1 < count; ++i) {
        if (bytes[i] != 0xFF) continue;
        parts.push_back(bytes.subspan(start, i - start));
        start = i + 1;
    }
    parts.push_back(bytes.subspan(start));
    return parts;
}

namespace {
constexpr std::size_t largestPiece[] = {1, 7, 64, 4096};
}

PieceSizes::PieceSizes(std::uint8_t seed) : largest_(largestPiece[seed & 3u]), state_(0x9E3779B9u ^ seed) {}

std::size_t PieceSizes::next()
{
    // xorshift32: deterministic for a given input, so a finding reproduces.
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return 1 + state_ % largest_;
}

}  // namespace ondaline::fuzz
