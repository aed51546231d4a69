#pragma once

// Keeps a capture on the chosen application for as long as it is wanted:
// it starts the capture when the application plays, and again whenever it
// plays after an end, and tells what it finds. It never captures another
// application in its place.
//
// Threads: it looks at the sound server on a queue of its own, woken by
// the server's news of streams and clients and, while the server is away,
// by a timer. Statuses come on that queue, or on the capture's queue for
// the end of a capture (and its start, when the end is learnt first).

#include "platform/audio/playing_applications.h"
#include "platform/dispatch/serial_queue.h"
#include "platform/dispatch/timer.h"
#include "sources/application_choice.h"
#include "sources/audio_source_capture.h"

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace ondaline::sources {

class ApplicationFollower : public std::enable_shared_from_this<ApplicationFollower> {
    struct Passkey {};

public:
    struct Status {
        enum class Kind {
            capturing,   // the capture started
            ended,       // the capture ended by itself; `text` says why
            notPlaying,  // the application plays nowhere now
            ambiguous,   // several of that binary and name play
            noServer,    // no sound server answers
            failed,      // the capture could not start; `text` says why
        };
        Kind kind;
        std::string text;    // why, for people: "'Auto' is not playing"
        bool again = false;  // capturing: after an earlier capture ended

        // What the text means for the capture: "'Auto' is not playing —
        // waiting for it".
        std::string waitingText() const;
    };
    using StatusHandler = std::function<void(const Status& status)>;

    // Follows `choice` with `capture`, whose error handler it takes over.
    static std::shared_ptr<ApplicationFollower> start(std::shared_ptr<AudioSourceCapture> capture,
                                                      ApplicationChoice choice, StatusHandler onStatus);
    ApplicationFollower(Passkey, std::shared_ptr<AudioSourceCapture> capture, ApplicationChoice choice,
                        StatusHandler onStatus);

    // From the main thread: no capture is started any more and the one
    // running stops. Returns without waiting for a look in progress.
    void stop();
    // Returns once a look in progress, and the start it makes, is over: for
    // an owner that goes, so that nothing of the capture outlives it.
    void waitForLook();

    // The name the choice goes by, for people.
    const std::string& shownName() const { return shownName_; }

private:
    void lookSoon();
    void look(bool afterFailure = false);
    void ended(const std::string& reason);
    void announceStart();
    void report(Status status);
    void tell(Status status);

    const std::shared_ptr<AudioSourceCapture> capture_;
    const StatusHandler onStatus_;
    const std::string shownName_;
    std::atomic<bool> stopped_{false};
    std::atomic<bool> lookQueued_{false};
    // The queue's and the capture's reports take turns under it, and a
    // capture's start is told before its end, its end before the next start.
    std::mutex reportMutex_;
    enum class CaptureState { idle, starting, running };
    CaptureState state_ = CaptureState::idle;
    bool captured_ = false;  // a capture of it has run
    std::optional<Status> last_;

    platform::SerialQueue queue_{"com.ondaline.appfollow"};
    // Used on the queue only. The watch goes first: its news, on the
    // server's thread, reaches this object only while it exists.
    platform::Timer retry_ = queue_.makeTimer();
    ApplicationTracker tracker_;
    std::unique_ptr<platform::ApplicationsWatch> watch_;
};

}  // namespace ondaline::sources
