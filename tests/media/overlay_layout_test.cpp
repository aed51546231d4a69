#include "media/overlay_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace ondaline;
using namespace ondaline::media;

TEST(NowPlayingLayout, LastLineOnTextYOthersStackedAbove)
{
    NowPlayingConfig config;  // fontSize 24, textY 38, textX 290
    auto lines = nowPlayingLines("X\nY\nZ", config);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_DOUBLE_EQ(lines[0].baseline, 38 + 2 * 31.2);
    EXPECT_DOUBLE_EQ(lines[1].baseline, 38 + 31.2);
    EXPECT_DOUBLE_EQ(lines[2].baseline, 38);
    EXPECT_EQ(lines[2].x, 290);

    config.showPrefix = true;
    lines = nowPlayingLines("X\nY\nZ", config);
    EXPECT_EQ(lines[0].text, "Now Playing: X");
    EXPECT_EQ(lines[1].text, "Y");

    config.showPrefix = false;
    lines = nowPlayingLines("Song\n", config);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].text, "");
    EXPECT_DOUBLE_EQ(lines[1].baseline, 38);
    EXPECT_DOUBLE_EQ(lines[0].baseline, 38 + 31.2);
    EXPECT_TRUE(nowPlayingLines("", config).empty());
}

TEST(SpectrumBars, DefaultGeometry)
{
    const VisualizationConfig config;  // 15 bars, 12 segments, gap 2, at (40, 100), 400 × 300
    const std::vector<float> full(15, 1.0f);
    const auto segments = spectrumBarSegments(full, config);
    ASSERT_EQ(segments.size(), 15u * 12);
    EXPECT_DOUBLE_EQ(segments[0].width, 24.8);
    EXPECT_NEAR(segments[0].height, 278.0 / 12, 1e-12);
    const auto& last = segments.back();
    EXPECT_NEAR(last.x + last.width, 440.0, 1e-9);
    EXPECT_NEAR(last.y + last.height, 400.0, 1e-9);
    EXPECT_EQ(segments[0].colour, (RGBA{0, 0.4, 1, 0.8}));  // bottom colour
    EXPECT_EQ(segments[11].colour, (RGBA{1, 1, 1, 0.8}));   // top colour
    EXPECT_NEAR(segments[1].colour.r, 1.0 / 11, 1e-12);     // a fraction j/11 of the way
}

TEST(SpectrumBars, LitSegmentsRoundHalvesUp)
{
    EXPECT_EQ(litSegments(0.5f, 1.5f, 12), 9);
    EXPECT_EQ(litSegments(0.04f, 1.5f, 12), 1);
    EXPECT_EQ(litSegments(0.3f, 1.5f, 12), 5);
    EXPECT_EQ(litSegments(0.0f, 1.5f, 12), 0);
    EXPECT_EQ(litSegments(0.64f, 1.5f, 12), 12);
    EXPECT_EQ(litSegments(-0.5f, 1.5f, 12), 0);
    EXPECT_EQ(litSegments(std::numeric_limits<float>::quiet_NaN(), 1.5f, 12), 12);

    VisualizationConfig twenty;
    twenty.barCount = 20;
    const auto segments = spectrumBarSegments(std::vector<float>(15, 1.0f), twenty);
    EXPECT_EQ(segments.size(), 15u * 12);  // bars 15 to 19 stay dark

    VisualizationConfig one;
    one.segmentCount = 1;
    EXPECT_EQ(spectrumBarSegments(std::vector<float>{1.0f}, one)[0].colour, (RGBA{0, 0.4, 1, 0.8}));

    VisualizationConfig none;
    none.barCount = 0;
    EXPECT_TRUE(spectrumBarSegments(std::vector<float>(15, 1.0f), none).empty());
    none = {};
    none.width = 20;  // no room for 15 bars with their gaps
    EXPECT_TRUE(spectrumBarSegments(std::vector<float>(15, 1.0f), none).empty());

    // Counts from a hostile settings file: bounded by the picture's pixels,
    // never a stalled frame or an out-of-range conversion.
    EXPECT_EQ(litSegments(1.0f, 1.0f, std::numeric_limits<std::int64_t>::max()), maxSpectrumSegments);
    VisualizationConfig huge;
    huge.barCount = huge.segmentCount = std::numeric_limits<std::int64_t>::max();
    huge.width = huge.height = 1e15;
    huge.segmentGap = 0;
    const auto capped = spectrumBarSegments(std::vector<float>(2, 1.0f), huge);
    EXPECT_EQ(capped.size(), 2u * static_cast<std::size_t>(maxSpectrumSegments));
}

TEST(CrawlerText, NonBlankLinesJoinedWithTheDiamond)
{
    EXPECT_EQ(crawlerTextFromFile("Hello\n\n   \nWorld\n"), "Hello \u25C6 World");
    EXPECT_EQ(crawlerTextFromFile("  Hi  \n"), "  Hi  ");
    EXPECT_EQ(crawlerTextFromFile("A\r\nB"), "A \u25C6 B");
    EXPECT_EQ(crawlerTextFromFile("One\u2028Two\u2029\u3000\nThree"), "One \u25C6 Two \u25C6 Three");
    EXPECT_EQ(crawlerTextFromFile("\t \n"), "");
    EXPECT_EQ(crawlerTextFromFile(""), "");
}

TEST(CrawlerScroll, AdvancesBySpeedAndWrapsAtTheMeasuredWidth)
{
    CrawlerScroll scroll;
    EXPECT_TRUE(scroll.needsMeasuring(false));
    scroll.crawlerTextWidth = 500;
    std::vector<double> offsets;
    for (int i = 0; i < 252; ++i) {
        offsets.push_back(scroll.crawlerScrollOffset);
        scroll.advance(2);
    }
    EXPECT_EQ(offsets[249], 498);
    EXPECT_EQ(offsets[250], 0);  // 500 wrapped
    EXPECT_EQ(offsets[251], 2);

    EXPECT_FALSE(scroll.needsMeasuring(false));
    EXPECT_TRUE(scroll.needsMeasuring(true));  // upper case: measure again, keep the offset
    EXPECT_EQ(scroll.crawlerScrollOffset, 4);
    scroll.restart();
    EXPECT_EQ(scroll.crawlerScrollOffset, 0);
    EXPECT_EQ(scroll.crawlerTextWidth, 0);
}
