// The video track of an RTMP stream: the H.264 encoder on the encoder
// queue, the frame timer with its back-pressure rule, and the FLV video tags.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/commands.h"
#include "media/flv_video.h"
#include "platform/codec/h264_encoder.h"

#include <cstdio>

namespace ondaline {

namespace {
constexpr auto framePeriod = std::chrono::nanoseconds(41708333);  // 1001/24000 s
}

bool Ondaline::setupVideoEncoder()
{
    bool ready = false;
    encoderQueue_.sync([&] {
        auto created = platform::H264Encoder::create({});
        if (auto* failed = std::get_if<platform::H264Encoder::Failure>(&created)) {
            print("Ondaline: Failed to create H.264 encoder (status " + std::to_string(failed->status) + ")");
            return;
        }
        videoEncoder_ = std::move(std::get<std::unique_ptr<platform::H264Encoder>>(created));
        vtFrameCount_ = 0;
        videoClockStart_.reset();
        vtSequenceHeaderSent_ = false;
        createBlackPixelBuffer();
        char fps[16];
        std::snprintf(fps, sizeof fps, "%.3f", 24000.0 / 1001.0);
        print(std::string("Ondaline: H.264 encoder (x264) ready — 1280×720, 1200kbps, Main 3.1, ") + fps +
              "fps, keyframe every 48 frames (2s)");
        ready = true;
    });
    return ready;
}

void Ondaline::createBlackPixelBuffer()
{
    videoPixelBuffer_.set(std::make_shared<const Bytes>(std::size_t(videoWidth) * videoHeight * 4, 0));
}

void Ondaline::destroyVideoEncoder()
{
    // On the encoder queue, so no tick can be using the encoder or the frame.
    encoderQueue_.sync([this] {
        videoEncoder_.reset();
        vtSPS_.clear();
        vtPPS_.clear();
        videoPixelBuffer_.set(nullptr);
        lastEncodedFrame_.reset();
        vtSequenceHeaderSent_ = false;
        vtFrameCount_ = 0;
        videoClockStart_.reset();
    });
}

void Ondaline::startVideoTimer()
{
    videoTimer_.scheduleRepeating(platform::Timer::Clock::now() + framePeriod, framePeriod,
                                  [weakSelf = weak_from_this()] {
                                      if (const auto self = weakSelf.lock();
                                          self && self->state() == StreamState::publishing)
                                          self->sendVideoFrame();
                                  });
}

void Ondaline::stopVideoTimer() { videoTimer_.cancel(); }

bool Ondaline::loadVideoImage(const std::string& path)
{
    std::string problem;
    if (!renderer_.loadBackground(path, &problem)) {
        if (!problem.empty()) print("Ondaline: ⚠ Image file not used — " + path + ": " + problem);
        print("Ondaline: Failed to load image: " + path);
        return false;
    }
    renderVideoOverlay();
    print("Ondaline: Loaded video image — " +
          path.substr(path.rfind('/') == std::string::npos ? 0 : path.rfind('/') + 1));
    return true;
}

void Ondaline::renderVideoOverlay()
{
    const media::OverlayInputs inputs{currentSongText(), nowPlayingConfig(), vizConfig(), crawlerConfig(),
                                      spectrumLevels()};
    videoPixelBuffer_.set(renderer_.render(inputs));
}

// One frame tick, on the encoder queue.
void Ondaline::sendVideoFrame()
{
    const bool barsOn = vizConfig().enabled, crawlerOn = crawlerConfig().enabled;
    if (barsOn || crawlerOn) renderVideoOverlay();  // moving overlays: a new picture each tick
    if (crawlerOn) renderer_.pollCrawlerFile(crawlerFilePath(), clock_->now());
    const VideoFrame frame = videoPixelBuffer_.get();
    if (state() != StreamState::publishing || !videoEncoder_ || !frame) return;

    // The frame takes the slot the clock says, as audio is held to the
    // clock: ticks missed under load are skipped, not shifted, so the
    // picture never falls behind the sound. A key-frame slot skipped over
    // passes its key frame on to this one.
    bool passedKeyFrameSlot = false;
    if (const auto slot = videoClockSlot(); slot && *slot > vtFrameCount_) {
        passedKeyFrameSlot = *slot / videoKeyframeInterval > vtFrameCount_ / videoKeyframeInterval;
        vtFrameCount_ = *slot;
    }
    const std::int64_t count = vtFrameCount_;
    const std::int64_t queued = sendQueue_.sendQueueBytes();
    if (queued > maxSendQueueBytes) {
        const bool keyFrameSlot = count <= 0 || (count + 1) % videoKeyframeInterval == 0 || passedKeyFrameSlot;
        if (!keyFrameSlot) {
            const std::uint64_t dropped = ++droppedVideoFrames_;
            ++vtFrameCount_;  // presentation times keep pace with the ticks
            if (dropped % 10 == 1) {
                print("Ondaline: Dropping video frame (queue " + std::to_string(queued / 1024) + "KB > " +
                      std::to_string(maxSendQueueBytes / 1024) + "KB, " + std::to_string(dropped) + " total dropped)");
            }
            return;
        }
    }
    const std::int64_t n = ++vtFrameCount_;
    const bool forceKeyFrame = n <= 1 || n % videoKeyframeInterval == 0 || passedKeyFrameSlot;
    // A still is converted for the encoder once, not at every tick; a frame
    // drawn again only where its overlays moved is converted only there.
    const auto changedRows = renderer_.changedRows(lastEncodedFrame_, frame);
    auto result = videoEncoder_->encode(*frame, count, forceKeyFrame, frame == lastEncodedFrame_,
                                        changedRows ? std::optional<std::span<const platform::RowRange>>(*changedRows)
                                                    : std::nullopt);
    lastEncodedFrame_ = frame;
    // The picture's clock, and the sound's with it, begin as the first frame
    // goes out: its encoding, the encoder's slowest, is not counted as time
    // the sound must already fill.
    if (n == 1) {
        videoClockStart_ = clock_->now();
        if (!audioTimeline_.running()) startSoundBesideThePicture(*videoClockStart_);
    }
    if (auto* frames = std::get_if<std::vector<platform::H264Encoder::Frame>>(&result)) {
        for (const auto& coded : *frames) handleEncodedVideoFrame(coded.data, coded.keyFrame, coded.pts);
    }
}

std::optional<std::int64_t> Ondaline::videoClockSlot() const
{
    if (!videoClockStart_) return std::nullopt;
    const double elapsed = clock_->now() - *videoClockStart_;
    if (!(elapsed > 0)) return std::nullopt;
    return static_cast<std::int64_t>(elapsed * videoFPSNum / videoFPSDen);
}

void Ondaline::handleEncodedVideoFrame(const Bytes& data, bool keyFrame, std::int64_t pts)
{
    if (state() != StreamState::publishing || data.empty()) return;
    if (!vtSequenceHeaderSent_) extractAndSendVTSequenceHeader();
    if (!vtSequenceHeaderSent_) return;  // no coded frame before the sequence header
    const double seconds = static_cast<double>(pts * videoFPSDen) / videoFPSNum;
    const auto milliseconds = static_cast<std::uint32_t>(seconds * 1000.0);
    sendMediaMessage(rtmp::videoType, rtmp::videoChunkStream, media::videoTagBody(keyFrame, 1, data), milliseconds);
}

void Ondaline::extractAndSendVTSequenceHeader()
{
    if (!videoEncoder_) return;
    if (videoEncoder_->sps().empty()) {
        print("Ondaline: Failed to extract SPS from the H.264 encoder");
        return;
    }
    if (videoEncoder_->pps().empty()) {
        print("Ondaline: Failed to extract PPS from the H.264 encoder");
        return;
    }
    vtSPS_ = videoEncoder_->sps();
    vtPPS_ = videoEncoder_->pps();
    const auto record = media::avcDecoderConfigurationRecord(vtSPS_, vtPPS_);
    if (!record) return;
    sendMessage(rtmp::videoType, rtmp_.publishStreamID.load(), rtmp::videoChunkStream,
                media::videoTagBody(true, 0, *record));
    flushSendQueue();
    vtSequenceHeaderSent_ = true;
    print("Ondaline: Sent H.264 sequence header — SPS " + std::to_string(vtSPS_.size()) + "B, PPS " +
          std::to_string(vtPPS_.size()) + "B");
}

}  // namespace ondaline
