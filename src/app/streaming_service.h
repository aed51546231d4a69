#pragma once

// The rules behind the Start button and the status line, free of widgets:
// what each streaming service hands the engine, the PCM format each audio
// source delivers, the live status text with its uptime and the idle look
// of each source.

#include "app/settings_choices.h"
#include "base/engine_types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ondaline::app {

// What each streaming service needs of the engine and shows on the status
// line.
struct StreamingService {
    StreamMode engineMode = StreamMode::rtmp;
    std::string_view statusName = "RTMP";   // as the live status line names it
    std::int64_t minimumBitrate = 0;        // bit/s the platform needs at least
    std::optional<double> fixedSampleRate;  // Hz, whatever the source delivers
};

const StreamingService& streamingService(StreamMode mode);

// The ingest address a service's choice in Settings stores; none for a
// service whose server is typed.
std::optional<std::string_view> presetServerURL(StreamMode mode);

// The service as the live status line names it, with the server the stream
// really uses where the settings name another than the service's own:
// "YouTube", "YouTube at evil.example".
std::string liveServiceName(StreamMode mode, std::string_view serverURL);

std::int64_t engineBitrate(const StreamingService& service, std::int64_t storedBitrate);
double engineSampleRate(const StreamingService& service, double sourceSampleRate);

// The live status line shows the stored bitrate, not the raised one.
inline std::int64_t shownKbps(std::int64_t storedBitrate) { return storedBitrate / 1000; }

// The engine's Icecast port is 16 bits wide; other stored values are refused.
std::optional<std::uint16_t> icecastPort(std::int64_t storedPort);
std::string invalidIcecastPortText(std::int64_t storedPort);

struct PCMFormat {
    double sampleRate = 44100;
    std::uint32_t channels = 2;

    bool operator==(const PCMFormat&) const = default;
};

// What the sources can tell of their formats at the moment of starting.
struct SourceFormats {
    std::optional<PCMFormat> playerTap;  // none until the player is set up
    PCMFormat tcpAccepted;               // the TCP input's last accepted handshake
};

PCMFormat sourceFormat(AudioSourceKind source, const SourceFormats& formats);

// "Connected to stream | YouTube 128k | 01:02:05"; hours do not wrap. A
// note the station should see while live follows: "... | 01:02:05 | note".
std::string connectedStatusText(std::string_view serviceName, std::int64_t kbps, std::int64_t elapsedSeconds,
                                std::string_view note = {});

// The lamp and status line while no stream runs, by the stored source.
struct IdleLook {
    bool lampLit = false;
    std::string statusText;
    double statusAlpha = 0.4;  // of white; dimmer while waiting for the source
};

struct SourceReadiness {
    bool tcpReceiving = false;        // a sender is connected and its handshake accepted
    bool capturing = false;           // application capture is running and its sound comes
    bool soundServerMissing = false;  // the local player plays, but nobody hears it here
    std::string_view appCaptureName;
    // Why application capture brings no sound and what is done about it
    // ("'Auto' is not playing — waiting for it"); empty while it starts.
    std::string_view appCaptureWaiting;
};

IdleLook idleLook(AudioSourceKind source, const SourceReadiness& readiness);
// A capture whose sound comes, by the application's saved name.
IdleLook appCaptureLook(std::string_view name);
IdleLook localPlayerLook(bool soundServerMissing);

}  // namespace ondaline::app
