#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

namespace ondaline::test {

// A sender for the TCP audio input: connects to 127.0.0.1:port (retrying
// until something listens), writes raw bytes or a handshake and a paced tone
// on a thread of its own, and stops when asked, when the time is up or when
// the server closes the connection.
class PCMSender {
public:
    struct Tone {
        std::uint32_t sampleRate = 44100;
        std::uint32_t channels = 2;
        double hz = 440;
        double dbfs = -12;
        double seconds = 1e9;        // until stopped
        double speed = 1;            // times real time
        std::uint32_t badEvery = 0;  // every n-th sample NaN or ±infinity; 0: none
        double pauseAt = -1;         // seconds of tone after which the sender stalls, still connected
        double pauseSeconds = 0;     // for this long, then goes on where it stopped
        bool catchUp = false;        // after the pause, what it held back goes at once, as TCP delivers after a stall
        bool randomBytes = false;    // random 32-bit patterns in place of the tone (huge values, NaNs, infinities)
    };

    // Connects; false when nothing accepted within 10 s.
    bool connect(std::uint16_t port);

    // Writes bytes as they are (for handshakes of any kind) and closes.
    bool sendAndClose(const std::vector<std::uint8_t>& bytes);

    // The 12-byte handshake, then the tone, on the sender's thread.
    void startTone(const Tone& tone);

    void stop();  // closes the connection
    ~PCMSender() { stop(); }

    static std::vector<std::uint8_t> handshake(std::uint32_t sampleRate, std::uint32_t channels,
                                               std::uint32_t format = 32);

private:
    void streamTone(Tone tone);

    int socket_ = -1;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace ondaline::test
