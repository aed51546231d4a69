// The server's side of an RTMP connection after the handshake, fed to the
// chunk reader in reads of varying sizes. The first input byte chooses the
// sizes; the rest is the stream. Set Chunk Size is applied the way the
// engine applies it; a chunk size of 0 or a protocol error ends the
// connection and the rest of the input starts a new one on the same reader,
// as a reconnect does.

#include "engine/rtmp/chunk_reader.h"
#include "engine/rtmp/commands.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

#include <algorithm>

using namespace ondaline;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    fuzz::PieceSizes pieces(data[0]);
    const ByteView stream = ByteView(data, size).subspan(1);

    rtmp::ChunkReader reader;
    std::size_t fed = 0;            // of `stream`
    std::size_t fedSinceReset = 0;  // what the current connection has read
    std::size_t received = 0;       // payload bytes it has handed out
    bool resetByReceiver = false;
    const rtmp::ChunkReader::Receiver receive = [&](rtmp::Message&& message) {
        FUZZ_CHECK(!message.data.empty());
        FUZZ_CHECK(message.data.size() <= rtmp::ChunkReader::maxMessageBytes);
        received += message.data.size();
        if (message.typeID == rtmp::setChunkSizeType) {
            const auto field = readUInt32BE(message.data, 0);
            if (!field) return true;
            const std::int64_t chunkSize = *field & 0x7FFFFFFF;
            if (chunkSize == 0) {
                // The engine reports the error and may reconnect before
                // this call returns.
                reader.reset();
                resetByReceiver = true;
                return false;
            }
            reader.setInChunkSize(chunkSize);
        }
        return true;
    };

    while (fed < stream.size()) {
        const std::size_t piece = std::min(pieces.next(), stream.size() - fed);
        reader.append(stream.subspan(fed, piece));
        fed += piece;
        fedSinceReset += piece;
        const std::size_t bufferedBefore = reader.bufferedBytes();
        resetByReceiver = false;
        const auto error = reader.process(receive);
        FUZZ_CHECK(reader.chunkStreams().size() <= rtmp::ChunkReader::maxChunkStreams);
        if (resetByReceiver) {
            FUZZ_CHECK(!error);
            FUZZ_CHECK(reader.bufferedBytes() == 0 && reader.chunkStreams().empty() && reader.inChunkSize() == 128);
            received = fedSinceReset = 0;
            continue;
        }
        // Only whole chunks go; the payload handed out was in the buffer.
        FUZZ_CHECK(reader.bufferedBytes() <= bufferedBefore);
        FUZZ_CHECK(received <= fedSinceReset);
        for (const auto& [id, context] : reader.chunkStreams()) {
            FUZZ_CHECK(context.remainingBytes >= 0);
            FUZZ_CHECK(context.accumulatedData.size() <= rtmp::ChunkReader::maxMessageBytes);
        }
        if (error) {
            FUZZ_CHECK(!error->empty());
            reader.reset();
            received = fedSinceReset = 0;
            continue;
        }
        // It stopped at a chunk not yet whole: without more bytes nothing moves.
        const std::size_t left = reader.bufferedBytes();
        const std::size_t receivedBefore = received;
        FUZZ_CHECK(!reader.process(receive));
        FUZZ_CHECK(!resetByReceiver && received == receivedBefore && reader.bufferedBytes() == left);
    }
    return 0;
}
