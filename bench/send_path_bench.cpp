#include "engine/rtmp/chunk_writer.h"
#include "engine/send_queue.h"

#include <benchmark/benchmark.h>

using namespace ondaline;

namespace {

// One media message through the chunk writer into the send queue, and the
// flush's hand-over of the batch (the socket write itself is not counted).
void sendOne(benchmark::State& state, std::uint8_t typeID, std::uint8_t csID)
{
    const Bytes payload(static_cast<std::size_t>(state.range(0)), 0xA5);
    SendQueue queue;
    std::uint32_t timestamp = 0;
    for (auto _ : state) {
        const auto chunks = rtmp::serializeMessage({typeID, 1, csID, timestamp += 23}, payload, 4096);
        queue.append(*chunks);
        auto batch = queue.take();
        queue.batchFinished(batch->bytes.size(), batch->generation);
        benchmark::DoNotOptimize(batch);
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_SendAudioMessage(benchmark::State& state) { sendOne(state, 8, 4); }
BENCHMARK(BM_SendAudioMessage)->Arg(1024);

void BM_SendVideoMessage(benchmark::State& state) { sendOne(state, 9, 6); }
BENCHMARK(BM_SendVideoMessage)->Arg(64 * 1024);

}  // namespace
