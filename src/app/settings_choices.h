#pragma once

// How the settings page's pop-ups and fields stand for stored settings: the
// names the settings file stores for the audio source and the streaming
// service, read into enums here and nowhere else; the items of each pop-up,
// the fixed ingest addresses of the video platforms and the Icecast port as
// typed.

#include "base/engine_types.h"
#include "models/image_schedule_config.h"
#include "platform/audio/output_devices.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ondaline::app {

// Stored for these services by the service choice and by every autosave.
inline constexpr std::string_view kYouTubeIngestURL = "rtmp://a.rtmp.youtube.com/live2";
inline constexpr std::string_view kFacebookIngestURL = "rtmps://live-api-s.facebook.com:443/rtmp/";

// The audio source the settings name.
enum class AudioSourceKind { local, tcp, appCapture };

// The stored names, matched exactly: an unknown audio source is the local
// player, an unknown service plain RTMP.
AudioSourceKind audioSourceNamed(std::string_view stored);
std::string audioSourceName(AudioSourceKind source);
StreamMode streamModeNamed(std::string_view stored);
std::string streamModeName(StreamMode mode);

// Pop-up items in order; an unknown stored value shows as the fallback.
inline constexpr std::array<StreamMode, 5> kStreamModes = {StreamMode::youtube, StreamMode::facebook, StreamMode::kick,
                                                           StreamMode::rtmp, StreamMode::icecast};
inline constexpr std::array<AudioSourceKind, 3> kAudioSources = {AudioSourceKind::local, AudioSourceKind::tcp,
                                                                 AudioSourceKind::appCapture};
inline constexpr std::array<std::int64_t, 5> kBitrates = {96000, 128000, 192000, 256000, 320000};
// The appearance page's now-playing sizes, in points.
inline constexpr std::array<double, 6> kNowPlayingFontSizes = {16, 20, 24, 28, 32, 36};

int streamModeIndex(StreamMode mode);          // "RTMP (Other)" for plain RTMP
StreamMode streamModeAt(int index);            // no such item: plain RTMP
int audioSourceIndex(AudioSourceKind source);  // "Local Player" for the player
AudioSourceKind audioSourceAt(int index);      // no such item: the local player
int bitrateIndex(std::int64_t bitrate);        // unknown: "320 kbps"
std::int64_t bitrateAt(int index);             // no such item: 320000

// The whole text must be an optional sign and ASCII digits that fit 64 bits;
// anything else, empty included, is the default port 8000. No range check.
std::int64_t icecastPortFromText(std::string_view text);

// The output pop-up's items: "System Default", the devices in the server's
// order, and the saved device while it is not there, marked so. The saved
// device's item is the one selected, whether it is there or not.
struct OutputChoices {
    std::vector<std::string> titles;
    std::vector<std::string> uids;  // of each item, "" for the default
    int selected = 0;
};
// `savedName`: what the saved device was called when last seen (its uid if
// empty).
OutputChoices outputChoices(const std::vector<platform::OutputDevice>& devices, const std::string& savedUID,
                            std::string_view savedName);

// The services whose stream key the page shows.
bool hasStreamKey(StreamMode mode);
// Kick and plain RTMP take the server address from the page.
bool hasServerURLField(StreamMode mode);

// The application the record names is captured without a pick only where
// no one but us and root could have changed the settings file it was read
// from: elsewhere it is offered, and captured once the user has picked it
// here. Else another member's settings would put any sound of the user's
// own session on air.
bool savedApplicationOffered(const ImageScheduleConfig& record, bool pickedHere);

}  // namespace ondaline::app
