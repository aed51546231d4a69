// Every complete message from the server comes through here: protocol
// control and User Control are answered at once, commands go on to the
// reply handling, the rest is only logged.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/commands.h"

namespace ondaline {

// Returns false when the message ends this connection (a protocol error).
bool Ondaline::handleMessage(std::uint8_t typeID, std::uint32_t, const Bytes& data)
{
    switch (typeID) {
    case rtmp::setChunkSizeType: {
        const auto field = readUInt32BE(data, 0);
        if (!field) return true;
        const std::int64_t size = *field & 0x7FFFFFFF;
        if (size == 0) {
            reportError("RTMP protocol error: server set chunk size 0");
            return false;
        }
        chunkReader_.setInChunkSize(size);
        print("Ondaline: Server set chunk size = " + std::to_string(size));
        return true;
    }
    case rtmp::acknowledgementType:
        handleServerAck(data);
        return true;
    case rtmp::userControlType:
        handleUserControl(data);
        return true;
    case rtmp::windowAckSizeType: {
        const auto value = readUInt32BE(data, 0);
        if (!value) return true;
        rtmp_.windowAckSize = *value;
        print("Ondaline: Window ack size = " + std::to_string(*value));
        sendWindowAckSize(*value);
        return true;
    }
    case rtmp::setPeerBandwidthType: {
        const auto value = readUInt32BE(data, 0);
        if (!value) return true;
        print("Ondaline: Peer bandwidth = " + std::to_string(*value));
        sendWindowAckSize(*value);
        return true;
    }
    case rtmp::commandAMF0Type:
        handleAMF0Command(data);
        return true;
    default:
        print("Ondaline: Unhandled msg type=0x" + hexBytes(ByteView(&typeID, 1)) +
              " len=" + std::to_string(data.size()));
        return true;
    }
}

void Ondaline::handleUserControl(const Bytes& data)
{
    const auto event = readUInt16BE(data, 0);
    if (!event) return;
    switch (*event) {
    case 0:
        print("Ondaline: User Control: Stream Begin");
        break;
    case 1: {
        print("Ondaline: ⚠ User Control: Stream EOF — server ended our stream");
        if (state() != StreamState::publishing) break;
        const StreamMode mode = streamMode();
        if (mode == StreamMode::youtube || mode == StreamMode::facebook || mode == StreamMode::kick) {
            const char* service = mode == StreamMode::youtube ? "YouTube"
                                  : mode == StreamMode::kick  ? "Kick"
                                                              : "Facebook";
            print(std::string("Ondaline: ℹ ") + service +
                  " Stream EOF ignored — server sends this while stream is in standby, not a true disconnect");
        } else {
            triggerHealthReconnect("Server sent Stream EOF");
        }
        break;
    }
    case 2:
        print("Ondaline: ⚠ User Control: Stream Dry — server buffer empty");
        break;
    case 6:
        if (const auto value = readUInt32BE(data, 2)) {
            print("Ondaline: Received Ping Request (ts=" + std::to_string(*value) + ")");
            sendPingResponse(*value);
        }
        break;
    case 7:
        if (const auto value = readUInt32BE(data, 2)) handlePongResponse(*value);
        break;
    case 31:
        print("Ondaline: User Control: Buffer Ready");
        break;
    default:
        print("Ondaline: User Control: event=" + std::to_string(*event) + " len=" + std::to_string(data.size()));
        break;
    }
}

}  // namespace ondaline
