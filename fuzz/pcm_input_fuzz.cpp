// What a sender writes to the TCP audio input: the 12-byte handshake, then,
// when it is acceptable, interleaved float32 frames cut into reads of
// varying sizes, each read's whole frames measured for the meters. One byte
// between the two is no part of the stream: it chooses the read sizes.

#include "fuzz_check.h"
#include "fuzz_input.h"
#include "sources/pcm_frame_assembler.h"
#include "sources/pcm_levels.h"
#include "sources/pcm_wire_format.h"

#include <algorithm>
#include <bit>
#include <cmath>

using namespace ondaline;
using namespace ondaline::sources;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // The server reads exactly 12 bytes, or drops a sender that sends fewer.
    if (size < PCMHandshake::size) return 0;
    const ByteView input(data, size);
    const PCMHandshake handshake = PCMHandshake::read(input.first(PCMHandshake::size));
    FUZZ_CHECK(handshake.sampleRate == readUInt32LE(input, 0) && handshake.channels == readUInt32LE(input, 4) &&
               handshake.format == readUInt32LE(input, 8));
    if (!handshake.isAcceptable()) return 0;
    FUZZ_CHECK(handshake.channels >= 1 && handshake.channels <= PCMHandshake::maxChannels);

    PCMFrameAssembler assembler(handshake.channels);
    FUZZ_CHECK(assembler.channels() == handshake.channels);
    if (size == PCMHandshake::size) return 0;
    fuzz::PieceSizes pieces(data[PCMHandshake::size]);
    const ByteView stream = input.subspan(PCMHandshake::size + 1);
    std::size_t fed = 0, samples = 0;
    while (fed < stream.size()) {
        const std::size_t piece = std::min(pieces.next(), stream.size() - fed);
        const std::span<const float> frames = assembler.append(stream.subspan(fed, piece));
        fed += piece;

        // Whole frames only, nothing lost or invented, every sample finite.
        FUZZ_CHECK(frames.size() % handshake.channels == 0);
        FUZZ_CHECK(assembler.pendingBytes() < handshake.bytesPerFrame());
        samples += frames.size();
        FUZZ_CHECK(samples * 4 + assembler.pendingBytes() == fed);
        for (std::size_t i = 0; i < frames.size(); ++i) {
            FUZZ_CHECK(std::isfinite(frames[i]));
            // A sample is the bytes as sent, unless those are no finite number.
            std::uint32_t bits = 0;
            for (int k = 3; k >= 0; --k) bits = bits << 8 | stream[(samples - frames.size() + i) * 4 + k];
            const float sent = std::bit_cast<float>(bits);
            FUZZ_CHECK(std::bit_cast<std::uint32_t>(frames[i]) == (std::isfinite(sent) ? bits : 0u));
        }

        const auto levels = measureLevels(frames, handshake.channels);
        FUZZ_CHECK(levels.has_value() == (frames.size() > handshake.channels));
        if (levels) {
            // The meters show these: never below 0, always finite.
            FUZZ_CHECK(levels->left >= 0 && levels->right >= 0);
            FUZZ_CHECK(std::isfinite(levels->left) && std::isfinite(levels->right));
        }
    }
    return 0;
}
