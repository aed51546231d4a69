#pragma once

// The real FFT and window the analysers use, scaled the way the levels they
// compute expect: each bin's squared magnitude comes out at four times the
// plain DFT's (a packed real FFT gives every bin at twice its value), and the
// Hann window is the normalised one, 0.8165 × (1 − cos(2πn/N)).

#include <cstddef>
#include <memory>
#include <span>
#include <vector>

namespace ondaline::platform {

// The normalised Hann window over `size` points, n = 0 … size − 1.
std::vector<float> normalisedHannWindow(std::size_t size);

// One forward real FFT of a fixed power-of-two size. The plan and buffers are
// made once; `squaredMagnitudes` may then run as often as wanted, from one
// thread at a time per object.
class RealFFT {
public:
    explicit RealFFT(std::size_t size);  // throws std::invalid_argument, std::bad_alloc
    ~RealFFT();
    RealFFT(const RealFFT&) = delete;
    RealFFT& operator=(const RealFFT&) = delete;

    std::size_t size() const { return size_; }

    // `samples` holds size() values; `out` receives size() / 2 values: bins
    // 1 … size/2 − 1 as 4 × |X[k]|², and bin 0 as the packed pair
    // 4 × (X[0]² + X[size/2]²) (DC and Nyquist share it).
    void squaredMagnitudes(std::span<const float> samples, std::span<float> out);

private:
    struct Plan;
    std::size_t size_;
    std::unique_ptr<Plan> plan_;
};

}  // namespace ondaline::platform
