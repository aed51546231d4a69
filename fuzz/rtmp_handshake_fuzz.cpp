// The server's S0+S1+S2 as the engine hands them to the handshake: the
// bytes that arrived (the engine reads exactly 3073, or none when the peer
// closed first). The answer is C2, or the failure the user is shown.

#include "engine/rtmp/handshake.h"
#include "fuzz_check.h"

#include <algorithm>

using namespace ondaline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const ByteView reply(data, size);
    constexpr std::uint32_t now = 0x5F5E1000;
    const auto answer = rtmp::answerHandshake(reply, now);

    if (const auto* failure = std::get_if<rtmp::HandshakeFailure>(&answer)) {
        FUZZ_CHECK(!failure->message.empty());
        FUZZ_CHECK(size < rtmp::handshakeReplyBytes || data[0] != rtmp::rtmpVersion);
        return 0;
    }
    FUZZ_CHECK(size >= rtmp::handshakeReplyBytes && data[0] == rtmp::rtmpVersion);
    // C2 echoes S1 with our time in place of its second field.
    const Bytes& c2 = std::get<Bytes>(answer);
    FUZZ_CHECK(c2.size() == 1536);
    const ByteView s1 = reply.subspan(1, 1536);
    FUZZ_CHECK(std::equal(c2.begin(), c2.begin() + 4, s1.begin()));
    FUZZ_CHECK(readUInt32BE(c2, 4) == now);
    FUZZ_CHECK(std::equal(c2.begin() + 8, c2.end(), s1.begin() + 8));
    return 0;
}
