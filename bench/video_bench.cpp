#include "media/frame_renderer.h"
#include "platform/codec/h264_encoder.h"
#include "support/run_folder.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <memory>

using namespace ondaline;

namespace {

// A 1920 × 1080 background with some structure, written once.
std::string backgroundFile()
{
    static const std::string path = [] {
        const auto file = test::runFile("background.ppm");
        std::ofstream out(file, std::ios::binary);
        out << "P6\n1920 1080\n255\n";
        for (int y = 0; y < 1080; ++y) {
            for (int x = 0; x < 1920; ++x) out.put(char(x / 8)).put(char(y / 5)).put(char((x + y) / 12));
        }
        return file;
    }();
    return path;
}

media::OverlayInputs busyInputs(const std::string& crawlerFile)
{
    media::OverlayInputs in;
    in.songText = "Radio Ondes\nLate Night Jazz — Live at the Blue Room";
    in.nowPlaying.showBackground = true;
    in.visualization.enabled = true;
    in.crawler.enabled = true;
    in.levels = std::vector<float>(40, 0.6f);
    (void)crawlerFile;
    return in;
}

std::string crawlerFile()
{
    const auto file = test::runFile("crawler.txt");
    std::ofstream(file) << "Station news\nWeather: sunny, 24 degrees\nNext: the morning show\n";
    return file;
}

// A renderer with its background and crawler text loaded.
std::unique_ptr<media::FrameRenderer> busyRenderer()
{
    auto renderer = std::make_unique<media::FrameRenderer>(1280, 720);
    renderer->loadBackground(backgroundFile());
    renderer->pollCrawlerFile(crawlerFile(), 0);
    return renderer;
}

// One frame with everything on: background, text block, bars, crawler.
void BM_RenderFrameWithBarsAndCrawler(benchmark::State& state)
{
    const auto renderer = busyRenderer();
    const auto inputs = busyInputs(crawlerFile());
    for (auto _ : state) benchmark::DoNotOptimize(renderer->render(inputs));
}
BENCHMARK(BM_RenderFrameWithBarsAndCrawler)->Unit(benchmark::kMillisecond);

// The whole video tick: render, BGRA to I420, H.264 encode.
void BM_VideoTick(benchmark::State& state)
{
    const auto renderer = busyRenderer();
    const auto inputs = busyInputs(crawlerFile());
    auto created = platform::H264Encoder::create({});
    auto& encoder = std::get<std::unique_ptr<platform::H264Encoder>>(created);
    std::int64_t n = 0;
    for (auto _ : state) {
        const auto frame = renderer->render(inputs);
        benchmark::DoNotOptimize(encoder->encode(*frame, n, n % 48 == 0));
        ++n;
    }
}
BENCHMARK(BM_VideoTick)->Unit(benchmark::kMillisecond);

}  // namespace
