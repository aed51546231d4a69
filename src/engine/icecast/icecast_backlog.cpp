#include "engine/icecast/icecast_backlog.h"

namespace ondaline::icecast {

void Backlog::handed(std::size_t bytes, double now)
{
    std::lock_guard lock(lock_);
    if (waitingBytes_ <= 0) lastProgress_ = now;
    waitingBytes_ += static_cast<std::int64_t>(bytes);
}

void Backlog::finished(std::size_t bytes, bool written, double now)
{
    std::lock_guard lock(lock_);
    waitingBytes_ -= static_cast<std::int64_t>(bytes);
    if (written) lastProgress_ = now;
}

std::optional<std::string> Backlog::stall(double now) const
{
    std::lock_guard lock(lock_);
    if (waitingBytes_ > limitBytes) return "more than 8 MB waiting to be sent";
    if (waitingBytes_ > 0 && now - lastProgress_ >= silenceLimitSec) return "nothing could be sent for 10s";
    return std::nullopt;
}

}  // namespace ondaline::icecast
