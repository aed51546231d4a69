#pragma once

#include "base/bytes.h"

#include <cstddef>
#include <mutex>
#include <utility>

namespace ondaline::media {

// The PCM waiting for the encoder: producers append at the end, the packet
// loop takes it all and puts a remainder back in front. Bounded: past the
// capacity the oldest whole frames are dropped, so a sender faster than real
// time cannot grow it without limit.
class PCMRing {
public:
    // Capacity in whole frames of `bytesPerFrame`; takes effect with the next append.
    void setCapacity(std::size_t bytesPerFrame, std::size_t frames);

    // Returns how many frames the append pushed out.
    std::size_t append(ByteView bytes);

    // Everything waiting; `remainderBytes` (when given) gets how much of its
    // front is the remainder last put back: less, or none, when the ring
    // was full or cleared meanwhile.
    Bytes takeAll(std::size_t* remainderBytes = nullptr);
    void putBack(Bytes remainder);  // goes in front of what was appended meanwhile
    void clear();
    std::size_t size() const;

private:
    mutable std::mutex pcmLock_;
    Bytes pcmRingBuffer_;
    std::size_t remainderBytes_ = 0;  // the front of the buffer that was put back
    std::size_t bytesPerFrame_ = 8;
    std::size_t capacityBytes_ = 8 * 44100 * 5;
};

}  // namespace ondaline::media
