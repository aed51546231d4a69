#pragma once

// Cuts the server's byte stream into chunks and reassembles the messages of
// every chunk stream. Bytes are appended as they arrive; process() consumes
// whole chunks only and hands each complete message over at once, so a Set
// Chunk Size applied by the receiver takes effect for the very next chunk.
//
// What a server may send a publisher is bounded: a message over
// maxMessageBytes, more than maxChunkStreams chunk streams, or a chunk stream
// id beyond 65535 is a protocol error.

#include "base/bytes.h"
#include "base/engine_types.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace ondaline::rtmp {

struct Message {
    std::uint8_t typeID;
    std::uint32_t streamID;
    Bytes data;
    std::uint32_t timestamp = 0;  // as its last header carried it
};

class ChunkReader {
public:
    static constexpr std::size_t maxMessageBytes = 1024 * 1024;
    static constexpr std::size_t maxChunkStreams = 32;

    void append(ByteView bytes) { appendBytes(readBuffer_, bytes); }

    // Returns false to stop parsing (the connection is being dropped).
    using Receiver = std::function<bool(Message&&)>;

    // Parses as far as whole chunks are buffered. Absent, or the protocol
    // error that ends this connection.
    std::optional<std::string> process(const Receiver& receive);

    std::int64_t inChunkSize() const { return inChunkSize_; }
    void setInChunkSize(std::int64_t size) { inChunkSize_ = size; }

    // A new connection: empty buffer, no chunk streams, chunk size 128.
    void reset();

    std::size_t bufferedBytes() const { return readBuffer_.size(); }
    const ChunkStreamMap& chunkStreams() const { return chunkStreams_; }

private:
    Bytes readBuffer_;
    ChunkStreamMap chunkStreams_;
    std::int64_t inChunkSize_ = 128;
    std::uint64_t resets_ = 0;  // lets process() notice a reset made by its receiver
};

}  // namespace ondaline::rtmp
