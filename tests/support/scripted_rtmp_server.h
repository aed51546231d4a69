#pragma once

// The server side of an RTMP conversation, written out step by step in a
// test so that the server can be odd or hostile. Runs on a TCPPeer's thread
// with blocking reads; parses what the client sends with the engine's own
// chunk reader (itself tested against byte vectors).

#include "base/amf0_value.h"
#include "base/bytes.h"
#include "engine/rtmp/chunk_reader.h"
#include "engine/rtmp/chunk_writer.h"

#include <optional>
#include <string>
#include <vector>

namespace ondaline::test {

class ScriptedRTMPServer {
public:
    explicit ScriptedRTMPServer(int socket) : socket_(socket) {}

    // Reads C0+C1, answers S0 (the given version), S1 and S2, reads C2.
    bool handshake(std::uint8_t version = 3);

    // The next whole message from the client; absent on close or after 10 s.
    std::optional<rtmp::Message> nextMessage();

    // Reads messages until the command `name` arrives; its values.
    std::optional<std::vector<AMF0Value>> waitForCommand(const std::string& name);

    // Reads messages until one of `typeID` arrives.
    std::optional<rtmp::Message> waitForType(std::uint8_t typeID);

    void send(const rtmp::MessageHeader& header, const Bytes& payload);
    void sendRaw(const Bytes& bytes);
    void setOutChunkSize(std::int64_t size) { outChunkSize_ = size; }

    // AMF0 command messages of a server.
    void sendResult(double transactionID, const AMF0Value& third = AMF0Value::null());
    void sendError(double transactionID, std::optional<std::string> description);
    void sendStatus(const std::string& code, std::uint32_t streamID = 1);

    // The usual way up to publishing: handshake, connect, createStream,
    // publish, "NetStream.Publish.Start". False when the client stops early.
    bool acceptPublish();

    // Reads and drops whatever comes until the client closes.
    void readUntilClosed();

    // Every byte counted since the handshake.
    std::uint64_t bytesReceived() const { return bytesReceived_; }

private:
    bool readMore();

    int socket_;
    rtmp::ChunkReader reader_;
    std::vector<rtmp::Message> pending_;
    std::int64_t outChunkSize_ = 128;
    std::uint64_t bytesReceived_ = 0;
};

Bytes amf0Payload(const std::vector<AMF0Value>& values);

}  // namespace ondaline::test
