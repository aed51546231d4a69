#include "app/streaming_service.h"

#include "models/server_url.h"
#include "platform/text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace ondaline::app {

namespace {

// The video platforms refuse audio below 128 kbit/s; Facebook wants 44.1 kHz.
const std::array<StreamingService, 4> services{{
    {StreamMode::icecast, "Icecast", 0, std::nullopt},
    {StreamMode::youtube, "YouTube", 128000, std::nullopt},
    {StreamMode::facebook, "Facebook", 128000, 44100.0},
    {StreamMode::kick, "Kick", 128000, std::nullopt},
}};

const StreamingService plainRTMP{};

}  // namespace

const StreamingService& streamingService(StreamMode mode)
{
    for (const auto& service : services) {
        if (service.engineMode == mode) return service;
    }
    return plainRTMP;
}

std::optional<std::string_view> presetServerURL(StreamMode mode)
{
    if (mode == StreamMode::youtube) return kYouTubeIngestURL;
    if (mode == StreamMode::facebook) return kFacebookIngestURL;
    return std::nullopt;
}

std::string liveServiceName(StreamMode mode, std::string_view serverURL)
{
    const std::string name(streamingService(mode).statusName);
    const auto preset = presetServerURL(mode);
    if (!preset || serverURL.empty() || serverURL == *preset) return name;
    const std::string server = streamKeyServer(serverURL);
    return name + " at " + (server.empty() ? std::string(serverURL) : briefServer(server));
}

std::int64_t engineBitrate(const StreamingService& service, std::int64_t storedBitrate)
{
    return std::max(service.minimumBitrate, storedBitrate);
}

double engineSampleRate(const StreamingService& service, double sourceSampleRate)
{
    return service.fixedSampleRate.value_or(sourceSampleRate);
}

std::optional<std::uint16_t> icecastPort(std::int64_t storedPort)
{
    if (storedPort < 0 || storedPort > 65535) return std::nullopt;
    return static_cast<std::uint16_t>(storedPort);
}

std::string invalidIcecastPortText(std::int64_t storedPort)
{
    return "Invalid Icecast port: " + std::to_string(storedPort);
}

PCMFormat sourceFormat(AudioSourceKind source, const SourceFormats& formats)
{
    if (source == AudioSourceKind::appCapture) return {48000, 2};
    if (source == AudioSourceKind::tcp) return formats.tcpAccepted;
    return formats.playerTap.value_or(PCMFormat{});
}

std::string connectedStatusText(std::string_view serviceName, std::int64_t kbps, std::int64_t elapsedSeconds,
                                std::string_view note)
{
    const std::int64_t elapsed = std::max<std::int64_t>(elapsedSeconds, 0);
    char clock[64];
    std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld", static_cast<long long>(elapsed / 3600),
                  static_cast<long long>(elapsed % 3600 / 60), static_cast<long long>(elapsed % 60));
    std::string text = "Connected to stream | " + std::string(serviceName) + " " + std::to_string(kbps) + "k | " +
                       clock;
    if (!note.empty()) text += " | " + std::string(note);
    return text;
}

IdleLook idleLook(AudioSourceKind source, const SourceReadiness& readiness)
{
    const IdleLook waiting{false, "Connecting to source…", 0.25};
    if (source == AudioSourceKind::tcp)
        return readiness.tcpReceiving ? IdleLook{true, "Connected to TCP Input", 0.4} : waiting;
    if (source == AudioSourceKind::appCapture) {
        if (readiness.capturing) return appCaptureLook(readiness.appCaptureName);
        if (readiness.appCaptureWaiting.empty()) return waiting;
        return {false, "App Capture: " + std::string(readiness.appCaptureWaiting), 0.25};
    }
    return localPlayerLook(readiness.soundServerMissing);
}

IdleLook appCaptureLook(std::string_view name)
{
    return {true, "Connected to " + (name.empty() ? "App Capture" : platform::withFormatCharactersShown(name)), 0.4};
}

IdleLook localPlayerLook(bool soundServerMissing)
{
    // It still feeds the stream; only the station's own monitoring is gone.
    if (soundServerMissing) return {true, "Local Player: no sound server", 0.4};
    return {true, "Connected to Local Player", 0.4};
}

}  // namespace ondaline::app
