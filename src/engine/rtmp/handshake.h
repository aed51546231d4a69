#pragma once

// The RTMP simple handshake as bytes: C0+C1 out, S0+S1+S2 in, C2 out.

#include "base/bytes.h"

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace ondaline::rtmp {

inline constexpr std::size_t handshakeRandomBytes = 1528;
inline constexpr std::size_t c0c1Bytes = 1537;
inline constexpr std::size_t handshakeReplyBytes = 3073;  // S0, S1, S2
inline constexpr std::uint8_t rtmpVersion = 3;

// C0 (version 3) and C1: the time, four zero bytes, then the random bytes.
Bytes makeC0C1(std::uint32_t unixTime, std::span<const std::uint8_t, handshakeRandomBytes> random);

struct HandshakeFailure {
    std::string message;  // for the user, as reportError takes it
};

// Checks the server's reply and builds C2 from S1: S1's time, our time now,
// then S1's random bytes. The length is checked before the version. S2 is
// not examined.
std::variant<Bytes, HandshakeFailure> answerHandshake(ByteView reply, std::uint32_t unixTimeNow);

}  // namespace ondaline::rtmp
