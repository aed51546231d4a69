#include "platform/codec/h264_encoder.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace {

// The video tick of a still picture with no moving overlay: the same
// 1280 × 720 BGRA frame encoded at every tick, either converted to I420 each
// time or once and then reused, as the engine does for a picture that did
// not change. Process CPU time, so libx264's slice threads count too.
void BM_StillTick(benchmark::State& state, bool reuseConversion)
{
    std::vector<std::uint8_t> picture(std::size_t(1280) * 720 * 4);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>((i / 4) % 1280 / 5 + i % 4 * 40);
    auto created = ondaline::platform::H264Encoder::create({});
    auto& encoder = std::get<std::unique_ptr<ondaline::platform::H264Encoder>>(created);
    std::int64_t n = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(encoder->encode(picture, n, n % 48 == 0, reuseConversion && n > 0));
        ++n;
    }
}
BENCHMARK_CAPTURE(BM_StillTick, convert_every_tick, false)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StillTick, convert_once, true)
    ->MeasureProcessCPUTime()
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace
