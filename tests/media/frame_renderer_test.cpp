#include "media/frame_renderer.h"
#include "support/needs.h"
#include "support/run_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

using namespace ondaline;
using namespace ondaline::media;
namespace fs = std::filesystem;

namespace {

constexpr int W = 1280, H = 720;

struct Pixel {
    int b, g, r, a;
};

// The pixel at (x, y) in the bottom-left drawing space.
Pixel at(const FrameRenderer::Frame& frame, int x, int y)
{
    const std::size_t i = (static_cast<std::size_t>(H - 1 - y) * W + x) * 4;
    return {(*frame)[i], (*frame)[i + 1], (*frame)[i + 2], (*frame)[i + 3]};
}

std::string writePPM(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    const std::string path = test::runFile("background-" + std::to_string(width) + ".ppm");
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << width << " " << height << "\n255\n";
    for (int i = 0; i < width * height; ++i) out.put(char(r)).put(char(g)).put(char(b));
    return path;
}

}  // namespace

TEST(FrameRenderer, BlackFrameThenAStretchedSolidBackground)
{
    FrameRenderer renderer(W, H);
    auto frame = renderer.render({});
    ASSERT_EQ(frame->size(), std::size_t(W) * H * 4);
    EXPECT_EQ(at(frame, 640, 360).a, 255);
    EXPECT_EQ(at(frame, 640, 360).r, 0);

    EXPECT_FALSE(renderer.loadBackground("/nonexistent/image.png"));
    const std::string wide = writePPM(1920, 1080, 200, 40, 10);
    ASSERT_TRUE(renderer.loadBackground(wide));
    frame = renderer.render({});
    for (const auto& [x, y] : {std::pair{0, 0}, std::pair{1279, 719}, std::pair{640, 360}}) {
        const Pixel p = at(frame, x, y);
        EXPECT_EQ(p.r, 200);
        EXPECT_EQ(p.g, 40);
        EXPECT_EQ(p.b, 10);
        EXPECT_EQ(p.a, 255);
    }
    const std::string square = writePPM(300, 300, 0, 0, 255);
    ASSERT_TRUE(renderer.loadBackground(square));
    EXPECT_EQ(at(renderer.render({}), 1279, 0).b, 255);  // stretched to the corners
    renderer.clearBackground();
    EXPECT_EQ(at(renderer.render({}), 640, 360).b, 0);
    fs::remove(wide);
    fs::remove(square);
}

TEST(FrameRenderer, TextBlockSitsOnItsBaselineOverItsBackground)
{
    FrameRenderer renderer(W, H);
    OverlayInputs in;
    in.nowPlaying.showBackground = true;
    in.nowPlaying.bgColorR = 1;
    in.nowPlaying.bgAlpha = 1;
    in.nowPlaying.fontSize = 40;
    in.songText = "";
    EXPECT_EQ(at(renderer.render(in), 10, 10).r, 0);  // no text, no block

    in.songText = "MMMMMMMM";
    const auto frame = renderer.render(in);
    EXPECT_EQ(at(frame, 10, 10).r, 255);  // the block, bottom left
    EXPECT_EQ(at(frame, 10, 60).r, 0);    // above the block's 50 pixels
    // White glyphs between the baseline (38) and the cap height, right of textX.
    int white = 0;
    for (int x = 290; x < 500; ++x) {
        for (int y = 40; y < 60; ++y) white += at(frame, x, y).g > 200 ? 1 : 0;
    }
    EXPECT_GT(white, 100);
    int belowBaseline = 0;
    for (int x = 290; x < 500; ++x) belowBaseline += at(frame, x, 30).g > 200 ? 1 : 0;
    EXPECT_EQ(belowBaseline, 0);  // M has no descender

    in.nowPlaying.fontSize = std::nan("");
    in.nowPlaying.textX = 2000;
    in.nowPlaying.bgY = -500;
    EXPECT_NO_THROW(renderer.render(in));
}

TEST(FrameRenderer, BarsAreDrawnWhereTheGeometrySays)
{
    FrameRenderer renderer(W, H);
    OverlayInputs in;
    in.visualization.enabled = true;
    in.visualization.opacity = 1;
    in.levels = std::vector<float>(40, 0.0f);
    in.levels[0] = 1.0f;
    const auto frame = renderer.render(in);
    // Bar 0, segment 0: (40, 100) to (64.8, 123.17), the bottom colour.
    const Pixel bottom = at(frame, 52, 111);
    EXPECT_EQ(bottom.r, 0);
    EXPECT_EQ(bottom.g, 102);
    EXPECT_EQ(bottom.b, 255);
    // Its top segment is the top colour; bar 1 is dark.
    EXPECT_EQ(at(frame, 52, 390).r, 255);
    EXPECT_EQ(at(frame, 78, 111).b, 0);
}

TEST(FrameRenderer, CrawlerReadsItsFileAndScrolls)
{
    const std::string path = test::runFile("crawler.txt");
    std::ofstream(path) << "Hello\n\n   \nWorld\n";
    FrameRenderer renderer(W, H);
    renderer.pollCrawlerFile(path, 100);
    EXPECT_EQ(renderer.crawlerText(), "Hello \u25C6 World");

    OverlayInputs in;
    in.crawler.enabled = true;
    in.crawler.barAlpha = 1;
    in.crawler.barColorB = 1;
    auto frame = renderer.render(in);
    EXPECT_EQ(at(frame, 5, 45).b, 255);  // the bar
    const auto first = renderer.crawlerScroll();
    EXPECT_GT(first.crawlerTextWidth, 50);
    EXPECT_EQ(first.crawlerScrollOffset, 2);
    renderer.render(in);
    EXPECT_EQ(renderer.crawlerScroll().crawlerScrollOffset, 4);

    std::ofstream(path) << "Changed\n";
    renderer.pollCrawlerFile(path, 105);  // within 10 s: not read
    EXPECT_EQ(renderer.crawlerText(), "Hello \u25C6 World");
    renderer.pollCrawlerFile(path, 110);
    EXPECT_EQ(renderer.crawlerText(), "Changed");
    EXPECT_EQ(renderer.crawlerScroll().crawlerScrollOffset, 0);

    std::ofstream(path, std::ios::binary) << "\xff\xfe broken";
    renderer.pollCrawlerFile(path, 120);
    EXPECT_EQ(renderer.crawlerText(), "");
    fs::remove(path);
    renderer.pollCrawlerFile(path, 130);
    EXPECT_EQ(renderer.crawlerText(), "");
    in.crawler.fontSize = -3;
    EXPECT_NO_THROW(renderer.render(in));

    // Another user's link in its place is not followed, and with the rights
    // of those who may change the settings, what only we may read is not
    // read: either way nothing of it is drawn.
    ONDALINE_NEEDS(::geteuid() == 0, "giving a link to another user needs root");
    const std::string secret = test::runFile("secret.txt");
    std::ofstream(secret) << "Root only";
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    fs::create_symlink(secret, path);
    ASSERT_EQ(::lchown(path.c_str(), 65534, 65534), 0);
    renderer.pollCrawlerFile(path, 140);
    EXPECT_EQ(renderer.crawlerText(), "");
    renderer.setNamedFileRules({.readAs = platform::FileReader{}, .folder = {}});
    renderer.pollCrawlerFile(secret, 150);
    EXPECT_EQ(renderer.crawlerText(), "");
    renderer.setNamedFileRules({});
    renderer.pollCrawlerFile(secret, 160);
    EXPECT_EQ(renderer.crawlerText(), "Root only");
    fs::remove(path);
    fs::remove(secret);
}
