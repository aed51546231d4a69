#include "engine/rtmp/handshake.h"

namespace ondaline::rtmp {

Bytes makeC0C1(std::uint32_t unixTime, std::span<const std::uint8_t, handshakeRandomBytes> random)
{
    Bytes out;
    out.reserve(c0c1Bytes);
    appendUInt8(out, rtmpVersion);
    appendUInt32BE(out, unixTime);
    appendUInt32BE(out, 0);
    appendBytes(out, random);
    return out;
}

std::variant<Bytes, HandshakeFailure> answerHandshake(ByteView reply, std::uint32_t unixTimeNow)
{
    if (reply.size() < handshakeReplyBytes) return HandshakeFailure{"Incomplete handshake response"};
    if (reply[0] != rtmpVersion) return HandshakeFailure{"Unsupported RTMP version: " + std::to_string(reply[0])};
    const ByteView s1 = reply.subspan(1, 1536);
    Bytes c2;
    c2.reserve(1536);
    appendBytes(c2, s1.first(4));
    appendUInt32BE(c2, unixTimeNow);
    appendBytes(c2, s1.subspan(8));
    return c2;
}

}  // namespace ondaline::rtmp
