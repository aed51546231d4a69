#pragma once

// A relay on 127.0.0.1 between a publisher and its real server (nginx-rtmp
// or Icecast) that passes every byte both ways unchanged and notes when each
// AAC packet of the publisher's stream arrived on the socket. Over RTMP it
// cuts the stream into messages with the engine's own chunk reader and keeps
// the raw AAC of the audio messages (and when each video message came); over
// Icecast it keeps each ADTS frame.

#include "base/bytes.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ondaline::bench {

class PublishTap {
public:
    using Clock = std::chrono::steady_clock;
    enum class Protocol { rtmp, icecast };

    struct Packet {
        Clock::time_point arrival;  // when the read that completed it returned
        Bytes aac;                  // raw AAC (RTMP) or a whole ADTS frame (Icecast)
    };

    // Listens at once; relays the first connection to upstreamPort.
    PublishTap(Protocol protocol, std::uint16_t upstreamPort);
    ~PublishTap();

    PublishTap(const PublishTap&) = delete;
    PublishTap& operator=(const PublishTap&) = delete;

    std::uint16_t port() const { return port_; }
    std::size_t packetCount() const;
    std::vector<Packet> packets() const;
    Bytes audioSpecificConfig() const;                     // from the RTMP sequence header; empty over Icecast
    std::vector<Clock::time_point> videoArrivals() const;  // RTMP: when each video message arrived

private:
    void run(std::uint16_t upstreamPort);
    void relay(int client, int server);
    void parse(const std::uint8_t* data, std::size_t size, Clock::time_point arrival);

    const Protocol protocol_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::atomic<bool> stop_{false};

    // Parsing state, on the relay's thread.
    struct Parser;
    std::unique_ptr<Parser> parser_;

    mutable std::mutex lock_;
    std::vector<Packet> packets_;
    std::vector<Clock::time_point> videoArrivals_;
    Bytes asc_;

    std::thread thread_;
};

}  // namespace ondaline::bench
