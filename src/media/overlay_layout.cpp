#include "media/overlay_layout.h"

#include <algorithm>

#include <cmath>

namespace ondaline::media {

namespace {

// The code point at `i` and its length in bytes; {0xFFFD, 1} for a bad byte.
std::pair<char32_t, std::size_t> codePointAt(std::string_view text, std::size_t i)
{
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t length = b < 0x80 ? 1 : b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 0;
    if (length == 0 || i + length > text.size()) return {0xFFFD, 1};
    char32_t c = length == 1 ? b : b & (0xFF >> (length + 1));
    for (std::size_t k = 1; k < length; ++k) c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    return {c, length};
}

bool isLineBreak(char32_t c)
{
    return c == '\n' || c == '\r' || c == 0x0B || c == 0x0C || c == 0x85 || c == 0x2028 || c == 0x2029;
}

bool isSpace(char32_t c)
{
    return c == ' ' || c == '\t' || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

}  // namespace

std::vector<TextLine> nowPlayingLines(std::string_view songText, const NowPlayingConfig& config)
{
    std::vector<TextLine> lines;
    if (songText.empty()) return lines;
    std::string text = (config.showPrefix ? "Now Playing: " : "") + std::string(songText);
    std::size_t start = 0;
    for (;;) {
        const auto end = text.find('\n', start);
        lines.push_back({text.substr(start, end - start), config.textX, 0});
        if (end == std::string::npos) break;
        start = end + 1;
    }
    const double lineHeight = config.fontSize * 1.3;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        lines[i].baseline = config.textY + lineHeight * static_cast<double>(lines.size() - 1 - i);
    }
    return lines;
}

std::int64_t litSegments(float level, float sensitivity, std::int64_t segments)
{
    segments = std::clamp<std::int64_t>(segments, 0, maxSpectrumSegments);
    const float product = level * sensitivity;
    const float v = product < 1.0f ? product : 1.0f;  // NaN fails the test: a full bar
    const float k = v * static_cast<float>(segments) + 0.5f;
    return k > 0 ? static_cast<std::int64_t>(k) : 0;
}

std::vector<FilledRect> spectrumBarSegments(std::span<const float> levels, const VisualizationConfig& config)
{
    std::vector<FilledRect> segments;
    // Counts come from the settings file: more bars than the picture has
    // pixel columns, or segments than rows, cannot be seen, and a huge count
    // would stall every frame.
    const std::int64_t n = std::min<std::int64_t>(config.barCount, maxSpectrumBars);
    const std::int64_t m = std::min<std::int64_t>(config.segmentCount, maxSpectrumSegments);
    if (n <= 0 || m <= 0) return segments;
    const double barWidth = (config.width - static_cast<double>(n - 1) * 2.0) / static_cast<double>(n);
    const double segmentHeight = (config.height - static_cast<double>(m - 1) * config.segmentGap) /
                                 static_cast<double>(m);
    if (!(barWidth > 0) || !(segmentHeight > 0)) return segments;
    const auto sensitivity = static_cast<float>(config.sensitivity);
    for (std::int64_t i = 0; i < n; ++i) {
        const float level = static_cast<std::size_t>(i) < levels.size() ? levels[static_cast<std::size_t>(i)] : 0.0f;
        const std::int64_t lit = std::min(litSegments(level, sensitivity, m), m);
        const double x = config.posX + static_cast<double>(i) * (barWidth + 2.0);
        for (std::int64_t j = 0; j < lit; ++j) {
            const double t = static_cast<double>(j) / static_cast<double>(std::max<std::int64_t>(m - 1, 1));
            segments.push_back({x,
                                config.posY + static_cast<double>(j) * (segmentHeight + config.segmentGap),
                                barWidth,
                                segmentHeight,
                                {config.colorBottomR + t * (config.colorTopR - config.colorBottomR),
                                 config.colorBottomG + t * (config.colorTopG - config.colorBottomG),
                                 config.colorBottomB + t * (config.colorTopB - config.colorBottomB), config.opacity}});
        }
    }
    return segments;
}

std::string crawlerTextFromFile(std::string_view utf8)
{
    std::string joined;
    std::size_t lineStart = 0, i = 0;
    auto takeLine = [&](std::size_t end) {
        const std::string_view line = utf8.substr(lineStart, end - lineStart);
        bool blank = true;
        for (std::size_t k = 0; k < line.size() && blank;) {
            const auto [c, length] = codePointAt(line, k);
            blank = isSpace(c);
            k += length;
        }
        if (!blank) {
            if (!joined.empty()) joined += crawlerSeparator;
            joined += line;
        }
    };
    while (i < utf8.size()) {
        const auto [c, length] = codePointAt(utf8, i);
        if (isLineBreak(c)) {
            takeLine(i);
            lineStart = i + length;
        }
        i += length;
    }
    takeLine(utf8.size());
    return joined;
}

bool CrawlerScroll::needsMeasuring(bool uppercase)
{
    if (uppercase != crawlerLastUppercase) {
        crawlerTextWidth = 0;
        crawlerLastUppercase = uppercase;
    }
    return crawlerTextWidth <= 0;
}

void CrawlerScroll::advance(double speed)
{
    crawlerScrollOffset += speed;
    if (crawlerScrollOffset >= crawlerTextWidth) crawlerScrollOffset -= crawlerTextWidth;
}

void CrawlerScroll::restart()
{
    crawlerScrollOffset = 0;
    crawlerTextWidth = 0;
}

}  // namespace ondaline::media
