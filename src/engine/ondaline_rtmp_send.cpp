// The chunk writer's entry points and the client's commands and control
// messages. Every message is serialised whole, queued, then flushed.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/chunk_writer.h"
#include "engine/rtmp/commands.h"

namespace ondaline {

void Ondaline::sendMessage(std::uint8_t typeID, std::uint32_t streamID, std::uint8_t csID, ByteView data,
                           std::uint32_t timestamp)
{
    const rtmp::MessageHeader header{typeID, streamID, csID, timestamp};
    const std::int64_t chunkSize = rtmp_.outChunkSize.load();
    if (state() == StreamState::publishing) {
        // The first ten messages of a live stream are logged.
        std::int64_t index = rtmp_.messagesSentSincePublish.load();
        while (index < 10 && !rtmp_.messagesSentSincePublish.compare_exchange_weak(index, index + 1)) {
        }
        if (index < 10) print(rtmp::describeMessage(index, header, data, chunkSize));
    }
    if (const auto chunks = rtmp::serializeMessage(header, data, chunkSize)) sendRaw(*chunks);
}

void Ondaline::sendMediaMessage(std::uint8_t typeID, std::uint8_t csID, ByteView data, std::uint32_t timestamp)
{
    // Each track's timestamps never run backwards.
    std::uint32_t& last = typeID == rtmp::audioType ? media_.lastAudioTimestamp : media_.lastVideoTimestamp;
    last = std::max(timestamp, last);
    sendMessage(typeID, rtmp_.publishStreamID.load(), csID, data, last);
    flushSendQueue();
}

void Ondaline::sendCommand(std::optional<Bytes> payload, std::uint8_t csID, std::uint32_t streamID)
{
    if (!payload) return;  // a text too long for AMF0; refused before connecting
    sendMessage(rtmp::commandAMF0Type, streamID, csID, *payload);
    flushSendQueue();
}

void Ondaline::sendSetChunkSize(std::int64_t size)
{
    sendMessage(rtmp::setChunkSizeType, 0, rtmp::controlChunkStream,
                rtmp::uint32Payload(static_cast<std::uint32_t>(size)));
    flushSendQueue();
    print("Ondaline: Set outgoing chunk size: " + std::to_string(rtmp_.outChunkSize.load()) + " → " +
          std::to_string(size));
    rtmp_.outChunkSize = size;  // only after the peer has been told
}

void Ondaline::sendConnect()
{
    const std::string tcUrl = config().serverURL;
    sendCommand(rtmp::connectCommand(rtmp_.nextTransactionID++, serverFields().serverApp, tcUrl));
}

void Ondaline::sendReleaseStream()
{
    sendCommand(rtmp::streamKeyCommand("releaseStream", rtmp_.nextTransactionID++, config().streamKey));
}

void Ondaline::sendFCPublish()
{
    sendCommand(rtmp::streamKeyCommand("FCPublish", rtmp_.nextTransactionID++, config().streamKey));
}

void Ondaline::sendCreateStream()
{
    rtmp_.createStreamTxID = rtmp_.nextTransactionID;
    sendCommand(rtmp::createStreamCommand(rtmp_.nextTransactionID++));
}

void Ondaline::sendPublish()
{
    sendCommand(rtmp::publishCommand(config().streamKey), rtmp::publishChunkStream, rtmp_.publishStreamID.load());
}

void Ondaline::sendFCUnpublish()
{
    sendCommand(rtmp::streamKeyCommand("FCUnpublish", rtmp_.nextTransactionID++, config().streamKey));
}

void Ondaline::sendDeleteStream()
{
    sendCommand(rtmp::deleteStreamCommand(rtmp_.nextTransactionID++, rtmp_.publishStreamID.load()));
}

void Ondaline::sendWindowAckSize(std::uint32_t size)
{
    health_.announcedWindowAckSize = size;  // the server acknowledges once per this many bytes
    sendMessage(rtmp::windowAckSizeType, 0, rtmp::controlChunkStream, rtmp::uint32Payload(size));
    flushSendQueue();
}

void Ondaline::sendAcknowledgement(std::uint32_t sequence)
{
    sendMessage(rtmp::acknowledgementType, 0, rtmp::controlChunkStream, rtmp::uint32Payload(sequence));
    flushSendQueue();
}

void Ondaline::sendPingResponse(std::uint32_t timestamp)
{
    sendMessage(rtmp::userControlType, 0, rtmp::controlChunkStream, rtmp::pingResponsePayload(timestamp));
    flushSendQueue();
    print("Ondaline: Sent Ping Response (ts=" + std::to_string(timestamp) + ")");
}

}  // namespace ondaline
