#include "app/source_callbacks.h"

#include "platform/text.h"

#include <algorithm>
#include <cmath>

namespace ondaline::app {

float meterTarget(float level) { return 20.0f * std::log10(std::max(level, 1.0e-10f)) + 18.0f; }

bool MeterReportFilter::pass(float left, float right, Clock::time_point now)
{
    // 0.1 dB is a ratio of 1.0116.
    const auto apart = [](float a, float b) { return !(std::abs(a - b) <= 0.0116f * std::max(a, b)); };
    if (!reset_.exchange(false) && !apart(left, left_) && !apart(right, right_) && now - passed_ < keepAlive)
        return false;
    left_ = left;
    right_ = right;
    passed_ = now;
    return true;
}

std::string trackName(std::string_view fileName)
{
    const std::size_t componentStart = fileName.rfind('/') == std::string_view::npos ? 0 : fileName.rfind('/') + 1;
    const std::size_t dot = fileName.rfind('.');
    if (dot == std::string_view::npos || dot <= componentStart) return platform::withControlsShown(fileName);
    return platform::withControlsShown(fileName.substr(0, dot));
}

TCPStatusLook tcpStatusLook(std::string_view status)
{
    const std::string lower = platform::asciiLowercase(status);
    const auto has = [&](std::string_view word) { return lower.find(word) != std::string::npos; };
    if (has("connected") || has("receiving")) return {true, "Connected to TCP Input", 0.4};
    if (has("disconnect") || has("lost")) return {false, "Connecting to source…", 0.25};
    const std::string shown = "TCP: " + std::string(status);
    // The input says this once its sender has gone: nothing feeds it any more.
    if (status.starts_with("Waiting for connection on port ")) return {false, shown, 0.25};
    return {std::nullopt, shown, std::nullopt};
}

}  // namespace ondaline::app
