#include "media/pcm_ring.h"

#include <algorithm>

namespace ondaline::media {

void PCMRing::setCapacity(std::size_t bytesPerFrame, std::size_t frames)
{
    std::lock_guard lock(pcmLock_);
    bytesPerFrame_ = bytesPerFrame == 0 ? 1 : bytesPerFrame;
    capacityBytes_ = bytesPerFrame_ * frames;
}

std::size_t PCMRing::append(ByteView bytes)
{
    std::lock_guard lock(pcmLock_);
    appendBytes(pcmRingBuffer_, bytes);
    if (pcmRingBuffer_.size() <= capacityBytes_) return 0;
    // Drop whole frames from the front, so the frame alignment stays.
    const std::size_t excess = pcmRingBuffer_.size() - capacityBytes_;
    const std::size_t frames = (excess + bytesPerFrame_ - 1) / bytesPerFrame_;
    const std::size_t dropped = std::min(frames * bytesPerFrame_, pcmRingBuffer_.size());
    pcmRingBuffer_.erase(pcmRingBuffer_.begin(), pcmRingBuffer_.begin() + static_cast<std::ptrdiff_t>(dropped));
    remainderBytes_ -= std::min(remainderBytes_, dropped);
    return dropped / bytesPerFrame_;
}

Bytes PCMRing::takeAll(std::size_t* remainderBytes)
{
    std::lock_guard lock(pcmLock_);
    if (remainderBytes) *remainderBytes = remainderBytes_;
    remainderBytes_ = 0;
    return std::exchange(pcmRingBuffer_, Bytes());
}

void PCMRing::putBack(Bytes remainder)
{
    if (remainder.empty()) return;
    std::lock_guard lock(pcmLock_);
    remainderBytes_ = remainder.size();
    remainder.insert(remainder.end(), pcmRingBuffer_.begin(), pcmRingBuffer_.end());
    pcmRingBuffer_ = std::move(remainder);
}

void PCMRing::clear()
{
    std::lock_guard lock(pcmLock_);
    pcmRingBuffer_ = Bytes();
    remainderBytes_ = 0;
}

std::size_t PCMRing::size() const
{
    std::lock_guard lock(pcmLock_);
    return pcmRingBuffer_.size();
}

}  // namespace ondaline::media
