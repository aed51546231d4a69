#include "engine/rtmp/chunk_reader.h"

#include <algorithm>

namespace ondaline::rtmp {

namespace {
constexpr std::uint32_t extendedTimestampMark = 0xFFFFFF;
constexpr std::size_t messageHeaderLength[4] = {11, 7, 3, 0};
}  // namespace

void ChunkReader::reset()
{
    readBuffer_.clear();
    chunkStreams_.clear();
    inChunkSize_ = 128;
    ++resets_;
}

std::optional<std::string> ChunkReader::process(const Receiver& receive)
{
    const std::uint64_t resetsAtStart = resets_;
    std::size_t consumed = 0;  // whole chunks parsed; dropped from the buffer at the end
    auto finish = [&](std::optional<std::string> error) {
        if (resets_ == resetsAtStart)
            readBuffer_.erase(readBuffer_.begin(), readBuffer_.begin() + static_cast<std::ptrdiff_t>(consumed));
        return error;
    };

    for (;;) {
        const ByteView in = ByteView(readBuffer_).subspan(consumed);
        if (in.empty()) return finish(std::nullopt);

        // Basic header.
        const std::uint8_t fmt = in[0] >> 6;
        std::uint32_t id = in[0] & 0x3F;
        std::size_t b = 1;
        if (id == 0) {
            if (in.size() < 2) return finish(std::nullopt);
            id = in[1] + 64u;
            b = 2;
        } else if (id == 1) {
            if (in.size() < 3) return finish(std::nullopt);
            id = in[2] * 256u + in[1] + 64u;
            b = 3;
            if (id > 0xFFFF) return finish("chunk stream id " + std::to_string(id) + " is out of range");
        }
        const std::size_t m = messageHeaderLength[fmt];
        if (in.size() < b + m) return finish(std::nullopt);

        const auto key = static_cast<std::uint16_t>(id);
        auto found = chunkStreams_.find(key);
        if (found == chunkStreams_.end()) {
            if (chunkStreams_.size() >= maxChunkStreams) {
                return finish("more than " + std::to_string(maxChunkStreams) + " chunk streams");
            }
            found = chunkStreams_.emplace(key, ChunkStreamContext{}).first;
        }
        ChunkStreamContext& context = found->second;

        // Message header: read into locals; the context changes only once the
        // whole chunk is here.
        std::uint32_t timestamp = context.lastTimestamp;
        std::int64_t length = context.lastMessageLength;
        std::uint8_t typeID = context.lastMessageTypeID;
        std::uint32_t streamID = context.lastMessageStreamID;
        bool startsMessage;
        std::int64_t due;
        if (fmt <= 1) {
            timestamp = *readUInt24BE(in, b);
            length = *readUInt24BE(in, b + 3);
            typeID = in[b + 6];
            if (fmt == 0) streamID = *readUInt32LE(in, b + 7);
            startsMessage = true;
            due = length;
        } else {
            if (fmt == 2) timestamp = *readUInt24BE(in, b);
            startsMessage = context.remainingBytes == 0;
            due = startsMessage ? length : context.remainingBytes;
        }
        if (startsMessage && static_cast<std::uint64_t>(due) > maxMessageBytes) {
            return finish("message of " + std::to_string(due) + " bytes is over the " +
                          std::to_string(maxMessageBytes) + "-byte limit");
        }

        std::size_t e = 0;
        if (timestamp >= extendedTimestampMark) {
            const auto extended = readUInt32BE(in, b + m);
            if (!extended) return finish(std::nullopt);
            timestamp = *extended;
            e = 4;
        }
        const auto payload = static_cast<std::size_t>(std::min<std::int64_t>(due, inChunkSize_));
        if (in.size() < b + m + e + payload) return finish(std::nullopt);

        context.lastTimestamp = timestamp;
        context.lastMessageLength = length;
        context.lastMessageTypeID = typeID;
        context.lastMessageStreamID = streamID;
        if (startsMessage) context.accumulatedData.clear();
        appendBytes(context.accumulatedData, in.subspan(b + m + e, payload));
        context.remainingBytes = due - static_cast<std::int64_t>(payload);
        consumed += b + m + e + payload;

        if (context.remainingBytes == 0 && !context.accumulatedData.empty()) {
            Message message{typeID, streamID, std::move(context.accumulatedData), timestamp};
            context.accumulatedData = Bytes();
            const bool goOn = receive(std::move(message));
            if (resets_ != resetsAtStart) return std::nullopt;  // the receiver started a new connection
            if (!goOn) return finish(std::nullopt);
        }
    }
}

}  // namespace ondaline::rtmp
