#include "sources/spectrum_analyzer.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

// One analysis step: a whole 4096-sample frame of music-like content.
void BM_SpectrumAnalysisStep(benchmark::State& state)
{
    std::vector<float> frame(4096);
    for (std::size_t n = 0; n < frame.size(); ++n) frame[n] = float(0.3 * std::sin(0.05 * n) + 0.1 * std::sin(0.9 * n));
    ondaline::sources::SpectrumAnalyzer analyzer(40);
    for (auto _ : state) {
        analyzer.process(frame.data(), frame.size());
        benchmark::DoNotOptimize(analyzer.levels.data());
    }
}
BENCHMARK(BM_SpectrumAnalysisStep);

// The player's pace: 1024-frame blocks, one analysis every fourth.
void BM_SpectrumPlayerBlock(benchmark::State& state)
{
    std::vector<float> block(1024, 0.25f);
    ondaline::sources::SpectrumAnalyzer analyzer(40);
    for (auto _ : state) {
        analyzer.process(block.data(), block.size());
        benchmark::DoNotOptimize(analyzer.levels.data());
    }
}
BENCHMARK(BM_SpectrumPlayerBlock);

}  // namespace
