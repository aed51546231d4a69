#include "sources/pcm_frame_assembler.h"
#include "sources/pcm_levels.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstring>
#include <vector>

namespace {

// What the TCP input does with each received block before the engine: whole
// frames out of the byte stream (finite samples only), then the meters.
// Reads of 16384 bytes, and reads torn in the middle of a frame.
void BM_TCPInputBlock(benchmark::State& state)
{
    const auto readBytes = static_cast<std::size_t>(state.range(0));
    std::vector<float> samples(readBytes / 4 + 2);
    for (std::size_t n = 0; n < samples.size(); ++n) samples[n] = float(0.25 * std::sin(0.06 * double(n)));
    std::vector<std::uint8_t> bytes(readBytes);
    std::memcpy(bytes.data(), samples.data(), readBytes);
    ondaline::sources::PCMFrameAssembler assembler(2);
    for (auto _ : state) {
        const auto frames = assembler.append(bytes);
        benchmark::DoNotOptimize(ondaline::sources::measureLevels(frames, 2));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * readBytes));
}
BENCHMARK(BM_TCPInputBlock)->Arg(16384)->Arg(16381);

}  // namespace
