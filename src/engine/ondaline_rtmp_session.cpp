// The RTMP conversation on the wire: handshake, negotiation time limit and
// the read loop.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/handshake.h"
#include "platform/random_bytes.h"

#include <array>
#include <chrono>

namespace ondaline {

namespace {

// A server that accepts the connection and then never completes the
// handshake or the publish sequence would otherwise hold the engine for ever.
constexpr auto negotiationLimit = std::chrono::seconds(15);

std::uint32_t unixTimeNow()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<seconds>(system_clock::now().time_since_epoch()).count());
}

}  // namespace

void Ondaline::beginHandshake()
{
    startNegotiationTimer(currentAttempt().epoch);
    std::array<std::uint8_t, rtmp::handshakeRandomBytes> random{};
    (void)platform::randomBytes(random);  // on failure the bytes stay zero and the handshake goes on
    sendImmediate(rtmp::makeC0C1(unixTimeNow(), random));
    receiveExact(rtmp::handshakeReplyBytes, [weakSelf = weak_from_this()](std::optional<Bytes> reply) {
        if (const auto self = weakSelf.lock()) self->answerHandshake(std::move(reply));
    });
}

void Ondaline::answerHandshake(std::optional<Bytes> reply)
{
    const auto answer = rtmp::answerHandshake(reply ? ByteView(*reply) : ByteView(), unixTimeNow());
    if (const auto* failure = std::get_if<rtmp::HandshakeFailure>(&answer)) {
        reportError(failure->message);
        return;
    }
    sendImmediate(std::get<Bytes>(answer));
    print("Ondaline: Handshake complete");
    setState(StreamState::negotiating);
    sendSetChunkSize(4096);
    sendConnect();
    startReading();
}

void Ondaline::startNegotiationTimer(std::uint64_t epoch)
{
    negotiationTimer_.scheduleAfter(negotiationLimit, [weakSelf = weak_from_this(), epoch] {
        const auto self = weakSelf.lock();
        if (!self || !self->isCurrentAttempt(epoch)) return;
        const StreamState current = self->state();
        if (current == StreamState::handshaking || current == StreamState::negotiating) {
            self->reportError("RTMP negotiation timed out");
        }
    });
}

void Ondaline::startReading()
{
    receiveAvailable([weakSelf = weak_from_this()](std::optional<Bytes> bytes) {
        const auto self = weakSelf.lock();
        if (!self) return;
        if (!bytes) {
            const StreamState current = self->state();
            if (current != StreamState::idle && current != StreamState::disconnecting) {
                self->reportError("Connection closed by server");
            }
            return;
        }
        self->rtmp_.totalBytesReceived += bytes->size();
        self->chunkReader_.append(*bytes);
        if (self->rtmp_.totalBytesReceived - self->rtmp_.lastAckSent >= self->rtmp_.windowAckSize) {
            self->sendAcknowledgement(static_cast<std::uint32_t>(self->rtmp_.totalBytesReceived));
            self->rtmp_.lastAckSent = self->rtmp_.totalBytesReceived;
        }
        self->processReadBuffer();
        const StreamState current = self->state();
        if (current != StreamState::idle && current != StreamState::error && current != StreamState::disconnecting) {
            self->startReading();
        }
    });
}

void Ondaline::processReadBuffer()
{
    const auto error = chunkReader_.process([this](rtmp::Message&& message) {
        return handleMessage(message.typeID, message.streamID, message.data);
    });
    if (error) reportError("RTMP protocol error: " + *error);
}

}  // namespace ondaline
