#pragma once

// How the settings page's pop-ups and fields stand for stored settings: the
// items of each pop-up, the fixed ingest addresses of the video platforms
// and the Icecast port as typed.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace ondaline::app {

// Stored for these services by the service choice and by every autosave.
inline constexpr std::string_view kYouTubeIngestURL = "rtmp://a.rtmp.youtube.com/live2";
inline constexpr std::string_view kFacebookIngestURL = "rtmps://live-api-s.facebook.com:443/rtmp/";

// Pop-up items in order; an unknown stored value shows as the fallback.
inline constexpr std::array<std::string_view, 5> kStreamModes = {"youtube", "facebook", "kick", "rtmp", "icecast"};
inline constexpr std::array<std::string_view, 3> kAudioSources = {"local", "tcp", "appcapture"};
inline constexpr std::array<std::int64_t, 5> kBitrates = {96000, 128000, 192000, 256000, 320000};
// The appearance page's now-playing sizes, in points.
inline constexpr std::array<double, 6> kNowPlayingFontSizes = {16, 20, 24, 28, 32, 36};

int streamModeIndex(std::string_view streamMode);    // unknown: "RTMP (Other)"
std::string streamModeAt(int index);                 // no such item: "rtmp"
int audioSourceIndex(std::string_view audioSource);  // unknown: "Local Player"
std::string audioSourceAt(int index);                // no such item: "local"
int bitrateIndex(std::int64_t bitrate);              // unknown: "320 kbps"
std::int64_t bitrateAt(int index);                   // no such item: 320000

// The whole text must be an optional sign and ASCII digits that fit 64 bits;
// anything else, empty included, is the default port 8000. No range check.
std::int64_t icecastPortFromText(std::string_view text);

// The services whose stream key the page shows.
bool hasStreamKey(std::string_view streamMode);
// Kick and plain RTMP take the server address from the page.
bool hasServerURLField(std::string_view streamMode);

}  // namespace ondaline::app
