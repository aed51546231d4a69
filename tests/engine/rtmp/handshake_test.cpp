#include "engine/rtmp/handshake.h"

#include <gtest/gtest.h>

using namespace ondaline;
using namespace ondaline::rtmp;

TEST(Handshake, C0C1IsVersionTimeZerosAndTheRandomBytes)
{
    std::array<std::uint8_t, handshakeRandomBytes> random;
    for (std::size_t i = 0; i < random.size(); ++i) random[i] = static_cast<std::uint8_t>(i * 7);
    const Bytes c0c1 = makeC0C1(0x5F5E1000, random);
    ASSERT_EQ(c0c1.size(), 1537u);
    EXPECT_EQ(Bytes(c0c1.begin(), c0c1.begin() + 9), (Bytes{0x03, 0x5F, 0x5E, 0x10, 0x00, 0, 0, 0, 0}));
    EXPECT_TRUE(std::equal(random.begin(), random.end(), c0c1.begin() + 9));
}

TEST(Handshake, C2EchoesS1WithOurTimeInBytes4To7)
{
    Bytes reply{0x03};
    for (int i = 0; i < 1536; ++i) reply.push_back(static_cast<std::uint8_t>(i));        // S1
    for (int i = 0; i < 1536; ++i) reply.push_back(static_cast<std::uint8_t>(255 - i));  // S2: not examined
    const auto answer = answerHandshake(reply, 0x01020304);
    ASSERT_TRUE(std::holds_alternative<Bytes>(answer));
    const Bytes& c2 = std::get<Bytes>(answer);
    ASSERT_EQ(c2.size(), 1536u);
    EXPECT_EQ(Bytes(c2.begin(), c2.begin() + 8), (Bytes{0, 1, 2, 3, 0x01, 0x02, 0x03, 0x04}));
    EXPECT_TRUE(std::equal(c2.begin() + 8, c2.end(), reply.begin() + 1 + 8));
}

TEST(Handshake, ShortRepliesFailBeforeTheVersionIsLookedAt)
{
    auto failure = [](const Bytes& reply) {
        const auto answer = answerHandshake(reply, 0);
        return std::holds_alternative<HandshakeFailure>(answer) ? std::get<HandshakeFailure>(answer).message : "";
    };
    EXPECT_EQ(failure(Bytes{}), "Incomplete handshake response");
    EXPECT_EQ(failure(Bytes(3072, 6)), "Incomplete handshake response");
    EXPECT_EQ(failure(Bytes(3073, 6)), "Unsupported RTMP version: 6");
    Bytes longer(4000, 0);
    longer[0] = 3;
    EXPECT_EQ(failure(longer), "");
}
