#pragma once

// The streaming engine: one object per program that the dashboard
// configures, starts and stops. It owns the RTMP or Icecast connection, the
// send queue, statistics, health watching and reconnection, and the media
// pipeline's state. Its behaviour lives in files named after each concern
// (ondaline_connect.cpp, ondaline_connection_state.cpp, …).
//
// Threads: the dashboard calls from the main thread; connection work runs on
// the network queue and encoding on the encoder queue; delegate calls arrive
// through the main executor. connect() and disconnect() do their work on the
// network queue and wait for it, so every connection-life value (state
// changes, the connection, the reconnect timer) is changed on that one
// queue. The main thread may wait on the network queue, the network queue on
// the encoder queue, never the other way round.

#include "base/amf0_value.h"
#include "base/bytes.h"
#include "base/engine_types.h"
#include "base/stream_state_holder.h"
#include "engine/health/health_rules.h"
#include "engine/icecast/icecast_title_updates.h"
#include "engine/ondaline_delegate.h"
#include "engine/reconnector.h"
#include "engine/rtmp/chunk_reader.h"
#include "engine/send_queue.h"
#include "media/audio_packet_loop.h"
#include "media/audio_timeline.h"
#include "media/carrier.h"
#include "media/frame_renderer.h"
#include "media/pcm_ring.h"
#include "models/overlay_configs.h"
#include "platform/clock.h"
#include "platform/dispatch/main_executor.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/timer.h"
#include "platform/locked.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace ondaline {

namespace icecast {
class Backlog;
}

namespace platform {
class AACEncoder;
class H264Encoder;
class Connection;
struct ConnectionState;
class Resampler;
}  // namespace platform

class Ondaline : public std::enable_shared_from_this<Ondaline> {
    struct Passkey {};

public:
    using StreamMode = ondaline::StreamMode;
    using StreamState = ondaline::StreamState;
    using Configuration = ondaline::Configuration;
    using IcecastConfig = ondaline::IcecastConfig;
    using ChunkStreamContext = ondaline::ChunkStreamContext;

    // The video format.
    static constexpr std::int32_t videoWidth = 1280;
    static constexpr std::int32_t videoHeight = 720;
    static constexpr std::int64_t videoBitrate = 1200000;
    static constexpr std::int32_t videoKeyframeInterval = 48;
    static constexpr std::int32_t videoFPSNum = 24000;
    static constexpr std::int32_t videoFPSDen = 1001;
    static constexpr std::int32_t videoFPS = 24;

    // While more than this waits to be sent, the video sender drops frames.
    static constexpr std::int64_t maxSendQueueBytes = 524288;
    static constexpr std::int64_t maxReconnectAttempts = Reconnector::maxReconnectAttempts;
    static constexpr double carrierThresholdSec = 1.0;

    static std::shared_ptr<Ondaline> create(std::shared_ptr<platform::MainExecutor> mainExecutor,
                                            std::shared_ptr<const platform::Clock> clock = nullptr);

    Ondaline(Passkey, std::shared_ptr<platform::MainExecutor> mainExecutor,
             std::shared_ptr<const platform::Clock> clock);
    ~Ondaline();

    Ondaline(const Ondaline&) = delete;
    Ondaline& operator=(const Ondaline&) = delete;

    // --- delegate, state and configuration (any thread) ---

    void setDelegate(std::weak_ptr<OndalineDelegate> delegate);
    std::shared_ptr<OndalineDelegate> delegate() const;

    StreamState state() const { return state_.get(); }
    bool isConnected() const { return state_.isConnected(); }

    Configuration config() const { return config_.get(); }
    void setConfig(const Configuration& config) { config_.set(config); }
    void updateConfig(const std::function<void(Configuration&)>& change) { config_.update(change); }

    IcecastConfig icecastConfig() const { return icecastConfig_.get(); }
    void setIcecastConfig(const IcecastConfig& config) { icecastConfig_.set(config); }

    StreamMode streamMode() const { return streamMode_.load(); }
    void setStreamMode(StreamMode mode) { streamMode_.store(mode); }

    // --- starting and stopping (main thread) ---

    void configure(const std::string& serverURL, const std::string& streamKey, std::int64_t audioBitrate = 320000,
                   double sampleRate = 44100, std::uint32_t channels = 2);

    // Starts a connection in the chosen mode when idle or in error.
    void connect();

    // Stops the broadcast; returns with the state idle.
    void disconnect();

    // Tells the Icecast server the title now playing (Icecast mode, while
    // the server accepts the stream); returns at once.
    void updateIcecastMetadata(const std::string& song);

    // --- audio from the sources (any thread) ---

    // One block of PCM as a source hands it over: one float plane per
    // channel, `frameCount` samples each.
    struct AudioBufferView {
        const float* const* planes = nullptr;
        std::uint32_t channelCount = 0;
        std::uint32_t frameCount = 0;
        double sampleRate = 0;  // 0: already at the stream's rate
    };
    void sendAudioBuffer(const AudioBufferView& buffer);

    // Interleaved 32-bit float bytes, in the configured format, or in the
    // block's own rate and channel count, which are converted.
    void sendRawPCMData(ByteView data);
    void sendRawPCMData(ByteView data, double sampleRate, std::uint32_t channels);
    // Drops the PCM delivered and not yet encoded: a sender that was
    // replaced must not play on after its successor's first blocks.
    void discardPendingAudio();

    // --- statistics and what the dashboard and tests may look at ---

    std::uint64_t totalBytesSent() const { return totalBytesSent_.load(); }
    std::uint64_t audioPacketsSent() const { return audioLoop_.audioPacketsSent.load(); }
    std::int64_t sendQueueBytes() const { return sendQueue_.sendQueueBytes(); }
    std::int64_t reconnectAttempts() const { return reconnector_.attempts(); }
    // A retry of a lost stream waits in its timer; the state reads idle
    // meanwhile, so this is how a stop press can tell it is still going.
    bool isReconnectPending() const { return reconnectTimer_.isScheduled(); }

    struct ServerFields {
        bool useTLS = false;
        std::string serverHost;
        std::uint16_t serverPort = 1935;
        std::string serverApp;
    };
    ServerFields serverFields() const { return server_.get(); }

    // --- overlay inputs (any thread; replaced whole) ---

    NowPlayingConfig nowPlayingConfig() const { return nowPlayingConfig_.get(); }
    void setNowPlayingConfig(const NowPlayingConfig& config) { nowPlayingConfig_.set(config); }
    VisualizationConfig vizConfig() const { return vizConfig_.get(); }
    void setVizConfig(const VisualizationConfig& config) { vizConfig_.set(config); }
    CrawlerConfig crawlerConfig() const { return crawlerConfig_.get(); }
    void setCrawlerConfig(const CrawlerConfig& config) { crawlerConfig_.set(config); }
    std::vector<float> spectrumLevels() const { return spectrumLevels_.get(); }  // one snapshot
    void setSpectrumLevels(std::vector<float> levels) { spectrumLevels_.set(std::move(levels)); }
    std::string currentSongText() const { return currentSongText_.get(); }
    void setCurrentSongText(std::string text) { currentSongText_.set(std::move(text)); }
    std::optional<std::string> videoImagePath() const { return videoImagePath_.get(); }
    void setVideoImagePath(std::optional<std::string> path) { videoImagePath_.set(std::move(path)); }
    std::string crawlerFilePath() const { return crawlerFilePath_.get(); }
    void setCrawlerFilePath(std::string path) { crawlerFilePath_.set(std::move(path)); }
    // How the crawler file and the still images are reached and read.
    void setNamedFileRules(platform::NamedFileRules rules) { renderer_.setNamedFileRules(std::move(rules)); }

    // Reads the still image behind the overlays and redraws the picture;
    // false (nothing changes) when the file does not read as an image.
    bool loadVideoImage(const std::string& path);
    // Forgets the still image (the picture turns black behind the overlays).
    void clearVideoImage() { renderer_.clearBackground(); }
    // Redraws the picture from the image, the song text and the overlays.
    void renderVideoOverlay();

    // The carrier's PCM block: 1024 frames of a 25 Hz, 0.001 sine computed
    // for 48000 Hz, two interleaved f32 samples per frame; built once.
    const Bytes& carrierBuffer();

    platform::SerialQueue& networkQueue() { return networkQueue_; }
    platform::SerialQueue& encoderQueue() { return encoderQueue_; }

private:
    // Connecting and disconnecting (ondaline_connect.cpp).
    void connectOnNetworkQueue();
    void connectRTMP();
    void disconnectOnNetworkQueue();
    void startStatisticsTimer();
    bool parseURL(const std::string& url);

    // Connection state, reset, clean-up, errors (ondaline_connection_state.cpp).
    void handleConnectionState(const platform::ConnectionState& state, std::uint64_t epoch);
    void resetState();
    void cleanupConnection();
    void reportError(const std::string& message);
    // The text with the stream key, the Icecast password and its Basic
    // credentials shown as "***", for the log and the user's eyes.
    std::string withoutSecrets(std::string text) const;

    // Reconnection (ondaline_reconnect.cpp).
    Reconnector::Hooks reconnectorHooks();
    void attemptReconnect() { reconnector_.attemptReconnect(); }
    void cancelReconnect() { reconnector_.cancelReconnect(); }
    bool reconnectPending() const { return reconnectTimer_.isScheduled(); }

    // Send queue and raw I/O (ondaline_send.cpp).
    void sendRaw(ByteView message);
    void flushSendQueue();
    void sendImmediate(ByteView bytes);
    void receiveExact(std::size_t count, std::function<void(std::optional<Bytes>)> handler);
    void receiveAvailable(std::function<void(std::optional<Bytes>)> handler);
    void receive(std::size_t minimum, std::size_t maximum, std::function<void(std::optional<Bytes>)> handler);
    void handleSendCompletion(const std::optional<std::string>& error, std::uint64_t epoch);

    // RTMP handshake and the read loop (ondaline_rtmp_session.cpp).
    void beginHandshake();
    void answerHandshake(std::optional<Bytes> reply);
    void startNegotiationTimer(std::uint64_t epoch);
    void startReading();
    void processReadBuffer();

    // Chunk writer and the client's messages (ondaline_rtmp_send.cpp).
    void sendMessage(std::uint8_t typeID, std::uint32_t streamID, std::uint8_t csID, ByteView data,
                     std::uint32_t timestamp = 0);
    void sendMediaMessage(std::uint8_t typeID, std::uint8_t csID, ByteView data, std::uint32_t timestamp);
    void sendCommand(std::optional<Bytes> payload, std::uint8_t csID = 3, std::uint32_t streamID = 0);
    void sendSetChunkSize(std::int64_t size);
    void sendConnect();
    void sendReleaseStream();
    void sendFCPublish();
    void sendCreateStream();
    void sendPublish();
    void sendFCUnpublish();
    void sendDeleteStream();
    void sendWindowAckSize(std::uint32_t size);
    void sendAcknowledgement(std::uint32_t sequence);
    void sendPingResponse(std::uint32_t timestamp);

    // What the server sends (ondaline_rtmp_dispatch.cpp, ondaline_rtmp_replies.cpp).
    bool handleMessage(std::uint8_t typeID, std::uint32_t streamID, const Bytes& data);
    void handleUserControl(const Bytes& data);
    void handleAMF0Command(const Bytes& data);
    void handleResult(const std::vector<AMF0Value>& values);
    void handleError(const std::vector<AMF0Value>& values);
    void handleOnStatus(const std::vector<AMF0Value>& values);
    void startPublishing();

    // Health watching (ondaline_health.cpp).
    void startHealthMonitor();
    void stopHealthMonitor();
    void healthCheck();
    void sendPingRequest(std::uint32_t sequence);
    void handleServerAck(const Bytes& data);
    void handlePongResponse(std::uint32_t value);
    void evaluateLatency(std::int64_t latencyMs);
    void triggerLatencyReconnect(const std::string& reason);
    void triggerHealthReconnect(const std::string& reason);
    void tearDownForMode();

    // Icecast source client (ondaline_icecast.cpp).
    void connectIcecast();
    void handleIcecastState(const platform::ConnectionState& state, std::uint64_t epoch);
    void sendIcecastSourceRequest(std::uint64_t epoch);
    void readIcecastResponse(std::uint64_t epoch);
    void judgeIcecastResponse(std::uint64_t epoch, bool peerClosed);
    void icecastAccepted(std::uint64_t epoch);
    void monitorIcecastConnection(std::uint64_t epoch);
    void cleanupIcecastConnection();
    std::shared_ptr<platform::Connection> currentIcecastConnection(std::uint64_t epoch) const;
    void startTitleUpdate(icecast::TitleUpdates::Update update);
    void titleUpdateEnded(std::uint64_t id);
    // Video (ondaline_video.cpp).
    bool setupVideoEncoder();
    void createBlackPixelBuffer();
    void destroyVideoEncoder();
    void startVideoTimer();
    void stopVideoTimer();
    void sendVideoFrame();
    void handleEncodedVideoFrame(const Bytes& data, bool keyFrame, std::int64_t pts);
    void extractAndSendVTSequenceHeader();
    void sendIcecastAudio(const Bytes& aacFrame, double sampleRate, std::uint32_t channels);

    // Audio (ondaline_audio_intake.cpp, ondaline_audio_encoder.cpp, ondaline_carrier.cpp).
    void appendPCM(std::vector<float> interleaved, double sampleRate);
    void scheduleDrain();
    bool setupEncoder();
    void destroyEncoder();
    void drainEncoder();
    void dropAudioAheadOfTheClock(Bytes& pcm, std::uint32_t channels, double sampleRate);
    bool holdingForLateAudio(std::uint32_t channels, double sampleRate);
    // The frame slot the stream clock has reached since the first frame;
    // none before it.
    std::optional<std::int64_t> videoClockSlot() const;
    void sendMetaData();
    void sendAACSequenceHeader();
    // The stream's sound starts here, beside the picture's first frame.
    void startSoundBesideThePicture(double now);
    void startCarrierWatchdog();
    void stopCarrierWatchdog();
    void carrierTick();
    void armCarrierCheck(platform::Timer::Clock::duration delay);  // the watchdog's next look
    void resetAudioState();

    // Helpers.
    void setState(StreamState state) { state_.set(state); }
    void announceStateChange();
    void notifyDelegate(std::function<void(OndalineDelegate&, Ondaline&)> call);
    struct Attempt {
        std::shared_ptr<platform::Connection> connection;  // absent after clean-up
        std::uint64_t epoch;
    };
    Attempt currentAttempt() const;
    // Makes `connection` the new attempt in `slot` (closing what was there),
    // routes its notices to `handle` and starts it on the network queue.
    using StateHandler = void (Ondaline::*)(const platform::ConnectionState&, std::uint64_t);
    std::uint64_t beginAttempt(std::shared_ptr<platform::Connection> Ondaline::*slot,
                               std::shared_ptr<platform::Connection> connection, StateHandler handle);
    bool isCurrentAttempt(std::uint64_t epoch) const;
    // The latest attempt, and its RTMP connection not yet cleaned up: once an
    // attempt has failed, its other reads and writes failing too is no news.
    bool isOpenAttempt(std::uint64_t epoch) const;
    bool isRTMPMode() const { return streamMode() != StreamMode::icecast; }

    const std::shared_ptr<platform::MainExecutor> mainExecutor_;
    const std::shared_ptr<const platform::Clock> clock_;

    // Declared first, destroyed last: everything below may post to them.
    platform::SerialQueue networkQueue_{"com.quillmere.streamer.net"};
    platform::SerialQueue encoderQueue_{"com.quillmere.streamer.enc"};

    mutable std::mutex delegateLock_;
    std::weak_ptr<OndalineDelegate> delegate_;

    StreamStateHolder state_;
    platform::Locked<Configuration> config_;
    platform::Locked<IcecastConfig> icecastConfig_;
    std::atomic<StreamMode> streamMode_{StreamMode::rtmp};

    std::atomic<std::uint64_t> totalBytesSent_{0};

    // The RTMP connection. The pointer is read by flushes on the encoder
    // queue, so it sits under its own lock; everything else about the
    // connection's life is network-queue only. Each attempt gets an epoch:
    // notices and completions of an older attempt are ignored.
    mutable std::mutex connectionLock_;
    std::shared_ptr<platform::Connection> connection_;
    std::uint64_t connectionEpoch_ = 0;  // the latest attempt started; under connectionLock_

    SendQueue sendQueue_;
    std::atomic<std::uint64_t> droppedVideoFrames_{0};

    // Reconnection (network queue): at most one retry waits in the timer.
    platform::Timer reconnectTimer_;
    Reconnector reconnector_;

    platform::Timer statsTimer_;

    // Server fields of the last parse (written on the network queue).
    platform::Locked<ServerFields> server_;

    // RTMP session (network queue, but for what the encoder queue's chunk
    // writer reads).
    struct RTMPSession {
        std::atomic<std::int64_t> outChunkSize{128};
        double nextTransactionID = 1;
        double createStreamTxID = 0;
        std::atomic<std::uint32_t> publishStreamID{0};
        std::uint32_t windowAckSize = 2500000;
        std::uint64_t totalBytesReceived = 0;
        std::uint64_t lastAckSent = 0;
        std::atomic<std::int64_t> messagesSentSincePublish{0};
    } rtmp_;
    rtmp::ChunkReader chunkReader_;  // readBuffer, chunkStreams and inChunkSize
    platform::Timer negotiationTimer_;

    // Health and latency watching (network queue).
    health::HealthMonitor health_;
    health::LatencyEvaluator latency_;
    health::LatencyReconnects latencyReconnects_;
    platform::Timer healthTimer_;

    // Audio. The stream's format is fixed when publishing starts; the
    // encoder, the packet loop and the carrier belong to the encoder queue.
    struct StreamFormat {
        double sampleRate = 44100;
        std::uint32_t channels = 2;
    };
    StreamFormat streamFormat() const { return streamFormat_.get(); }
    platform::Locked<StreamFormat> streamFormat_;
    media::PCMRing pcmRing_;
    std::unique_ptr<platform::AACEncoder> encoder_;
    Bytes encoderASC_;
    std::atomic<bool> aacSequenceHeaderSent_{false};
    media::AudioPacketLoop audioLoop_;
    media::AudioTimeline audioTimeline_;  // encoder queue; runs from the first frame (no picture: the carrier's start)
    // Encoder queue: the clock time of the last drain that found the audio
    // too far ahead; an episode of dropping is logged once, and ends after
    // 10 s within the limit.
    std::optional<double> aheadEpisodeLastTime_;
    // Encoder queue: since when the audio has been short of the clock past
    // its tolerance, held back a moment before silence makes it up; and the
    // drain that ends the moment.
    std::optional<double> shortfallSince_;
    platform::Timer shortfallTimer_;
    std::mutex resamplerLock_;  // one conversion at a time, whichever producer calls
    std::unique_ptr<platform::Resampler> resampler_;
    std::atomic<double> lastPCMReceivedTime_{0};
    double lastDropLogTime_ = -1e9;           // under resamplerLock_
    double lastResampleErrorLogTime_ = -1e9;  // under resamplerLock_
    std::atomic<std::uint64_t> diagTapDeliveries_{0};
    std::atomic<std::uint64_t> diagPCMBytesReceived_{0};
    std::atomic<std::uint64_t> diagDrainCalls_{0};
    std::atomic<double> diagLastTapTime_{0};
    struct Media {
        std::uint32_t lastAudioTimestamp = 0;
        std::uint32_t lastVideoTimestamp = 0;
    } media_;
    // Video, on the encoder queue; the current frame is replaced whole.
    using VideoFrame = std::shared_ptr<const Bytes>;  // 1280 × 720 BGRA
    platform::Locked<VideoFrame> videoPixelBuffer_;
    VideoFrame lastEncodedFrame_;  // held, so that no later frame can take its address
    std::unique_ptr<platform::H264Encoder> videoEncoder_;
    Bytes vtSPS_, vtPPS_;
    bool vtSequenceHeaderSent_ = false;
    std::atomic<std::int64_t> vtFrameCount_{0};
    std::optional<double> videoClockStart_;  // encoder queue: when the frame of slot 0 went out
    platform::Timer videoTimer_;
    platform::Timer carrierTimer_;
    std::optional<media::CarrierGenerator> carrier_;
    bool carrierActive_ = false;
    double lastCarrierTick_ = 0;

    // Icecast: the SOURCE connection sits beside the RTMP one under
    // connectionLock_ and shares its attempt epochs.
    std::shared_ptr<platform::Connection> icecastConnection_;
    std::shared_ptr<icecast::Backlog> icecastBacklog_;  // a fresh one for each accepted source
    std::atomic<bool> icecastConnected_{false};
    std::string icecastReply_;  // network queue
    platform::Timer icecastReplyTimer_;
    icecast::TitleUpdates titleUpdates_;  // network queue

    platform::Locked<NowPlayingConfig> nowPlayingConfig_;
    platform::Locked<VisualizationConfig> vizConfig_;
    platform::Locked<CrawlerConfig> crawlerConfig_;
    platform::Locked<std::vector<float>> spectrumLevels_{std::vector<float>(40, 0.0f)};
    platform::Locked<std::string> currentSongText_;
    platform::Locked<std::optional<std::string>> videoImagePath_;
    platform::Locked<std::string> crawlerFilePath_;
    media::FrameRenderer renderer_{videoWidth, videoHeight};

    std::once_flag carrierOnce_;
    Bytes carrierBuffer_;
};

}  // namespace ondaline
