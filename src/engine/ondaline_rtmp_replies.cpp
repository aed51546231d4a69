// The server's command replies, and going live.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/rtmp/replies.h"

namespace ondaline {

void Ondaline::handleAMF0Command(const Bytes& data)
{
    const auto values = rtmp::decodeCommand(data);
    const auto name = rtmp::commandName(values);
    if (!name) return;
    print("Ondaline: Received command: " + *name);
    if (*name == "_result") handleResult(values);
    else if (*name == "_error") handleError(values);
    else if (*name == "onStatus") handleOnStatus(values);
}

void Ondaline::handleResult(const std::vector<AMF0Value>& values)
{
    const auto action = rtmp::interpretResult(values, rtmp_.createStreamTxID);
    switch (action.kind) {
    case rtmp::ResultAction::Kind::connectAccepted:
        print("Ondaline: connect accepted — sending releaseStream/FCPublish/createStream");
        sendReleaseStream();
        sendFCPublish();
        sendCreateStream();
        break;
    case rtmp::ResultAction::Kind::streamCreated:
        rtmp_.publishStreamID = action.streamID;
        print("Ondaline: Got stream ID = " + std::to_string(action.streamID) + " — publishing");
        sendPublish();
        break;
    case rtmp::ResultAction::Kind::badStreamID:
        reportError("RTMP protocol error: server gave an invalid stream id");
        break;
    case rtmp::ResultAction::Kind::none:
        break;
    }
}

void Ondaline::handleError(const std::vector<AMF0Value>& values) { reportError(rtmp::errorMessage(values)); }

void Ondaline::handleOnStatus(const std::vector<AMF0Value>& values)
{
    const auto code = rtmp::statusCode(values);
    if (!code) return;
    print("Ondaline: onStatus code=" + *code);
    // A server that refuses says so with level "error" (nginx answers a key
    // already publishing with BadName): the user hears it now, not as a
    // negotiation time-out 15 s later.
    if (const auto refusal = rtmp::statusErrorMessage(values)) {
        reportError(*refusal);
        return;
    }
    switch (rtmp::classifyStatus(*code)) {
    case rtmp::StatusMeaning::publishStart:
        startPublishing();
        break;
    case rtmp::StatusMeaning::failure:
        reportError("Publish failed: " + *code);
        break;
    case rtmp::StatusMeaning::informational:
        break;
    }
}

void Ondaline::startPublishing()
{
    negotiationTimer_.cancel();
    print("Ondaline: ✓ Publishing live!");
    const Configuration settings = config();
    streamFormat_.set({settings.sampleRate, settings.channels});
    setState(StreamState::publishing);

    const double now = clock_->now();
    health_.streamStartTime = now;
    health_.lastSuccessfulPublishTime = now;
    health_.lastThroughputLogTime = clock_->now();
    health_.lastThroughputLogBytes = totalBytesSent();
    latencyReconnects_.reset();
    encoderQueue_.sync([this] {
        media_.lastAudioTimestamp = 0;
        media_.lastVideoTimestamp = 0;
        pcmRing_.clear();
        audioLoop_.reset();
        audioTimeline_.stop();
    });

    // Only a stream whose encoder came up counts as live: a failing encoder
    // is reported (by setupEncoder) without resetting the retry count, so a
    // reconnect loop stays bounded.
    if (!setupEncoder()) return;
    reconnector_.streamWentLive();

    sendMetaData();
    sendAACSequenceHeader();
    if (setupVideoEncoder()) {
        const auto image = videoImagePath();
        if (!image || image->empty() || !loadVideoImage(*image)) {
            createBlackPixelBuffer();
            print("Ondaline: No image configured — using black frame");
        } else {
            print("Ondaline: Video image loaded — full video enabled");
        }
        encoderQueue_.sync([this] { sendVideoFrame(); });  // the first frame at once
        startVideoTimer();
        print("Ondaline: Video started immediately alongside audio");
    }
    startCarrierWatchdog();
    startHealthMonitor();
    notifyDelegate([](OndalineDelegate& delegate, Ondaline& self) { delegate.ondalineDidConnect(self); });
}

}  // namespace ondaline
