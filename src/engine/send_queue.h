#pragma once

#include "base/bytes.h"

#include <cstdint>
#include <mutex>
#include <optional>

namespace ondaline {

// The RTMP send queue: whole serialised messages wait here until the next
// flush hands them to the connection in one batch.
//
// sendQueueBytes counts a byte from the moment it is queued until the
// connection reports it written, so the video back-pressure sees what a slow
// link really holds. Past stallLimitBytes the link counts as stalled: the
// append that crosses the limit says so (once), and further messages are
// refused until reset(), when the engine has torn the connection down.
class SendQueue {
public:
    static constexpr std::int64_t stallLimitBytes = 8 * 1024 * 1024;

    enum class Append { queued, nowStalled, refused };

    struct Batch {
        Bytes bytes;
        std::uint64_t generation;  // ties the completion to this connection attempt
    };

    // Appends one message whole; never interleaves with another's bytes.
    Append append(ByteView message);

    // Moves everything pending into one batch; absent when nothing waits.
    std::optional<Batch> take();

    // The connection wrote (or dropped) a batch taken earlier.
    void batchFinished(std::size_t byteCount, std::uint64_t generation);

    // Empties the queue for a new connection attempt; completions of batches
    // taken before no longer count.
    void reset();

    std::int64_t sendQueueBytes() const;
    std::size_t pendingBytes() const;

private:
    mutable std::mutex sendLock_;
    Bytes pendingSendData_;
    std::int64_t sendQueueBytes_ = 0;  // pending plus in flight
    std::uint64_t generation_ = 0;
    bool stalled_ = false;
};

}  // namespace ondaline
