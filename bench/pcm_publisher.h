#pragma once

// What the latency probe feeds: a publisher that takes interleaved stereo
// float PCM at 44.1 kHz and streams it to a server, either the engine itself
// or an ffmpeg process reading the PCM on its standard input.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace ondaline::bench {

class PCMPublisher {
public:
    virtual ~PCMPublisher() = default;

    // Publishing has started (the engine said so; ffmpeg is running).
    virtual bool live() const = 0;
    // One block of interleaved stereo frames, as fast as the publisher takes it.
    virtual void send(const float* interleaved, std::size_t frames) = 0;
    // Ends the stream in order.
    virtual void stop() = 0;
};

struct PublishTarget {
    bool rtmp = true;        // else Icecast
    std::uint16_t port = 0;  // where the tap listens, in front of the server
    std::string password;    // Icecast's source password
    std::string name;        // stream key or mount name
    bool video = true;       // ffmpeg over RTMP: with the engine's black video track
};

std::unique_ptr<PCMPublisher> startEnginePublisher(const PublishTarget& target);
std::unique_ptr<PCMPublisher> startFFmpegPublisher(const PublishTarget& target);

}  // namespace ondaline::bench
