#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace ondaline::icecast {

// What one Icecast source connection has been handed and not yet written.
// A link that died or is far too narrow shows here: bytes pile up, or wait
// while nothing at all gets written. Times are the engine clock's seconds.
class Backlog {
public:
    // As over RTMP: past this the link counts as stalled.
    static constexpr std::int64_t limitBytes = 8 * 1024 * 1024;
    // Icecast drops a source that sent nothing for 10 s (its default
    // source-timeout); once the kernel has taken nothing for as long, the
    // server has heard nothing for longer still.
    static constexpr double silenceLimitSec = 10.0;

    void handed(std::size_t bytes, double now);
    // The connection wrote the bytes, or failed to (`written` false).
    void finished(std::size_t bytes, bool written, double now);

    // Why the link counts as stalled at `now`; absent while it does not.
    std::optional<std::string> stall(double now) const;

private:
    mutable std::mutex lock_;
    std::int64_t waitingBytes_ = 0;
    double lastProgress_ = 0;  // the last write, or when the wait began
};

}  // namespace ondaline::icecast
