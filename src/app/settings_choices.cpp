#include "app/settings_choices.h"

#include <algorithm>
#include <charconv>

namespace ondaline::app {

namespace {

template <typename Items, typename Value>
int indexOf(const Items& items, const Value& value, int fallback)
{
    const auto found = std::find(items.begin(), items.end(), value);
    return found == items.end() ? fallback : static_cast<int>(found - items.begin());
}

template <typename Items>
bool inRange(const Items& items, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < items.size();
}

}  // namespace

int streamModeIndex(std::string_view streamMode) { return indexOf(kStreamModes, streamMode, 3); }

std::string streamModeAt(int index)
{
    return std::string(inRange(kStreamModes, index) ? kStreamModes[static_cast<std::size_t>(index)] : "rtmp");
}

int audioSourceIndex(std::string_view audioSource)
{
    // The stored "local" has no item of its own apart from the fallback.
    return indexOf(kAudioSources, audioSource, 0);
}

std::string audioSourceAt(int index)
{
    return std::string(inRange(kAudioSources, index) ? kAudioSources[static_cast<std::size_t>(index)] : "local");
}

int bitrateIndex(std::int64_t bitrate) { return indexOf(kBitrates, bitrate, 4); }

std::int64_t bitrateAt(int index)
{
    return inRange(kBitrates, index) ? kBitrates[static_cast<std::size_t>(index)] : 320000;
}

std::int64_t icecastPortFromText(std::string_view text)
{
    constexpr std::int64_t fallback = 8000;
    std::string_view digits = text;
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return fallback;
    // from_chars takes a minus but no plus.
    const std::string_view number = text.front() == '+' ? text.substr(1) : text;
    std::int64_t port = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), port);
    if (error != std::errc() || end != number.data() + number.size()) return fallback;
    return port;
}

bool hasStreamKey(std::string_view streamMode)
{
    return streamMode == "youtube" || streamMode == "facebook" || streamMode == "kick" || streamMode == "rtmp";
}

bool hasServerURLField(std::string_view streamMode) { return streamMode == "kick" || streamMode == "rtmp"; }

}  // namespace ondaline::app
