#include "support/pcm_sender.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>

namespace ondaline::test {

namespace {

using Clock = std::chrono::steady_clock;

void appendLE(std::vector<std::uint8_t>& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool writeAll(int socket, const std::uint8_t* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

std::vector<std::uint8_t> PCMSender::handshake(std::uint32_t sampleRate, std::uint32_t channels, std::uint32_t format)
{
    std::vector<std::uint8_t> bytes;
    appendLE(bytes, sampleRate);
    appendLE(bytes, channels);
    appendLE(bytes, format);
    return bytes;
}

bool PCMSender::connect(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto giveUp = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < giveUp) {
        socket_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::connect(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return true;
        ::close(socket_);
        socket_ = -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

bool PCMSender::sendAndClose(const std::vector<std::uint8_t>& bytes)
{
    const bool written = writeAll(socket_, bytes.data(), bytes.size());
    stop();
    return written;
}

void PCMSender::startTone(const Tone& tone)
{
    thread_ = std::thread([this, tone] { streamTone(tone); });
}

void PCMSender::streamTone(Tone tone)
{
    auto head = handshake(tone.sampleRate, tone.channels);
    if (!writeAll(socket_, head.data(), head.size())) return;

    constexpr std::uint32_t blockFrames = 1024;
    const double amplitude = std::pow(10.0, tone.dbfs / 20.0);
    const float bad[] = {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(),
                         -std::numeric_limits<float>::infinity()};
    std::vector<float> block(std::size_t{blockFrames} * tone.channels);
    const auto start = Clock::now();
    const auto total = static_cast<std::uint64_t>(tone.seconds * tone.sampleRate);
    std::uint64_t frame = 0, sample = 0;
    std::mt19937 random(1234);
    auto stalled = Clock::duration::zero();
    while (!stop_ && frame < total) {
        if (tone.pauseAt >= 0 && stalled == Clock::duration::zero() &&
            double(frame) / tone.sampleRate >= tone.pauseAt) {
            stalled = std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(tone.pauseSeconds));
            for (const auto until = Clock::now() + stalled; !stop_ && Clock::now() < until;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }
        for (std::uint32_t i = 0; i < blockFrames; ++i, ++frame) {
            const auto value = static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * tone.hz * double(frame) /
                                                                       tone.sampleRate));
            for (std::uint32_t c = 0; c < tone.channels; ++c, ++sample) {
                const bool spoil = tone.badEvery > 0 && sample % tone.badEvery == 0;
                float& out = block[std::size_t{i} * tone.channels + c];
                out = spoil ? bad[(sample / tone.badEvery) % 3] : value;
                if (tone.randomBytes) {
                    const std::uint32_t bits = random();
                    std::memcpy(&out, &bits, sizeof out);
                }
            }
        }
        if (!writeAll(socket_, reinterpret_cast<const std::uint8_t*>(block.data()), block.size() * sizeof(float))) {
            return;  // the server closed the connection
        }
        const auto due = start + (tone.catchUp ? Clock::duration::zero() : stalled) +
                         std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(double(frame) / tone.sampleRate / tone.speed));
        std::this_thread::sleep_until(due);
    }
}

void PCMSender::stop()
{
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    if (socket_ >= 0) ::close(socket_);
    socket_ = -1;
}

}  // namespace ondaline::test
