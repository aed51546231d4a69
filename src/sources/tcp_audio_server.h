#pragma once

// The station's network audio input: a TCP server (port 9170 by default)
// through which the automation feeds the programme as raw PCM. One sender at
// a time, the newest with a valid handshake winning; each announces its
// format in a 12-byte handshake and then streams interleaved float32 frames,
// which go to the engine with that format, to the meters and to the spectrum
// bars. A new connection waits beside the current sender until its handshake
// is accepted, so a connection that says nothing, or nonsense, never
// interrupts the programme: it is closed after 5 s, and at most 8 wait at
// once. While no
// sender streams, a silence keep-alive feeds the engine so that a live stream
// keeps its audio. Status texts go to the main thread, log lines to the
// activity log, prefixed "TCPAudioServer: ".
//
// Threads: start(), stop(), the setters and the getters may be called from
// any thread (the dashboard's main thread); start() and stop() do their work
// on the server's queue "com.quillmere.tcpserver" and wait for it, and every
// listener, connection, receive and keep-alive handler runs there too.
// onMeterUpdate is called on that queue; onStatusChange through the main
// executor, in reporting order. Handlers hold the server weakly: destroying
// it stops its sockets and timer and nothing of it runs afterwards.

#include "base/bytes.h"
#include "platform/dispatch/main_executor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/timer.h"
#include "platform/locked.h"
#include "sources/pcm_wire_format.h"
#include "sources/silence_pacer.h"
#include "sources/spectrum_analyzer.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace ondaline {
class Ondaline;
namespace platform {
class Connection;
class Listener;
struct ConnectionState;
struct ListenerState;
struct ReceiveResult;
}  // namespace platform
}  // namespace ondaline

namespace ondaline::sources {

class TCPAudioServer : public std::enable_shared_from_this<TCPAudioServer> {
    struct Passkey {};

public:
    static constexpr std::uint16_t defaultPort = 9170;
    static constexpr std::size_t maxReceiveBytes = 16384;
    static constexpr std::size_t spectrumMinFrames = 1024;
    static constexpr std::chrono::milliseconds silenceInterval{23};
    static constexpr std::chrono::seconds handshakeTimeout{5};
    static constexpr std::size_t maxPendingConnections = 8;

    using StatusHandler = std::function<void(const std::string& status)>;
    using MeterHandler = std::function<void(float left, float right)>;

    static std::shared_ptr<TCPAudioServer> create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                                  std::uint16_t port = defaultPort);
    TCPAudioServer(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor, std::uint16_t port);
    ~TCPAudioServer();

    TCPAudioServer(const TCPAudioServer&) = delete;
    TCPAudioServer& operator=(const TCPAudioServer&) = delete;

    // Starts the keep-alive, then listens; does nothing while a listener
    // exists (also one that failed, until stop()).
    void start();
    // Stops the keep-alive, closes the sender and the listener; "Stopped".
    void stop();

    void setStreamer(std::weak_ptr<Ondaline> engine) { streamer_.set(std::move(engine)); }
    void setOnStatusChange(StatusHandler handler) { onStatusChange_.set(std::move(handler)); }
    void setOnMeterUpdate(MeterHandler handler) { onMeterUpdate_.set(std::move(handler)); }

    // A sender is connected and its handshake was accepted.
    bool isReceiving() const { return receiving_.load(); }

    // The last handshake read, accepted or not (44100 Hz, 2, 32 before any).
    std::uint32_t clientSampleRate() const { return lastHandshake_.get().sampleRate; }
    std::uint32_t clientChannels() const { return lastHandshake_.get().channels; }
    std::uint32_t clientFormat() const { return lastHandshake_.get().format; }

    // The last accepted handshake's format (44100 Hz stereo before any): what
    // a stream started with this input is configured with, and what the
    // keep-alive delivers. A rejected handshake never changes it.
    std::uint32_t acceptedSampleRate() const { return acceptedFormat_.get().sampleRate; }
    std::uint32_t acceptedChannels() const { return acceptedFormat_.get().channels; }

    std::uint16_t port() const { return port_; }

private:
    struct Client;

    void startOnQueue();
    void stopOnQueue();
    void handleListenerState(const platform::ListenerState& state);
    void handleNewConnection(std::shared_ptr<platform::Connection> connection);
    void handleClientState(const std::shared_ptr<Client>& client, const platform::ConnectionState& state);
    void clientDisconnected();
    void pendingClientEnded(const std::shared_ptr<Client>& client);
    void takeOver(const std::shared_ptr<Client>& client);
    void readHandshake(const std::shared_ptr<Client>& client);
    bool acceptHandshake(Client& client, ByteView bytes);
    void readAudioData(const std::shared_ptr<Client>& client);
    void handleAudioBlock(Client& client, ByteView bytes);
    void measure(std::span<const float> frames, std::uint32_t channels, const std::shared_ptr<Ondaline>& engine);
    void startSilenceTimer();
    void stopSilenceTimer();
    void sendSilence();
    void updateStatus(std::string text);
    void log(const std::string& line) const;
    std::string waitingText() const;

    const std::uint16_t port_;
    const std::shared_ptr<platform::MainExecutor> mainExecutor_;

    platform::Locked<std::weak_ptr<Ondaline>> streamer_;
    platform::Locked<StatusHandler> onStatusChange_;
    platform::Locked<MeterHandler> onMeterUpdate_;
    platform::Locked<PCMHandshake> lastHandshake_;
    platform::Locked<PCMHandshake> acceptedFormat_;
    std::atomic<bool> receiving_{false};

    // --- the queue's own; declared before what its handlers touch ---
    platform::SerialQueue queue_{"com.quillmere.tcpserver"};
    std::unique_ptr<platform::Listener> listener_;
    std::shared_ptr<Client> client_;                // the sender playing, handshake accepted
    std::vector<std::shared_ptr<Client>> pending_;  // connections awaiting their handshake, oldest first
    platform::Timer silenceTimer_;
    std::optional<SilencePacer> silencePacer_;
    PCMHandshake silenceFormat_;
    std::vector<float> silence_;
    SpectrumAnalyzer spectrumAnalyzer_{40};
    std::vector<float> leftChannel_;
};

}  // namespace ondaline::sources
