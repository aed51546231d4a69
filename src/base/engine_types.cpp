#include "base/engine_types.h"

namespace ondaline {

namespace {

constexpr std::array<std::string_view, 5> modeTexts{"RTMP", "YouTube Live", "Facebook Live", "Kick", "Icecast"};

constexpr std::array<std::string_view, 7> stateTexts{
    "Idle", "Connecting…", "RTMP Handshake…", "Negotiating…", "Live", "Disconnecting…", "Error",
};

template <typename Enum, std::size_t N>
std::optional<Enum> fromText(const std::array<std::string_view, N>& texts, std::string_view text)
{
    for (std::size_t i = 0; i < N; ++i) {
        if (texts[i] == text) return static_cast<Enum>(i);
    }
    return std::nullopt;
}

}  // namespace

std::string_view rawValue(StreamMode mode) { return modeTexts.at(static_cast<std::size_t>(mode)); }

std::optional<StreamMode> streamModeFromRawValue(std::string_view text)
{
    return fromText<StreamMode>(modeTexts, text);
}

std::string_view rawValue(StreamState state) { return stateTexts.at(static_cast<std::size_t>(state)); }

std::optional<StreamState> streamStateFromRawValue(std::string_view text)
{
    return fromText<StreamState>(stateTexts, text);
}

}  // namespace ondaline
