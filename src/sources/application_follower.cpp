#include "sources/application_follower.h"

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
        self->report({Kind::ended, reason});
        self->lookSoon();  // it may play on in a new stream, or come back later
    });
    follower->lookSoon();
    return follower;
}

ApplicationFollower::ApplicationFollower(Passkey, std::shared_ptr<AudioSourceCapture> capture, ApplicationChoice choice,
                                         StatusHandler onStatus)
    : capture_(std::move(capture)), onStatus_(std::move(onStatus)),
      shownName_(choice.name.empty() ? choice.binary : choice.name), tracker_(std::move(choice))
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

bool ApplicationFollower::listApplications(platform::SoundServerApplications& into)
{
    std::string error;
    if (!watch_) {
        watch_ = platform::ApplicationsWatch::open(error);
        if (!watch_) return false;
        // On the server's thread, which only ever runs while the watch exists.
        watch_->setChangeListener([this] { lookSoon(); });
    }
    if (watch_->list(into, error)) return true;
    watch_.reset();
    return false;
}

void ApplicationFollower::look()
{
    if (stopped_) return;
    platform::SoundServerApplications found;
    if (!listApplications(found)) {
        report({Kind::noServer, "no sound server"});
        retry_.scheduleAfter(platform::ApplicationsWatch::serverRetry, [weak = weak_from_this()] {
            if (const auto self = weak.lock()) self->look();
        });
        return;
    }
    // Also while it is captured: who plays beside it is worth knowing.
    const auto decision = tracker_.decide(AudioSourceCapture::sourcesFrom(found.playing), found.connectedProcesses);
    if (capture_->isCapturing()) return;
    using Decision = ApplicationTracker::Decision;
    if (decision.kind == Decision::Kind::notPlaying) {
        report({Kind::notPlaying, "'" + shownName_ + "' is not playing"});
        return;
    }
    if (decision.kind == Decision::Kind::ambiguous) {
        report({Kind::ambiguous, std::to_string(decision.matching) + " applications named '" + shownName_ + "' play"});
        return;
    }
    const auto failure = capture_->startCapture(*decision.source);
    // A stop that came meanwhile has the last word.
    if (stopped_) {
        capture_->stopCapture();
        return;
    }
    if (failure) {
        report({Kind::failed, *failure});
        return;
    }
    if (!capture_->isCapturing()) return;
    report({Kind::capturing, {}, captured_});
    captured_ = true;
}

// Each status once, until another comes; a start and an end always.
void ApplicationFollower::report(Status status)
{
    {
        std::lock_guard lock(statusMutex_);
        const bool repeated = last_ && last_->kind == status.kind && last_->text == status.text;
        if (repeated && status.kind != Kind::capturing && status.kind != Kind::ended) return;
        last_ = status;
    }
    if (onStatus_ && !stopped_) onStatus_(status);
}

}  // namespace ondaline::sources
