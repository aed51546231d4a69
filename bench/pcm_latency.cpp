// ondaline_latency: how long PCM takes from reaching a publisher until the
// AAC packet that carries it has been written to the socket towards the
// server. The publisher is the engine (sendRawPCMData) or ffmpeg (its
// standard input), streaming to the real nginx-rtmp or Icecast peer through
// a relay on loopback that notes when each AAC packet arrives.
//
// The PCM is a quiet tone at real-time pace, with a marker block 24 dB louder
// every `spacing` blocks. For each marker:
//   to-playable  from handing the marker block over to the arrival of the
//                first packet a decoder plays it from (found by decoding
//                every packet that arrived);
//   after-codec  the same less the AAC encoder's own delay: from handing
//                over the block whose arrival lets the encoder emit that
//                packet (measured below on the engine's AACEncoder; the
//                encoder holds one block back and the packet that completes
//                a block comes one block later) to the packet's arrival.
//
// Over RTMP it also tells apart the packets that reached the socket right
// behind a video frame (one arrived between the block and the packet).
//
//   ondaline_latency --publisher ours|ffmpeg --mode rtmp|icecast --server-port P
//                    [--password PW] [--seconds N] [--spacing BLOCKS] [--video black|none]
//
// --video none: ffmpeg over RTMP without the video track (the engine always
// sends one).

#include "aac_onsets.h"
#include "marked_tone.h"
#include "pcm_publisher.h"
#include "publish_tap.h"

#include "platform/codec/aac_encoder.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <variant>

using namespace ondaline;
using namespace ondaline::bench;
using Clock = std::chrono::steady_clock;

namespace {

// Blocks between handing the marker over and the encoder's emitting the
// packet a decoder plays it from, on the engine's AAC encoder.
int codecDelayBlocks()
{
    auto created = platform::AACEncoder::create({44100, 2, 320000});
    auto& encoder = *std::get<std::unique_ptr<platform::AACEncoder>>(created);
    constexpr int markerBlock = 20;
    MarkedTone tone;
    std::vector<Bytes> packets;
    std::vector<int> producedBy;  // the block whose encode call gave each packet
    for (int block = 0; block < markerBlock + 10; ++block) {
        auto encoded = encoder.encode(tone.next(block == markerBlock));
        if (encoded.packet.empty()) continue;
        packets.push_back(std::move(encoded.packet));
        producedBy.push_back(block);
    }
    const auto onsets = findOnsets(packets, encoder.audioSpecificConfig(), MarkedTone::threshold);
    if (onsets.size() != 1) throw std::runtime_error("the offline marker was not found once");
    return producedBy[onsets[0].packet] - markerBlock;
}

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Nearest-rank percentile of sorted values.
double percentile(const std::vector<double>& sorted, double p)
{
    const auto rank = static_cast<std::size_t>(std::ceil(p / 100.0 * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void report(const std::string& label, std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    std::printf("latency: %s: median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms (%zu markers)\n", label.c_str(),
                percentile(values, 50), percentile(values, 99), values.front(), values.back(), values.size());
}

int usage()
{
    std::cerr << "usage: ondaline_latency --publisher ours|ffmpeg --mode rtmp|icecast --server-port P\n"
                 "                        [--password PW] [--seconds N] [--spacing BLOCKS] [--video black|none]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    std::map<std::string, std::string> options{{"--publisher", "ours"}, {"--mode", "rtmp"},  {"--server-port", ""},
                                               {"--password", ""},      {"--seconds", "60"}, {"--spacing", "10"},
                                               {"--video", "black"}};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!options.contains(argv[i])) return usage();
        options[argv[i]] = argv[i + 1];
    }
    const std::string publisherName = options["--publisher"], mode = options["--mode"];
    if ((publisherName != "ours" && publisherName != "ffmpeg") || (mode != "rtmp" && mode != "icecast") ||
        (options["--video"] != "black" && options["--video"] != "none") || options["--server-port"].empty() ||
        argc % 2 == 0) {
        return usage();
    }
    const auto serverPort = static_cast<std::uint16_t>(std::stoul(options["--server-port"]));
    const double seconds = std::stod(options["--seconds"]);
    const int spacing = std::max(4, std::stoi(options["--spacing"]));
    std::signal(SIGPIPE, SIG_IGN);

    const int delay = codecDelayBlocks();
    const bool withVideo = mode == "rtmp" && (publisherName == "ours" || options["--video"] == "black");
    const std::string label = publisherName + " " + mode + (withVideo ? "+video" : "");
    PublishTap tap(mode == "rtmp" ? PublishTap::Protocol::rtmp : PublishTap::Protocol::icecast, serverPort);
    const PublishTarget target{mode == "rtmp", tap.port(), options["--password"],
                               "latency-" + publisherName + (mode == "rtmp" ? "" : ".aac"),
                               options["--video"] == "black"};
    auto publisher = publisherName == "ours" ? startEnginePublisher(target) : startFFmpegPublisher(target);
    const auto giveUp = Clock::now() + std::chrono::seconds(30);
    while (!publisher->live() && Clock::now() < giveUp) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!publisher->live()) {
        std::cerr << "ondaline_latency: the publisher did not go live\n";
        return 1;
    }

    // Quiet until packets have flowed for 2 s, then `seconds` of markers,
    // then 1 s of quiet for the last one to come through.
    const auto blockPeriod = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(MarkedTone::framesPerBlock / MarkedTone::sampleRate));
    MarkedTone tone;
    std::vector<Clock::time_point> handedOver;
    std::vector<std::size_t> markers;
    std::optional<Clock::time_point> markersFrom, markersUntil;
    auto deadline = Clock::now();
    for (std::size_t block = 0;; ++block) {
        const auto now = Clock::now();
        if (!markersFrom && tap.packetCount() > 0) markersFrom = now + std::chrono::seconds(2);
        if (markersFrom && !markersUntil && now >= *markersFrom) {
            markersUntil = now + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        }
        if (markersUntil && now >= *markersUntil + std::chrono::seconds(1)) break;
        if (!markersFrom && now > giveUp) {
            std::cerr << "ondaline_latency: no audio reached the server\n";
            return 1;
        }
        const bool marker = markersUntil && now < *markersUntil && block % static_cast<std::size_t>(spacing) == 0;
        const auto& pcm = tone.next(marker);
        handedOver.push_back(Clock::now());
        publisher->send(pcm.data(), MarkedTone::framesPerBlock);
        if (marker) markers.push_back(block);
        deadline += blockPeriod;
        std::this_thread::sleep_until(deadline);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    publisher->stop();

    const auto packets = tap.packets();
    std::vector<Bytes> payloads;
    for (const auto& packet : packets) payloads.push_back(packet.aac);
    const auto onsets = findOnsets(payloads, tap.audioSpecificConfig(), MarkedTone::threshold);

    // The n-th marker is heard from the n-th onset; an onset that would come
    // before its marker means the pairing is off.
    const auto video = tap.videoArrivals();
    std::vector<double> toPlayable, afterCodec, behindVideo, clear;
    int latestOnsetSample = 0;
    for (std::size_t n = 0; n < markers.size() && n < onsets.size(); ++n) {
        const std::size_t block = markers[n];
        const auto arrival = packets[onsets[n].packet].arrival;
        const double total = milliseconds(arrival - handedOver[block]);
        if (total <= 0) {
            std::cerr << "ondaline_latency: marker " << n << " pairs with an onset " << -total << " ms before it\n";
            return 1;
        }
        toPlayable.push_back(total);
        if (block + static_cast<std::size_t>(delay) < handedOver.size()) {
            const auto from = handedOver[block + static_cast<std::size_t>(delay)];
            afterCodec.push_back(milliseconds(arrival - from));
            const auto firstAfter = std::upper_bound(video.begin(), video.end(), from);
            (firstAfter != video.end() && *firstAfter < arrival ? behindVideo : clear).push_back(afterCodec.back());
        }
        latestOnsetSample = std::max(latestOnsetSample, onsets[n].sample);
    }
    std::printf("latency: %s: %zu markers handed over, %zu heard in %zu packets; AAC encoder delay %d blocks "
                "(%.1f ms); latest onset within its packet at sample %d\n",
                label.c_str(), markers.size(), onsets.size(), packets.size(), delay, milliseconds(blockPeriod * delay),
                latestOnsetSample);
    if (toPlayable.empty() || onsets.size() != markers.size()) {
        std::cerr << "ondaline_latency: every marker should be heard exactly once\n";
        return 1;
    }
    report(label + " to-playable", toPlayable);
    report(label + " after-codec", afterCodec);
    if (!video.empty()) {
        if (!behindVideo.empty()) report(label + " after-codec, behind a video frame", behindVideo);
        if (!clear.empty()) report(label + " after-codec, no video frame in between", clear);
    }
    return 0;
}
