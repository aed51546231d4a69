// Frames drawn and converted only where they changed, against the whole
// frame drawn by drawOverlays and converted whole.

#include "media/frame_renderer.h"
#include "media/overlay_drawing.h"
#include "platform/codec/frame_converter.h"
#include "platform/graphics/canvas.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

using namespace ondaline;
using namespace ondaline::media;
using platform::FrameConverter;
using platform::RowRange;
namespace fs = std::filesystem;

namespace {

constexpr int W = 1280, H = 720;

// I420 planes of a W × H picture, padded as libavcodec pads them.
struct I420 {
    static constexpr int lumaStride = W + 64, chromaStride = W / 2 + 32;
    std::vector<std::uint8_t> y = std::vector<std::uint8_t>(std::size_t(lumaStride) * H),
                              u = std::vector<std::uint8_t>(std::size_t(chromaStride) * H / 2),
                              v = std::vector<std::uint8_t>(std::size_t(chromaStride) * H / 2);
    FrameConverter::Planes planes()
    {
        return {{y.data(), u.data(), v.data()}, {lumaStride, chromaStride, chromaStride}};
    }
    // The picture's bytes, the padding left out.
    bool samePicture(const I420& o) const
    {
        for (int row = 0; row < H; ++row) {
            if (std::memcmp(&y[std::size_t(row) * lumaStride], &o.y[std::size_t(row) * lumaStride], W)) return false;
        }
        for (int row = 0; row < H / 2; ++row) {
            const std::size_t at = std::size_t(row) * chromaStride;
            if (std::memcmp(&u[at], &o.u[at], W / 2) || std::memcmp(&v[at], &o.v[at], W / 2)) return false;
        }
        return true;
    }
};

std::string writeGradient()
{
    const std::string path = test::runFile("partial-redraw.ppm");
    std::ofstream out(path, std::ios::binary);
    out << "P6\n1920 1080\n255\n";
    for (int y = 0; y < 1080; ++y) {
        for (int x = 0; x < 1920; ++x) out.put(char(x / 8)).put(char(y / 5)).put(char((x * 7 + y * 3) % 251));
    }
    return path;
}

}  // namespace

// Over many ticks of moving bars, a scrolling and wrapping crawler, a new
// crawler text, song changes and a song block lying across both, every frame
// equals the whole scene drawn afresh; the rows said to have changed hold every
// changed byte; and the converter brought up to date in those rows gives what
// converting the frame whole gives, also across a frame left out (as a
// frame dropped under back-pressure is).
TEST(PartialRedraw, EveryTickMatchesTheWholeFrameDrawnAndConverted)
{
    const std::string crawlerFile = test::runFile("partial-crawler.txt");
    std::ofstream(crawlerFile) << "Station news\nWeather: sunny\n";
    const std::string background = writeGradient();
    FrameRenderer renderer(W, H);
    ASSERT_TRUE(renderer.loadBackground(background));
    const auto picture = platform::Picture::load(background, W, H);
    renderer.pollCrawlerFile(crawlerFile, 0);

    OverlayInputs in;
    in.songText = "Radio Ondes\nLate Night Jazz";
    in.nowPlaying.showBackground = true;
    in.nowPlaying.bgY = 20;  // across the crawler's bar and the bars' lower segments
    in.nowPlaying.bgHeight = 150;
    in.nowPlaying.bgAlpha = 0.6;
    in.nowPlaying.textY = 60;
    in.visualization.enabled = true;
    in.visualization.opacity = 0.8;
    in.crawler.enabled = true;
    in.crawler.speed = 37.3;  // wraps within the run
    in.crawler.barY = 30.5;
    in.crawler.barAlpha = 0.7;
    in.crawler.uppercase = true;

    auto converter = FrameConverter::create(W, H);
    ASSERT_TRUE(converter);
    I420 updated, whole;
    std::mt19937 random(7);
    std::uniform_real_distribution<float> level(0, 1.2f);
    in.levels.assign(40, 0.5f);
    FrameRenderer::Frame previous;
    Bytes previousAsHandedOut;  // a frame given to the encoder is never drawn into again
    int partial = 0, unchanged = 0;
    for (int tick = 0; tick < 120; ++tick) {
        if (tick % 9 != 4 && tick % 13 != 7) {  // the bars stand still now and then, and after a frame left out
            for (auto& l : in.levels) l = level(random);
        }
        if (tick == 40) in.songText = "Radio Ondes\nMorning Show — News";
        if (tick == 70) {
            std::ofstream(crawlerFile) << "Breaking: a new text\n";
            renderer.pollCrawlerFile(crawlerFile, 100);
        }
        if (tick >= 100) in.crawler.enabled = false;  // the last ticks: only the bars move, then nothing
        if (tick >= 110) in.visualization.sensitivity = 0;
        if (tick >= 111) in.levels.assign(40, 0.9f);

        const CrawlerScroll scroll = renderer.crawlerScroll();
        const std::string crawlerText = renderer.crawlerText();
        const auto frame = renderer.render(in);
        ASSERT_TRUE(!previous || *previous == previousAsHandedOut) << "tick " << tick << ": an earlier frame changed";
        std::optional<CrawlerRun> run;
        if (in.crawler.enabled) {
            const double x1 = in.crawler.barX + in.crawler.barWidth - scroll.crawlerScrollOffset;
            run = CrawlerRun{platform::toUpperUnicode(crawlerText + std::string(crawlerSeparator)),
                             {x1, x1 - renderer.crawlerScroll().crawlerTextWidth}};
        }
        platform::Canvas canvas(W, H);
        drawOverlays(canvas, {.picture = picture.get(),
                              .songText = in.songText,
                              .nowPlaying = in.nowPlaying,
                              .visualization = in.visualization,
                              .levels = in.levels,
                              .crawler = in.crawler,
                              .crawlerRun = run ? &*run : nullptr});
        ASSERT_TRUE(canvas.finish() == *frame) << "tick " << tick;

        if (tick % 13 == 6) continue;  // not converted
        const auto rows = previous ? renderer.changedRows(previous, frame) : std::nullopt;
        if (rows) {
            ++(rows->empty() ? unchanged : partial);
            for (int row = 0; row < H; ++row) {
                if (std::ranges::any_of(*rows, [row](const RowRange& r) { return row >= r.first && row < r.end; }))
                    continue;
                ASSERT_EQ(std::memcmp(frame->data() + std::size_t(row) * W * 4,
                                      previous->data() + std::size_t(row) * W * 4, W * 4),
                          0)
                    << "tick " << tick << ": row " << row << " changed outside the rows given";
            }
            converter->update(frame->data(), *rows, updated.planes());
        } else {
            converter->convert(frame->data(), updated.planes());
        }
        converter->convert(frame->data(), whole.planes());
        ASSERT_TRUE(updated.samePicture(whole)) << "tick " << tick;
        previous = frame;
        previousAsHandedOut = *frame;
    }
    EXPECT_GT(partial, 80);
    EXPECT_GT(unchanged, 5);
    fs::remove(crawlerFile);
    fs::remove(background);
}

// Noise changed in exactly the rows given (odd and even bounds, a single row,
// the picture's first and last rows, neighbours, most of the picture): the
// update reaches as far as the conversion's filters do.
TEST(PartialRedraw, ConverterUpdatesEqualWholeConversionsOfNoise)
{
    auto converter = FrameConverter::create(W, H);
    ASSERT_TRUE(converter);
    std::mt19937 random(11);
    std::vector<std::uint8_t> picture(std::size_t(W) * H * 4);
    for (auto& b : picture) b = static_cast<std::uint8_t>(random());
    I420 updated, whole;
    converter->convert(picture.data(), updated.planes());
    const std::vector<std::vector<RowRange>> changes = {
        {{301, 302}},         {{0, 1}},     {{719, 720}},          {{100, 163}, {170, 171}},
        {{37, 38}, {38, 45}}, {{0, 64}},    {{656, 720}},          {{200, 201}, {261, 262}, {500, 577}},
        {{3, 700}},           {{640, 641}}, {{57, 58}, {121, 122}}};
    for (std::size_t n = 0; n < 200; ++n) {
        std::vector<RowRange> rows = n < changes.size() ? changes[n] : std::vector<RowRange>{};
        if (rows.empty()) {
            for (int k = 1 + int(random() % 3); k > 0; --k) {
                const int first = int(random() % H);
                rows.push_back({first, std::min(H, first + 1 + int(random() % 90))});
            }
        }
        for (const auto& r : rows) {
            for (std::size_t i = std::size_t(r.first) * W * 4; i < std::size_t(r.end) * W * 4; ++i)
                picture[i] = static_cast<std::uint8_t>(random());
        }
        converter->update(picture.data(), rows, updated.planes());
        converter->convert(picture.data(), whole.planes());
        ASSERT_TRUE(updated.samePicture(whole)) << "change " << n << " from row " << rows[0].first;
    }
}
