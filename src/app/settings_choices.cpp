#include "app/settings_choices.h"

#include <algorithm>
#include <charconv>
#include <utility>

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

template <typename Value, std::size_t N>
using NameTable = std::array<std::pair<Value, std::string_view>, N>;

constexpr NameTable<AudioSourceKind, 3> kAudioSourceNames{{
    {AudioSourceKind::local, "local"},
    {AudioSourceKind::tcp, "tcp"},
    {AudioSourceKind::appCapture, "appcapture"},
}};
constexpr NameTable<StreamMode, 5> kStreamModeNames{{
    {StreamMode::rtmp, "rtmp"},
    {StreamMode::youtube, "youtube"},
    {StreamMode::facebook, "facebook"},
    {StreamMode::kick, "kick"},
    {StreamMode::icecast, "icecast"},
}};

template <typename Value, std::size_t N>
Value named(const NameTable<Value, N>& table, std::string_view stored, Value fallback)
{
    for (const auto& [value, name] : table) {
        if (name == stored) return value;
    }
    return fallback;
}

template <typename Value, std::size_t N>
std::string nameOf(const NameTable<Value, N>& table, Value value)
{
    for (const auto& [known, name] : table) {
        if (known == value) return std::string(name);
    }
    return std::string(table.front().second);
}

}  // namespace

AudioSourceKind audioSourceNamed(std::string_view stored)
{
    return named(kAudioSourceNames, stored, AudioSourceKind::local);
}

std::string audioSourceName(AudioSourceKind source) { return nameOf(kAudioSourceNames, source); }

StreamMode streamModeNamed(std::string_view stored) { return named(kStreamModeNames, stored, StreamMode::rtmp); }

std::string streamModeName(StreamMode mode) { return nameOf(kStreamModeNames, mode); }

int streamModeIndex(StreamMode mode) { return indexOf(kStreamModes, mode, 3); }

StreamMode streamModeAt(int index)
{
    return inRange(kStreamModes, index) ? kStreamModes[static_cast<std::size_t>(index)] : StreamMode::rtmp;
}

int audioSourceIndex(AudioSourceKind source) { return indexOf(kAudioSources, source, 0); }

AudioSourceKind audioSourceAt(int index)
{
    return inRange(kAudioSources, index) ? kAudioSources[static_cast<std::size_t>(index)] : AudioSourceKind::local;
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

bool hasStreamKey(StreamMode mode) { return mode != StreamMode::icecast; }

bool hasServerURLField(StreamMode mode) { return mode == StreamMode::kick || mode == StreamMode::rtmp; }

OutputChoices outputChoices(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                            std::string_view savedName)
{
    OutputChoices choices{{"System Default"}, {""}, 0};
    for (const platform::OutputDevice& device : devices) {
        // Two devices with one uid: the first is the one.
        if (choices.selected == 0 && !savedUID.empty() && device.uid == savedUID)
            choices.selected = static_cast<int>(choices.titles.size());
        choices.titles.push_back(device.name);
        choices.uids.push_back(device.uid);
    }
    if (!savedUID.empty() && choices.selected == 0) {
        choices.selected = static_cast<int>(choices.titles.size());
        choices.titles.push_back(std::string(savedName.empty() ? savedUID : savedName) + " (not connected)");
        choices.uids.push_back(savedUID);
    }
    return choices;
}

bool savedApplicationOffered(const ImageScheduleConfig& record, bool pickedHere)
{
    return !pickedHere && !record.appCaptureBundleID.empty() && record.namedFileRules().readAs.has_value();
}

}  // namespace ondaline::app
