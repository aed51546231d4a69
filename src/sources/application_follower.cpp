#include "sources/application_follower.h"

#include "platform/text.h"

namespace ondaline::sources {

using Kind = ApplicationFollower::Status::Kind;

std::string ApplicationFollower::Status::waitingText() const
{
    switch (kind) {
    case Kind::notPlaying:
    case Kind::noServer:
        return text + " — waiting for it";
    case Kind::ambiguous:
        return text + " — pick one in Settings";
    case Kind::capturing:
    case Kind::ended:
    case Kind::failed:
        break;
    }
    return text;
}

std::shared_ptr<ApplicationFollower> ApplicationFollower::start(std::shared_ptr<AudioSourceCapture> capture,
                                                                ApplicationChoice choice, StatusHandler onStatus)
{
    auto follower = std::make_shared<ApplicationFollower>(Passkey{}, std::move(capture), std::move(choice),
                                                          std::move(onStatus));
    follower->capture_->setOnError([weak = std::weak_ptr(follower)](const std::string& reason) {
        const auto self = weak.lock();
        if (!self || self->stopped_) return;
        self->ended(reason);
        self->lookSoon();  // it may play on in a new stream, or come back later
    });
    follower->lookSoon();
    return follower;
}

ApplicationFollower::ApplicationFollower(Passkey, std::shared_ptr<AudioSourceCapture> capture, ApplicationChoice choice,
                                         StatusHandler onStatus)
    : capture_(std::move(capture)), onStatus_(std::move(onStatus)),
      shownName_(platform::withFormatCharactersShown(choice.name.empty() ? choice.binary : choice.name)),
      tracker_(std::move(choice))
{
}

void ApplicationFollower::stop()
{
    stopped_ = true;
    capture_->stopCapture();
}

void ApplicationFollower::waitForLook()
{
    queue_.sync([] {});
}

void ApplicationFollower::lookSoon()
{
    if (stopped_ || lookQueued_.exchange(true)) return;
    queue_.async([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->lookQueued_ = false;
            self->look();
        }
    });
}

void ApplicationFollower::look(bool afterFailure)
{
    if (stopped_) return;
    platform::SoundServerApplications found;
    // The watch's news comes on the server's thread, which runs only while
    // the watch exists.
    if (!platform::ApplicationsWatch::listKeptOpen(
            watch_, [this] { lookSoon(); }, found)) {
        report({Kind::noServer, "no sound server"});
        retry_.scheduleAfter(platform::ApplicationsWatch::serverRetry, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->look();
        });
        return;
    }
    // Also while it is captured: who plays beside it is worth knowing.
    const auto decision = tracker_.decide(AudioSourceCapture::sourcesFrom(found.playing), found.connectedProcesses);
    {
        // A capture whose end is not told yet counts as running: its end
        // comes first, then a look of its own.
        std::lock_guard lock(reportMutex_);
        if (capture_->isCapturing() || state_ != CaptureState::idle) return;
        using Decision = ApplicationTracker::Decision;
        if (decision.kind == Decision::Kind::notPlaying) {
            tell({Kind::notPlaying, "'" + shownName_ + "' is not playing"});
            return;
        }
        if (decision.kind == Decision::Kind::ambiguous) {
            tell({Kind::ambiguous,
                  std::to_string(decision.matching) + " applications named '" + shownName_ + "' play"});
            return;
        }
        state_ = CaptureState::starting;
    }
    const auto failure = capture_->startCapture(*decision.source);
    // A stop that came meanwhile has the last word.
    if (stopped_) {
        capture_->stopCapture();
        return;
    }
    if (failure) {
        {
            std::lock_guard lock(reportMutex_);
            state_ = CaptureState::idle;
        }
        // It may have gone between the list and the start: one more look
        // tells what is true now, and the failure only if it still plays.
        if (!afterFailure) return look(true);
        report({Kind::failed, *failure});
        return;
    }
    std::lock_guard lock(reportMutex_);
    // Unless its end came first and told it.
    if (state_ == CaptureState::starting) announceStart();
}

void ApplicationFollower::ended(const std::string& reason)
{
    std::lock_guard lock(reportMutex_);
    if (state_ == CaptureState::starting) announceStart();
    state_ = CaptureState::idle;
    tell({Kind::ended, reason});
}

void ApplicationFollower::announceStart()
{
    state_ = CaptureState::running;
    tell({Kind::capturing, {}, captured_});
    captured_ = true;
}

void ApplicationFollower::report(Status status)
{
    std::lock_guard lock(reportMutex_);
    tell(std::move(status));
}

// Each status once, until another comes; a start and an end always. Under
// the lock, so that statuses from the queue and the capture keep their order.
void ApplicationFollower::tell(Status status)
{
    const bool repeated = last_ && last_->kind == status.kind && last_->text == status.text;
    if (repeated && status.kind != Kind::capturing && status.kind != Kind::ended) return;
    last_ = status;
    if (onStatus_ && !stopped_) onStatus_(status);
}

}  // namespace ondaline::sources
