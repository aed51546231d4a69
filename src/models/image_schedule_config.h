#pragma once

#include "models/image_schedule_entry.h"
#include "models/overlay_configs.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ondaline {

// The one persisted settings record: the image schedule, the overlays, the
// streaming and Icecast settings, the audio source and the output device.
// Stored whole as "ondaline_schedule.json" in the station folder's
// "/Misc/System/Streamer". No value is validated.
struct ImageScheduleConfig {
    std::string defaultImagePath;  // empty: no default image
    std::int64_t hourOffset = 0;   // whole hours added to the local time for the schedule
    std::vector<ImageScheduleEntry> entries;  // first match wins
    NowPlayingConfig nowPlaying;
    VisualizationConfig visualization;
    CrawlerConfig crawler;
    std::string stationName = "My Station";
    std::string serverURL = "rtmp://localhost/broadcast";
    std::string streamKey;
    std::string streamMode = "rtmp";  // "rtmp", "youtube", "facebook", "kick" or "icecast"
    std::string icecastHost;
    std::int64_t icecastPort = 8000;
    std::string icecastMount = "/stream";
    std::string icecastPassword;
    std::int64_t audioBitrate = 320000;  // bit/s
    std::string audioSource = "local";   // "local", "tcp" or "appcapture"
    std::string appCaptureBundleID;
    std::string appCaptureName;
    std::string audioOutputDeviceUID;  // empty: the default output

    // Paths under the station folder as it is now.
    static std::string configDir();
    static std::string configFile();
    static std::string streamKeyFile();

    // Creates the settings folder when it is missing; failures are ignored.
    static void ensureDirectory();

    // The record in the settings file, or the defaults when there is none or
    // it does not decode. Never fails.
    static ImageScheduleConfig load();

    // Writes the whole record over the settings file, atomically. A file
    // that does not decode is first kept aside under a time-stamped name.
    // Failures (including a non-finite number) write nothing and are ignored.
    void save() const;

    // The stream-key file's text, trimmed; empty when it is missing or not
    // UTF-8. The program never writes that file.
    static std::string readStreamKeyFile();

    // The image for this moment, shifted by hourOffset: the first entry of
    // the local weekday whose window is active (its path even when empty),
    // else defaultImagePath, else none.
    std::optional<std::string> currentImagePath() const;
    std::optional<std::string> currentImagePath(std::chrono::system_clock::time_point now) const;

    bool operator==(const ImageScheduleConfig&) const = default;
};

}  // namespace ondaline
