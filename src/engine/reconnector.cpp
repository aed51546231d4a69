#include "engine/reconnector.h"

#include "base/print.h"

#include <algorithm>

namespace ondaline {

std::chrono::seconds Reconnector::delayFor(std::int64_t attempt)
{
    return std::chrono::seconds(std::min<std::int64_t>(10 + 5 * (attempt - 1), 30));
}

void Reconnector::attemptReconnect()
{
    const std::string limit = std::to_string(maxReconnectAttempts);
    if (attempts() >= maxReconnectAttempts) {
        print("Ondaline: Max reconnect attempts (" + limit + ") reached, giving up");
        hooks_.setState(StreamState::error);
        wasPublishing_ = false;
        hooks_.notifyError(NoticeKind::failure,
                           [limit] { return "Disconnected after " + limit + " reconnect attempts"; });
        return;
    }

    const std::int64_t attempt = attempts_.fetch_add(1) + 1;
    const auto delay = delayFor(attempt);
    print("Ondaline: Reconnecting in " + std::to_string(delay.count()) + "s (attempt " + std::to_string(attempt) + "/" +
          limit + ")…");
    hooks_.setState(StreamState::idle);
    // Armed before the notice goes out: whoever hears "Reconnecting" finds
    // the retry pending (the dashboard's Stop asks for it).
    hooks_.schedule(delay, [this] {
        print("Ondaline: Attempting reconnect #" + std::to_string(attempts()));
        hooks_.connect();
    });
    hooks_.notifyError(NoticeKind::retrying,
                       [this, limit] { return "Reconnecting (" + std::to_string(attempts()) + "/" + limit + ")…"; });
}

void Reconnector::cancelReconnect()
{
    hooks_.cancelScheduled();
    attempts_ = 0;
    wasPublishing_ = false;
}

void Reconnector::streamWentLive()
{
    attempts_ = 0;
    wasPublishing_ = true;
}

}  // namespace ondaline
