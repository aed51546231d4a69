#include "platform/audio/audio_output.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

using Clock = std::chrono::steady_clock;

// The null output's pace: how much audio its tap hands over per second of
// wall time (1.0 is real time), over two seconds.
void BM_NullOutputPace(benchmark::State& state)
{
    constexpr int blocks = 87;  // about two seconds
    for (auto _ : state) {
        std::mutex mutex;
        std::condition_variable done;
        int tapped = 0;
        Clock::time_point first, last;
        ondaline::platform::AudioOutput output(
            [](float* left, float* right, std::size_t frames) {
                std::fill(left, left + frames, 0.0f);
                std::fill(right, right + frames, 0.0f);
            },
            [&](const ondaline::platform::AudioBlock&) {
                std::lock_guard lock(mutex);
                if (tapped == 0) first = Clock::now();
                if (++tapped == blocks + 1) {
                    last = Clock::now();
                    done.notify_all();
                }
            },
            {.useSoundServer = false});
        std::string error;
        output.start(error);
        {
            std::unique_lock lock(mutex);
            done.wait(lock, [&] { return tapped > blocks; });
        }
        output.stop();
        const double audio = blocks * double(ondaline::platform::AudioOutput::blockFrames) /
                             ondaline::platform::AudioOutput::sampleRate;
        const double wall = std::chrono::duration<double>(last - first).count();
        state.counters["audio_per_wall_second"] = audio / wall;
        state.SetIterationTime(wall);
    }
}
BENCHMARK(BM_NullOutputPace)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
