#include "platform/audio/audio_file_reader.h"
#include "support/run_folder.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// Decoding a FLAC track of 30 s at 48 kHz stereo to the player's 44.1 kHz
// stereo planes, 1024 frames at a time, as the player's output pulls them.
void BM_DecodeFlacTrack(benchmark::State& state)
{
    const auto file = ondaline::test::runFile("track.flac");
    const std::string make = "ffmpeg -v error -y -f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=30' "
                             "-ac 2 -c:a flac " +
                             file;
    if (std::system(make.c_str()) != 0) {
        state.SkipWithError("ffmpeg could not make the track");
        return;
    }
    std::vector<float> left(1024), right(1024);
    double seconds = 0;
    for (auto _ : state) {
        std::string error;
        auto reader = ondaline::platform::AudioFileReader::open(file, error);
        std::size_t frames = 0;
        while (const auto n = reader->read(left.data(), right.data(), left.size())) frames += n;
        seconds += double(frames) / 44100;
    }
    state.counters["audio_seconds_per_second"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}
BENCHMARK(BM_DecodeFlacTrack)->Unit(benchmark::kMillisecond);

}  // namespace
