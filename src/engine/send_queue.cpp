#include "engine/send_queue.h"

namespace ondaline {

SendQueue::Append SendQueue::append(ByteView message)
{
    std::lock_guard lock(sendLock_);
    if (stalled_) return Append::refused;
    appendBytes(pendingSendData_, message);
    sendQueueBytes_ += static_cast<std::int64_t>(message.size());
    if (sendQueueBytes_ > stallLimitBytes) {
        stalled_ = true;
        return Append::nowStalled;
    }
    return Append::queued;
}

std::optional<SendQueue::Batch> SendQueue::take()
{
    std::lock_guard lock(sendLock_);
    if (pendingSendData_.empty()) return std::nullopt;
    Batch batch{std::move(pendingSendData_), generation_};
    pendingSendData_ = Bytes();
    return batch;
}

void SendQueue::batchFinished(std::size_t byteCount, std::uint64_t generation)
{
    std::lock_guard lock(sendLock_);
    if (generation != generation_) return;
    sendQueueBytes_ -= static_cast<std::int64_t>(byteCount);
}

void SendQueue::reset()
{
    std::lock_guard lock(sendLock_);
    pendingSendData_ = Bytes();
    sendQueueBytes_ = 0;
    ++generation_;
    stalled_ = false;
}

std::int64_t SendQueue::sendQueueBytes() const
{
    std::lock_guard lock(sendLock_);
    return sendQueueBytes_;
}

std::size_t SendQueue::pendingBytes() const
{
    std::lock_guard lock(sendLock_);
    return pendingSendData_.size();
}

}  // namespace ondaline
