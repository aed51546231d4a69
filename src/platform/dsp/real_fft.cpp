#include "platform/dsp/real_fft.h"

#include <fftw3.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <new>
#include <numbers>
#include <stdexcept>

namespace ondaline::platform {

namespace {

// FFTW's planner is not thread-safe; executing a finished plan is.
std::mutex& plannerLock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

std::vector<float> normalisedHannWindow(std::size_t size)
{
    std::vector<float> window(size);
    for (std::size_t n = 0; n < size; ++n) {
        const double phase = 2 * std::numbers::pi * static_cast<double>(n) / static_cast<double>(size);
        window[n] = static_cast<float>(0.8165 * (1 - std::cos(phase)));
    }
    return window;
}

// FFTW's plan and aligned buffers, released together.
struct RealFFT::Plan {
    float* input = nullptr;
    fftwf_complex* output = nullptr;
    fftwf_plan plan = nullptr;

    explicit Plan(std::size_t size)
    {
        std::lock_guard lock(plannerLock());
        input = fftwf_alloc_real(size);
        output = fftwf_alloc_complex(size / 2 + 1);
        // Estimated rather than measured: construction stays quick and the
        // result does not depend on the machine's timing.
        if (input && output) plan = fftwf_plan_dft_r2c_1d(static_cast<int>(size), input, output, FFTW_ESTIMATE);
    }
    ~Plan()
    {
        std::lock_guard lock(plannerLock());
        if (plan) fftwf_destroy_plan(plan);
        fftwf_free(input);
        fftwf_free(output);
    }
    Plan(const Plan&) = delete;
    Plan& operator=(const Plan&) = delete;
};

RealFFT::RealFFT(std::size_t size) : size_(size)
{
    if (size < 2 || (size & (size - 1)) != 0)
        throw std::invalid_argument("FFT size must be a power of two of at least 2");
    plan_ = std::make_unique<Plan>(size);
    if (!plan_->plan) throw std::bad_alloc();
}

RealFFT::~RealFFT() = default;

void RealFFT::squaredMagnitudes(std::span<const float> samples, std::span<float> out)
{
    if (samples.size() != size_ || out.size() != size_ / 2)
        throw std::invalid_argument("FFT buffer sizes do not match");
    std::copy(samples.begin(), samples.end(), plan_->input);
    fftwf_execute(plan_->plan);
    const fftwf_complex* bins = plan_->output;
    // Twice each value, squared: four times the plain DFT's power.
    const float dc = 2 * bins[0][0], nyquist = 2 * bins[size_ / 2][0];
    out[0] = dc * dc + nyquist * nyquist;
    for (std::size_t k = 1; k < size_ / 2; ++k) {
        const float re = 2 * bins[k][0], im = 2 * bins[k][1];
        out[k] = re * re + im * im;
    }
}

}  // namespace ondaline::platform
