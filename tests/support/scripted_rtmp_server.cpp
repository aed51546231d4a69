#include "support/scripted_rtmp_server.h"

#include "base/amf0_writer.h"
#include "engine/rtmp/commands.h"
#include "engine/rtmp/replies.h"
#include "support/tcp_peer.h"

#include <poll.h>
#include <unistd.h>

namespace ondaline::test {

namespace {

void appendValue(Bytes& out, const AMF0Value& value)
{
    switch (value.kind()) {
    case AMF0Value::Kind::number:
        appendAMF0Number(out, *value.numberValue());
        break;
    case AMF0Value::Kind::string:
        appendAMF0String(out, *value.stringValue());
        break;
    case AMF0Value::Kind::boolean:
        appendAMF0Boolean(out, value == AMF0Value::boolean(true));
        break;
    case AMF0Value::Kind::null:
        appendAMF0Null(out);
        break;
    case AMF0Value::Kind::object:
        appendAMF0ObjectStart(out);
        for (const auto& [key, inner] : *value.objectValue()) {
            appendUInt16BE(out, static_cast<std::uint16_t>(key.size()));
            appendText(out, key);
            appendValue(out, inner);
        }
        appendAMF0ObjectEnd(out);
        break;
    case AMF0Value::Kind::unknown:
        appendUInt8(out, 0x06);
        break;
    }
}

}  // namespace

Bytes amf0Payload(const std::vector<AMF0Value>& values)
{
    Bytes out;
    for (const auto& value : values) appendValue(out, value);
    return out;
}

bool ScriptedRTMPServer::handshake(std::uint8_t version)
{
    const Bytes c0c1 = TCPPeer::readExactly(socket_, 1537);
    if (c0c1.size() != 1537) return false;
    Bytes reply{version};
    Bytes s1(1536, 0x11), s2(1536, 0x22);
    reply.insert(reply.end(), s1.begin(), s1.end());
    reply.insert(reply.end(), s2.begin(), s2.end());
    if (!TCPPeer::writeAll(socket_, reply)) return false;
    return TCPPeer::readExactly(socket_, 1536).size() == 1536;
}

bool ScriptedRTMPServer::readMore()
{
    pollfd waiting{socket_, POLLIN, 0};
    if (poll(&waiting, 1, 10000) != 1) return false;
    std::uint8_t buffer[65536];
    const ssize_t n = read(socket_, buffer, sizeof buffer);
    if (n <= 0) return false;
    bytesReceived_ += static_cast<std::size_t>(n);
    reader_.append(ByteView(buffer, static_cast<std::size_t>(n)));
    const auto error = reader_.process([this](rtmp::Message&& message) {
        if (message.typeID == rtmp::setChunkSizeType && message.data.size() >= 4) {
            reader_.setInChunkSize(*readUInt32BE(message.data, 0) & 0x7FFFFFFF);
        }
        pending_.push_back(std::move(message));
        return true;
    });
    return !error;
}

std::optional<rtmp::Message> ScriptedRTMPServer::nextMessage()
{
    while (pending_.empty()) {
        if (!readMore()) return std::nullopt;
    }
    rtmp::Message message = std::move(pending_.front());
    pending_.erase(pending_.begin());
    return message;
}

std::optional<std::vector<AMF0Value>> ScriptedRTMPServer::waitForCommand(const std::string& name)
{
    while (auto message = nextMessage()) {
        if (message->typeID != rtmp::commandAMF0Type) continue;
        auto values = rtmp::decodeCommand(message->data);
        if (rtmp::commandName(values) == name) return values;
    }
    return std::nullopt;
}

std::optional<rtmp::Message> ScriptedRTMPServer::waitForType(std::uint8_t typeID)
{
    while (auto message = nextMessage()) {
        if (message->typeID == typeID) return message;
    }
    return std::nullopt;
}

void ScriptedRTMPServer::send(const rtmp::MessageHeader& header, const Bytes& payload)
{
    sendRaw(*rtmp::serializeMessage(header, payload, outChunkSize_));
}

void ScriptedRTMPServer::sendRaw(const Bytes& bytes) { TCPPeer::writeAll(socket_, bytes); }

void ScriptedRTMPServer::sendResult(double transactionID, const AMF0Value& third)
{
    send({rtmp::commandAMF0Type, 0, 3, 0},
         amf0Payload({AMF0Value::string("_result"), AMF0Value::number(transactionID), AMF0Value::null(), third}));
}

void ScriptedRTMPServer::sendError(double transactionID, std::optional<std::string> description)
{
    AMF0Value::Object info{{"level", AMF0Value::string("error")},
                           {"code", AMF0Value::string("NetConnection.Call.Failed")}};
    if (description) info.insert_or_assign("description", AMF0Value::string(*description));
    send({rtmp::commandAMF0Type, 0, 3, 0}, amf0Payload({AMF0Value::string("_error"), AMF0Value::number(transactionID),
                                                        AMF0Value::null(), AMF0Value::object(info)}));
}

void ScriptedRTMPServer::sendStatus(const std::string& code, std::uint32_t streamID)
{
    send({rtmp::commandAMF0Type, streamID, 5, 0},
         amf0Payload({AMF0Value::string("onStatus"), AMF0Value::number(0), AMF0Value::null(),
                      AMF0Value::object({{"level", AMF0Value::string("status")}, {"code", AMF0Value::string(code)}})}));
}

void ScriptedRTMPServer::readUntilClosed() { TCPPeer::readToEnd(socket_); }

bool ScriptedRTMPServer::acceptPublish()
{
    if (!handshake() || !waitForCommand("connect")) return false;
    sendResult(1, AMF0Value::object({{"code", AMF0Value::string("NetConnection.Connect.Success")}}));
    const auto createStream = waitForCommand("createStream");
    if (!createStream) return false;
    sendResult(*(*createStream)[1].numberValue(), AMF0Value::number(1));
    if (!waitForCommand("publish")) return false;
    sendStatus("NetStream.Publish.Start");
    return true;
}

}  // namespace ondaline::test
