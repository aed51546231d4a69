// The Icecast source client: SOURCE connection, reply, monitoring, ADTS
// audio, title updates and teardown.

#include "engine/ondaline.h"

#include "base/print.h"
#include "engine/icecast/icecast_backlog.h"
#include "engine/icecast/icecast_protocol.h"
#include "platform/net/connection.h"
#include "platform/text.h"

namespace ondaline {

namespace {

constexpr std::size_t replyLimit = 4096;
constexpr auto replyTimeLimit = std::chrono::seconds(10);
constexpr auto metadataTimeLimit = std::chrono::seconds(10);

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

// What the server said, one log line for each of its lines, each under
// `heading`: a line of its could otherwise pass for one of ours.
void printServerText(std::string_view heading, std::string_view text)
{
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        std::string_view line = text.substr(start, end - start);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (!line.empty()) print(std::string(heading) + std::string(line));
        start = end + 1;
    }
}

}  // namespace

std::shared_ptr<platform::Connection> Ondaline::currentIcecastConnection(std::uint64_t epoch) const
{
    std::lock_guard lock(connectionLock_);
    return epoch == connectionEpoch_ ? icecastConnection_ : nullptr;
}

void Ondaline::connectIcecast()
{
    const IcecastConfig icecast = icecastConfig();
    if (icecast.host.empty()) {
        reportError("Icecast server host is empty");
        return;
    }
    if (icecast.password.empty()) {
        reportError("Icecast source password is empty");
        return;
    }
    resetState();
    titleUpdates_.clear();  // a title for the previous stream has no place on this one
    setState(StreamState::connecting);
    print("Ondaline: Icecast connecting to " + icecast.host + ":" + std::to_string(icecast.port) +
          icecast::mountPath(icecast.mountPoint));

    platform::ConnectionOptions options;
    options.connectTimeout = std::chrono::seconds(15);
    options.ipv4Only = false;
    options.fastOpen = false;
    // Each AAC frame leaves from the encoder's thread as it is made, without
    // a hop to the network queue (two wake-ups a frame otherwise).
    options.writeOnCallersThread = true;
    auto connection = std::make_shared<platform::Connection>(icecast.host, icecast.port, options);
    beginAttempt(&Ondaline::icecastConnection_, std::move(connection), &Ondaline::handleIcecastState);
    startStatisticsTimer();
}

void Ondaline::handleIcecastState(const platform::ConnectionState& notice, std::uint64_t epoch)
{
    if (!isCurrentAttempt(epoch)) return;
    using Kind = platform::ConnectionState::Kind;
    switch (notice.kind) {
    case Kind::ready:
        print("Ondaline: Icecast TCP connected — sending SOURCE request");
        setState(StreamState::negotiating);
        sendIcecastSourceRequest(epoch);
        break;
    case Kind::failed:
        print("Ondaline: Icecast connection failed: " + notice.error);
        cleanupIcecastConnection();
        if (reconnector_.wasPublishing()) attemptReconnect();
        else reportError("Icecast connection failed: " + notice.error);
        break;
    case Kind::cancelled:
        if (state() != StreamState::idle) setState(StreamState::idle);
        break;
    case Kind::preparing:
        break;
    }
}

void Ondaline::sendIcecastSourceRequest(std::uint64_t epoch)
{
    const auto connection = currentIcecastConnection(epoch);
    if (!connection) return;
    const std::string request = icecast::sourceRequest(icecastConfig(), config());
    print(PrintFormat{.keepLineBreaks = true},
          "Ondaline: Icecast SOURCE request:\n" + icecast::withoutCredentials(request));
    connection->send(bytesOf(request), [weakSelf = weak_from_this(), epoch](const std::optional<std::string>& error) {
        const auto self = weakSelf.lock();
        if (!self || !self->isCurrentAttempt(epoch)) return;
        if (error) self->reportError("Icecast: Failed to send SOURCE request: " + *error);
        else self->readIcecastResponse(epoch);
    });
}

// The reply is read up to its blank line, at most replyLimit bytes, within
// replyTimeLimit; a header value that merely contains "200" decides nothing.
void Ondaline::readIcecastResponse(std::uint64_t epoch)
{
    const auto connection = currentIcecastConnection(epoch);
    if (!connection) return;
    if (icecastReply_.empty()) {
        icecastReplyTimer_.scheduleAfter(replyTimeLimit, [weakSelf = weak_from_this(), epoch] {
            const auto self = weakSelf.lock();
            if (self && self->isCurrentAttempt(epoch) && self->state() == StreamState::negotiating) {
                self->reportError("Icecast: Failed to read response: timed out");
            }
        });
    }
    connection->receive(1, replyLimit - icecastReply_.size(),
                        [weakSelf = weak_from_this(), epoch](platform::ReceiveResult result) {
                            const auto self = weakSelf.lock();
                            if (!self || !self->isCurrentAttempt(epoch)) return;
                            if (result.error) {
                                self->icecastReplyTimer_.cancel();
                                self->reportError("Icecast: Failed to read response: " + *result.error);
                                return;
                            }
                            self->icecastReply_.append(result.bytes.begin(), result.bytes.end());
                            const bool closed = result.bytes.empty();
                            if (!closed && !icecast::headerEnd(self->icecastReply_) &&
                                self->icecastReply_.size() < replyLimit) {
                                self->readIcecastResponse(epoch);  // more of the header to come
                                return;
                            }
                            self->judgeIcecastResponse(epoch, closed);
                        });
}

void Ondaline::judgeIcecastResponse(std::uint64_t epoch, bool)
{
    icecastReplyTimer_.cancel();
    const std::string reply = std::exchange(icecastReply_, std::string());
    if (reply.empty() || !platform::isValidUTF8(reply)) {
        reportError("Icecast: Empty response from server");
        return;
    }
    const auto end = icecast::headerEnd(reply).value_or(reply.size());
    printServerText("Ondaline: Icecast server response: ",
                    withoutSecrets(std::string(platform::trimWhitespaceAndNewlines(reply.substr(0, end)))));
    const auto verdict = icecast::judgeReply(reply);
    if (verdict.verdict != icecast::Reply::Verdict::accepted) {
        reportError(verdict.message);
        return;
    }
    icecastAccepted(epoch);
}

void Ondaline::icecastAccepted(std::uint64_t epoch)
{
    print("Ondaline: ✓ Icecast connected! Starting audio stream.");
    const Configuration settings = config();
    streamFormat_.set({settings.sampleRate, settings.channels});
    encoderQueue_.sync([this] {
        pcmRing_.clear();
        audioLoop_.reset();
        audioTimeline_.stop();
    });
    {
        std::lock_guard lock(connectionLock_);
        icecastBacklog_ = std::make_shared<icecast::Backlog>();
    }
    icecastConnected_ = true;
    setState(StreamState::publishing);
    health_.streamStartTime = clock_->now();
    // As over RTMP, only a stream whose encoder came up counts as live, so a
    // failing encoder cannot turn into an endless reconnect loop.
    if (setupEncoder()) {
        reconnector_.streamWentLive();
        print("Ondaline: Icecast AAC encoder ready — " + std::to_string(settings.audioBitrate / 1000) + "kbps");
        startCarrierWatchdog();
        notifyDelegate([](OndalineDelegate& delegate, Ondaline& self) { delegate.ondalineDidConnect(self); });
    }
    monitorIcecastConnection(epoch);
}

void Ondaline::monitorIcecastConnection(std::uint64_t epoch)
{
    const auto connection = currentIcecastConnection(epoch);
    if (!connection) return;
    connection->receive(1, replyLimit, [weakSelf = weak_from_this(), epoch](platform::ReceiveResult result) {
        const auto self = weakSelf.lock();
        if (!self || !self->isCurrentAttempt(epoch)) return;
        const bool ended = result.error.has_value() || result.bytes.empty();
        if (!ended) {
            const std::string text(result.bytes.begin(), result.bytes.end());
            if (platform::isValidUTF8(text)) {
                printServerText("Ondaline: Icecast server message: ",
                                self->withoutSecrets(std::string(platform::trimWhitespaceAndNewlines(text))));
            }
            self->monitorIcecastConnection(epoch);
            return;
        }
        print("Ondaline: Icecast connection lost");
        self->icecastConnected_ = false;
        if (self->state() != StreamState::publishing) return;
        self->setState(StreamState::error);
        self->cleanupIcecastConnection();
        if (self->reconnector_.wasPublishing()) self->attemptReconnect();
    });
}

// On the encoder queue. The connection queues whatever it is handed, so the
// backlog is watched here: a dead or far too narrow link would otherwise
// hold the stream "live" for ever while memory grows.
void Ondaline::sendIcecastAudio(const Bytes& aacFrame, double sampleRate, std::uint32_t channels)
{
    if (!icecastConnected_) return;
    std::shared_ptr<platform::Connection> connection;
    std::shared_ptr<icecast::Backlog> backlog;
    std::uint64_t epoch;
    {
        std::lock_guard lock(connectionLock_);
        connection = icecastConnection_;
        backlog = icecastBacklog_;
        epoch = connectionEpoch_;
    }
    if (!connection || !backlog) return;
    if (const auto stall = backlog->stall(clock_->now())) {
        icecastConnected_ = false;  // nothing more for this connection; one report
        networkQueue_.async([weakSelf = weak_from_this(), epoch, reason = *stall] {
            const auto self = weakSelf.lock();
            if (!self || !self->isCurrentAttempt(epoch) || self->state() != StreamState::publishing) return;
            self->reportError("Icecast: connection stalled (" + reason + ")");
        });
        return;
    }
    auto frame = icecast::buildADTSFrame(aacFrame, sampleRate, channels);
    if (!frame) return;  // longer than ADTS can describe; no encoder setting makes one
    const std::size_t size = frame->size();
    backlog->handed(size, clock_->now());
    connection->send(std::move(*frame),
                     [weakSelf = weak_from_this(), epoch, backlog, size](const std::optional<std::string>& error) {
                         const auto self = weakSelf.lock();
                         if (!self) return;
                         backlog->finished(size, !error, self->clock_->now());
                         // A connection closed on purpose drops what it still held; no news.
                         if (!error || !self->currentIcecastConnection(epoch)) return;
                         print("Ondaline: Icecast send error: " + *error);
                         self->icecastConnected_ = false;
                     });
    totalBytesSent_ += size;
}

void Ondaline::updateIcecastMetadata(const std::string& song)
{
    if (streamMode() != StreamMode::icecast || !icecastConnected_) return;
    networkQueue_.async([weakSelf = weak_from_this(), song] {
        const auto self = weakSelf.lock();
        if (!self || !self->icecastConnected_) return;  // torn down meanwhile
        if (auto update = self->titleUpdates_.request(song)) self->startTitleUpdate(std::move(*update));
    });
}

// On the network queue. The update ends once: with the reply, a failure, or
// the time limit, which closes its connection whether or not the server
// answered. The time limit's task is what holds the connection.
void Ondaline::startTitleUpdate(icecast::TitleUpdates::Update update)
{
    const IcecastConfig icecast = icecastConfig();
    auto request = std::make_shared<const Bytes>(bytesOf(icecast::metadataRequest(icecast, update.song)));
    platform::ConnectionOptions options;
    options.noDelay = false;
    options.keepAlive = false;
    options.fastOpen = false;
    options.ipv4Only = false;
    auto connection = std::make_shared<platform::Connection>(icecast.host, icecast.port, options);
    std::weak_ptr<platform::Connection> weakConnection = connection;

    struct Progress {
        std::uint64_t id;
        std::string song;
        bool ended = false;  // network queue
    };
    auto progress = std::make_shared<Progress>(Progress{update.id, std::move(update.song)});
    auto end = [weakSelf = weak_from_this(), weakConnection, progress](std::optional<std::string> failure) {
        if (std::exchange(progress->ended, true)) return;
        if (failure) print("Ondaline: Icecast metadata update failed: " + *failure);
        if (const auto open = weakConnection.lock()) open->cancel();
        if (const auto self = weakSelf.lock()) self->titleUpdateEnded(progress->id);
    };

    connection->setStateHandler([weakConnection, request, progress, end](const platform::ConnectionState& notice) {
        if (notice.kind == platform::ConnectionState::Kind::failed) return end(notice.error);
        if (notice.kind != platform::ConnectionState::Kind::ready) return;
        const auto ready = weakConnection.lock();
        if (!ready) return;
        ready->send(*request, [weakConnection, progress, end](const std::optional<std::string>& error) {
            if (error) return end(*error);
            const auto sent = weakConnection.lock();
            if (!sent) return;
            sent->receive(1, 1024, [progress, end](platform::ReceiveResult result) {
                if (result.error) return end(*result.error);
                if (result.bytes.empty()) return end("closed without a reply");
                const std::string_view received(reinterpret_cast<const char*>(result.bytes.data()),
                                                result.bytes.size());
                if (const auto reply = icecast::judgeMetadataReply(received)) {
                    if (reply->updated) print("Ondaline: Icecast metadata updated — " + progress->song);
                    else print("Ondaline: Icecast metadata update response: " + reply->excerpt);
                }
                end(std::nullopt);
            });
        });
    });
    connection->start(networkQueue_);
    networkQueue_.asyncAfter(metadataTimeLimit, [connection, end] {
        end("no reply within " + std::to_string(metadataTimeLimit.count()) + "s");
    });
}

void Ondaline::titleUpdateEnded(std::uint64_t id)
{
    auto next = titleUpdates_.finished(id);
    if (!next) return;
    if (icecastConnected_) startTitleUpdate(std::move(*next));
    else titleUpdates_.clear();  // the stream it was meant for has gone
}

void Ondaline::cleanupIcecastConnection()
{
    stopCarrierWatchdog();
    icecastConnected_ = false;
    titleUpdates_.clear();
    icecastReplyTimer_.cancel();
    icecastReply_.clear();
    std::shared_ptr<platform::Connection> connection;
    {
        std::lock_guard lock(connectionLock_);
        connection = std::exchange(icecastConnection_, nullptr);
        icecastBacklog_.reset();
    }
    if (connection) connection->cancel();
    statsTimer_.cancel();
    destroyEncoder();
}

}  // namespace ondaline
