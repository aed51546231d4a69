#include "sources/tcp_audio_server.h"

#include "base/print.h"
#include "engine/ondaline.h"
#include "platform/net/connection.h"
#include "platform/net/listener.h"
#include "sources/pcm_frame_assembler.h"
#include "sources/pcm_levels.h"

#include <algorithm>

namespace ondaline::sources {

// One sender's connection and what was learnt from it. The server holds the
// current one and those awaiting their handshake; handlers hold it weakly,
// so a replaced or refused connection winds down on its own and only logs
// its end.
struct TCPAudioServer::Client {
    std::shared_ptr<platform::Connection> connection;
    std::optional<PCMFrameAssembler> frames;  // once the handshake is accepted
    PCMHandshake format;                      // the accepted one
    std::optional<platform::Timer> handshakeDeadline;
};

std::shared_ptr<TCPAudioServer> TCPAudioServer::create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                                       std::uint16_t port)
{
    return std::make_shared<TCPAudioServer>(Passkey{}, std::move(mainExecutor), port);
}

TCPAudioServer::TCPAudioServer(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor, std::uint16_t port)
    : port_(port), mainExecutor_(std::move(mainExecutor)), silenceTimer_(queue_.makeTimer())
{
}

TCPAudioServer::~TCPAudioServer() = default;

void TCPAudioServer::log(const std::string& line) const { print("TCPAudioServer: " + line); }

std::string TCPAudioServer::waitingText() const { return "Waiting for connection on port " + std::to_string(port_); }

void TCPAudioServer::updateStatus(std::string text)
{
    mainExecutor_->post([weakSelf = weak_from_this(), text = std::move(text)] {
        const auto self = weakSelf.lock();
        if (!self) return;
        if (const auto handler = self->onStatusChange_.get()) handler(text);
    });
}

// --- starting and stopping ---

void TCPAudioServer::start()
{
    queue_.sync([this] { startOnQueue(); });
}

void TCPAudioServer::stop()
{
    queue_.sync([this] { stopOnQueue(); });
}

void TCPAudioServer::startOnQueue()
{
    if (listener_) return;
    // Silence flows while the listener comes up, and also when it cannot.
    startSilenceTimer();

    std::string error;
    listener_ = platform::Listener::create(port_, error);
    if (!listener_) {
        log("Failed to create listener: " + error);
        updateStatus("Error: " + error);
        return;
    }
    const std::weak_ptr<TCPAudioServer> weakSelf = weak_from_this();
    listener_->setStateHandler([weakSelf](const platform::ListenerState& state) {
        if (const auto self = weakSelf.lock()) self->handleListenerState(state);
    });
    listener_->setNewConnectionHandler([weakSelf](std::shared_ptr<platform::Connection> connection) {
        if (const auto self = weakSelf.lock()) self->handleNewConnection(std::move(connection));
    });
    listener_->start(queue_);
}

void TCPAudioServer::stopOnQueue()
{
    stopSilenceTimer();
    if (client_) client_->connection->cancel();
    client_.reset();
    for (const auto& waiting : pending_) waiting->connection->cancel();
    pending_.clear();
    if (listener_) listener_->cancel();
    listener_.reset();
    receiving_ = false;
    updateStatus("Stopped");
}

void TCPAudioServer::handleListenerState(const platform::ListenerState& state)
{
    using Kind = platform::ListenerState::Kind;
    if (state.kind == Kind::ready) {
        log("Listening on port " + std::to_string(port_));
        updateStatus(waitingText());
    } else if (state.kind == Kind::failed) {
        // The listener stays as it is: only stop() and start() listen again.
        log("Listener failed: " + state.error);
        updateStatus("Listener error: " + state.error);
    }
}

// --- senders ---

void TCPAudioServer::handleNewConnection(std::shared_ptr<platform::Connection> connection)
{
    // Accepted just before stop() closed the listener: turned away.
    if (!listener_) return connection->cancel();
    if (pending_.size() >= maxPendingConnections) {
        log("Too many connections without a handshake — closing the oldest");
        pending_.front()->connection->cancel();
        pending_.erase(pending_.begin());
    }
    auto client = std::make_shared<Client>();
    client->connection = std::move(connection);
    pending_.push_back(client);
    log("New client connected");
    // While a sender plays, a newcomer changes nothing until its handshake
    // is accepted.
    if (!client_) updateStatus("Client connected, reading handshake…");

    const std::weak_ptr<TCPAudioServer> weakSelf = weak_from_this();
    const std::weak_ptr<Client> weakClient = client;
    client->handshakeDeadline.emplace(queue_.makeTimer());
    client->handshakeDeadline->scheduleAfter(handshakeTimeout, [weakSelf, weakClient] {
        const auto self = weakSelf.lock();
        const auto peer = weakClient.lock();
        if (!self || !peer || peer->frames) return;
        self->log("No handshake within " + std::to_string(handshakeTimeout.count()) + " s — closing the connection");
        peer->connection->cancel();
    });
    client->connection->setStateHandler([weakSelf, weakClient](const platform::ConnectionState& state) {
        if (const auto self = weakSelf.lock()) self->handleClientState(weakClient.lock(), state);
    });
    client->connection->start(queue_);
}

// `client` is null once the server has let go of it (replaced, closed or
// stopped): such a connection only logs its end.
void TCPAudioServer::handleClientState(const std::shared_ptr<Client>& client, const platform::ConnectionState& state)
{
    using Kind = platform::ConnectionState::Kind;
    const bool isCurrent = client && client == client_;
    const bool isPending = client && std::find(pending_.begin(), pending_.end(), client) != pending_.end();
    if (state.kind == Kind::ready) {
        if (isPending) readHandshake(client);
    } else if (state.kind == Kind::failed || state.kind == Kind::cancelled) {
        log(state.kind == Kind::failed ? "Client connection failed: " + state.error : "Client disconnected");
        if (isCurrent) clientDisconnected();
        else if (isPending) pendingClientEnded(client);
    }
}

void TCPAudioServer::clientDisconnected()
{
    client_.reset();
    receiving_ = false;
    // The meters fall with the sender: the keep-alive's silence is not measured.
    if (const auto handler = onMeterUpdate_.get()) handler(0, 0);
    updateStatus(waitingText());
    startSilenceTimer();
}

void TCPAudioServer::pendingClientEnded(const std::shared_ptr<Client>& client)
{
    std::erase(pending_, client);
    // With no sender playing, the input says it waits again, as it did.
    if (!client_) updateStatus(waitingText());
}

void TCPAudioServer::readHandshake(const std::shared_ptr<Client>& client)
{
    const std::weak_ptr<TCPAudioServer> weakSelf = weak_from_this();
    const std::weak_ptr<Client> weakClient = client;
    client->connection->receive(
        PCMHandshake::size, PCMHandshake::size, [weakSelf, weakClient](platform::ReceiveResult result) {
            const auto self = weakSelf.lock();
            const auto peer = weakClient.lock();
            if (!self || !peer) return;
            if (result.error) {
                self->log("Handshake read error: " + *result.error);
                return peer->connection->cancel();
            }
            if (result.bytes.size() != PCMHandshake::size) {
                self->log("Invalid handshake (expected 12 bytes, got " + std::to_string(result.bytes.size()) + ")");
                return peer->connection->cancel();
            }
            if (std::find(self->pending_.begin(), self->pending_.end(), peer) == self->pending_.end()) return;
            if (!self->acceptHandshake(*peer, result.bytes)) return peer->connection->cancel();
            self->takeOver(peer);
            self->readAudioData(peer);
        });
}

// Checks the handshake and keeps its format with the connection; the
// connection plays only once takeOver() makes it the sender.
bool TCPAudioServer::acceptHandshake(Client& client, ByteView bytes)
{
    const PCMHandshake handshake = PCMHandshake::read(bytes);
    lastHandshake_.set(handshake);  // readable even when refused
    if (!handshake.isAcceptable()) {
        log("Invalid handshake values: sr=" + std::to_string(handshake.sampleRate) +
            " ch=" + std::to_string(handshake.channels) + " fmt=" + std::to_string(handshake.format));
        return false;
    }
    client.format = handshake;
    client.frames.emplace(handshake.channels);
    client.handshakeDeadline.reset();
    return true;
}

void TCPAudioServer::takeOver(const std::shared_ptr<Client>& client)
{
    std::erase(pending_, client);
    const auto engine = streamer_.get().lock();
    if (client_) {
        log("Dropping existing client for new connection");
        client_->connection->cancel();
        // What the old sender delivered and the encoder has not taken yet
        // would play after the newcomer's first blocks: it goes.
        if (engine) engine->discardPendingAudio();
    }
    client_ = client;
    const PCMHandshake& handshake = client->format;
    acceptedFormat_.set(handshake);
    receiving_ = true;
    const std::string rate = std::to_string(handshake.sampleRate), channels = std::to_string(handshake.channels);
    log("Handshake OK — " + rate + "Hz, " + channels + "ch, Float" + std::to_string(handshake.format));
    updateStatus("Receiving audio: " + rate + "Hz, " + channels + "ch");

    // A stream that is already live keeps the encoder it was set up with;
    // the engine converts this sender's blocks to it.
    if (engine) {
        engine->updateConfig([&](Configuration& config) {
            config.sampleRate = handshake.sampleRate;
            config.channels = handshake.channels;
        });
    }
    stopSilenceTimer();
}

void TCPAudioServer::readAudioData(const std::shared_ptr<Client>& client)
{
    const std::weak_ptr<TCPAudioServer> weakSelf = weak_from_this();
    const std::weak_ptr<Client> weakClient = client;
    client->connection->receive(1, maxReceiveBytes, [weakSelf, weakClient](platform::ReceiveResult result) {
        const auto self = weakSelf.lock();
        const auto peer = weakClient.lock();
        if (!self || !peer) return;
        if (!result.bytes.empty()) self->handleAudioBlock(*peer, result.bytes);
        if (result.isComplete) {
            self->log("Client stream ended (EOF)");
            return peer->connection->cancel();
        }
        if (result.error) {
            self->log("Read error: " + *result.error);
            return peer->connection->cancel();
        }
        self->readAudioData(peer);
    });
}

// Whole frames only go on; a torn tail waits for the next read of this
// connection and is dropped with it.
void TCPAudioServer::handleAudioBlock(Client& client, ByteView bytes)
{
    const std::span<const float> frames = client.frames->append(bytes);
    if (frames.empty()) return;
    const auto engine = streamer_.get().lock();
    if (engine) {
        const ByteView data(reinterpret_cast<const std::uint8_t*>(frames.data()), frames.size_bytes());
        engine->sendRawPCMData(data, client.format.sampleRate, client.format.channels);
    }
    if (onMeterUpdate_.get()) measure(frames, client.format.channels, engine);
}

void TCPAudioServer::measure(std::span<const float> frames, std::uint32_t channels,
                             const std::shared_ptr<Ondaline>& engine)
{
    const auto levels = measureLevels(frames, channels);
    if (!levels) return;
    if (const auto handler = onMeterUpdate_.get()) handler(levels->left, levels->right);

    const std::size_t count = frames.size() / channels;
    if (count < spectrumMinFrames) return;
    leftChannel_.resize(count);
    for (std::size_t i = 0; i < count; ++i) leftChannel_[i] = frames[i * channels];
    spectrumAnalyzer_.process(leftChannel_.data(), count);
    if (engine) engine->setSpectrumLevels(spectrumAnalyzer_.levels);
}

// --- the silence keep-alive ---

void TCPAudioServer::startSilenceTimer()
{
    stopSilenceTimer();
    // Silence in the last sender's format, at the pace real audio would have.
    silenceFormat_ = acceptedFormat_.get();
    const auto now = SilencePacer::Clock::now();
    silencePacer_.emplace(silenceFormat_.sampleRate, now);
    silenceTimer_.scheduleRepeating(now + silenceInterval, silenceInterval, [weakSelf = weak_from_this()] {
        if (const auto self = weakSelf.lock()) self->sendSilence();
    });
}

void TCPAudioServer::stopSilenceTimer()
{
    silenceTimer_.cancel();
    silencePacer_.reset();
}

void TCPAudioServer::sendSilence()
{
    if (!silencePacer_) return;
    const std::size_t frames = silencePacer_->framesDue(SilencePacer::Clock::now());
    const auto engine = streamer_.get().lock();
    if (frames == 0 || !engine || engine->state() != StreamState::publishing) return;
    const std::size_t samples = frames * silenceFormat_.channels;
    if (silence_.size() < samples) silence_.resize(samples, 0.0f);
    const ByteView data(reinterpret_cast<const std::uint8_t*>(silence_.data()), samples * sizeof(float));
    engine->sendRawPCMData(data, silenceFormat_.sampleRate, silenceFormat_.channels);
}

}  // namespace ondaline::sources
